#!/usr/bin/env python3
"""A tiny lighting desk for the demo: sends ArtDmx frames that arrange the four
demo canvases (background, spinning GIF, video, ring of copies) and slowly
animate them. Usage: scripts/demo-desk.py [ADDRESS] [--seconds N]
ADDRESS defaults to 127.0.0.1 (the server on this machine); the demo
config.txt listens to sub-net 0, universe 0 from channel 1."""
import argparse
import math
import socket
import time

ART_DMX = b"Art-Net\x00" + bytes([0x00, 0x50, 0, 14])  # OpDmx, protocol 14
PORT = 6454


def canvas(content, alpha=255, x=128, y=128, width=255, height=0, angle=0,
           copies=0, ring_angle=0, radius=0, rgb=(255, 255, 255), strobe=0,
           speed=127, ring_speed=127):
    block = [content, alpha, x, y, width, height, angle, copies, ring_angle,
             radius, rgb[0], rgb[1], rgb[2], 0, strobe, speed, ring_speed, 0, 0, 0]
    return bytes(int(v) & 0xFF for v in block)


def frame(t):
    pulse = 0.5 + 0.5 * math.sin(t)
    channels = (
        canvas(0, height=255)                                    # background picture
        + canvas(10, x=60, y=90, width=40, speed=140)            # GIF, turning
        + canvas(20, x=190, y=170, width=70)                     # the video clip
        + canvas(4, x=128, y=128, width=25, copies=8 * 4, radius=40 + 30 * pulse,
                 ring_speed=135, rgb=(255, int(128 + 127 * pulse), 255))  # ring of copies
    )
    sequence = bytes([int(t * 10) % 255 + 1, 0, 0x00, 0x00])  # sequence, physical, SubUni, Net
    length = len(channels)
    return ART_DMX[:12] + sequence + bytes([length >> 8, length & 0xFF]) + channels


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("address", nargs="?", default="127.0.0.1")
    parser.add_argument("--seconds", type=float, default=0, help="stop after N seconds (0: run until Ctrl-C)")
    args = parser.parse_args()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    if args.address.endswith(".255"):
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    start = time.monotonic()
    try:
        while args.seconds <= 0 or time.monotonic() - start < args.seconds:
            sock.sendto(frame(time.monotonic() - start), (args.address, PORT))
            time.sleep(1 / 30)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
