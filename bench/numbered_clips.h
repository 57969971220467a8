#pragma once

// Clips for the video benchmarks whose every picture carries its number, so
// that a benchmark can tell from the pixels which picture it got: a band
// across the middle of the picture (the middle eighth of its height, so that
// a picture drawn upside down reads the same) holds kBars bars, bar k white
// where bit k of (tag << kPictureBits | picture number) is set, black
// elsewhere. Above and below, FFmpeg's moving test pattern, so that the
// pictures cost what real ones cost to encode and decode.

#include <cstdint>
#include <cstdlib>
#include <string>

namespace NumberedClips {

constexpr int kPictureBits = 9; // 512 pictures: over 20 s at 25 per second
constexpr int kTagBits = 3;     // a clip's own number, 0-7
constexpr int kBars = kPictureBits + kTagBits;

struct Recipe {
    int width = 1920;
    int height = 1080;
    int fps = 25;
    int seconds = 4;
    // Key picture every `gop` pictures; `fixed_gop` also forbids the encoder
    // any key picture in between (scene cuts, a shorter minimum).
    int gop = 25;
    bool fixed_gop = false;
    int tag = 0;
    // ffmpeg's -f: "h264" (raw stream) or "mp4".
    std::string format = "h264";
};

inline std::string barsFilter(int tag)
{
    const std::string band = "y=ih*7/16:h=ih/8:color=";
    std::string filter = "drawbox=x=0:w=iw:" + band + "black:t=fill";
    for (int bar = 0; bar < kBars; ++bar) {
        const bool tag_bar = bar >= kPictureBits;
        if (tag_bar && (tag >> (bar - kPictureBits) & 1) == 0)
            continue;
        filter += ",drawbox=x=iw*" + std::to_string(bar) + "/" + std::to_string(kBars) + ":w=iw/" +
                  std::to_string(kBars) + ":" + band + "white:t=fill";
        if (!tag_bar)
            filter += ":enable='bitand(n\\," + std::to_string(1 << bar) + ")'";
    }
    return filter;
}

// libx264 with its defaults otherwise (B pictures included).
inline bool makeClip(const std::string& path, const Recipe& r)
{
    std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=" +
                          std::to_string(r.width) + "x" + std::to_string(r.height) +
                          ":r=" + std::to_string(r.fps) + ":d=" + std::to_string(r.seconds) +
                          " -vf \"" + barsFilter(r.tag) + "\" -c:v libx264 -preset veryfast" +
                          " -pix_fmt yuv420p -g " + std::to_string(r.gop);
    if (r.fixed_gop)
        command += " -keyint_min " + std::to_string(r.gop) + " -sc_threshold 0";
    command += " -f " + r.format + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

struct Reading {
    int tag = 0;
    int picture = 0;
};

// What a row through the band says: `row` holds `width` samples `step`
// bytes apart (luma: 1; a channel of RGBA: 4). False where a bar is neither
// black nor white (no numbered picture there).
inline bool readRow(const uint8_t* row, int width, int step, Reading* reading)
{
    int number = 0;
    for (int bar = 0; bar < kBars; ++bar) {
        const int sample = row[static_cast<size_t>(width * (2 * bar + 1) / (2 * kBars)) * step];
        if (sample > 160)
            number |= 1 << bar;
        else if (sample > 96)
            return false;
    }
    reading->picture = number & ((1 << kPictureBits) - 1);
    reading->tag = number >> kPictureBits;
    return true;
}

} // namespace NumberedClips
