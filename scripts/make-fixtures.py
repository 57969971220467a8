#!/usr/bin/env python3
"""Makes the desk fixture profiles in fixtures/ from the DMX channel table of
docs/operating.md, so the manual stays the one place the layout is written.

  scripts/make-fixtures.py          write fixtures/Spectrafox-Canvas.qxf and .gdtf
  scripts/make-fixtures.py --check  fail when they differ from what the manual
                                    gives, or do not hold together

A new mode is one entry in MODES: its name, the heading row of its table in
the manual, and optionally the heading of a table whose rows replace those
channels (functions the tables name that KINDS does not know are patched as
generic effect channels; a function "X fine" right after "X" is its fine byte)."""

import io
import re
import sys
import uuid
import zipfile
import xml.etree.ElementTree as ET
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
MANUAL = ROOT / "docs" / "operating.md"
OUT = ROOT / "fixtures"
STEM = "Spectrafox-Canvas"
MANUFACTURER = "Spectrafox"
# QLC+ also finds "Manufacturer-Model.qxf" beside a workspace: the file name.
MODEL = "Canvas"
# Fixed, so the file is the same on every run and a desk knows it again.
FIXTURE_TYPE_ID = "6F1C2A0E-5B7D-4C35-9E0A-3D8B1F4A7C21"

# (mode name, the line that starts its channel table in the manual)
MODES = [
    ("Canvas 20ch", "| Ch | Function | Values |", None),
    ("Canvas cue 20ch", "| Ch | Function | Values |", "| Ch | With VIDEO_ON_CUE=1 | Values |"),
]

# What a desk should make of each function named in the manual's table:
# the QLC+ group (and colour), the GDTF attribute, its feature group and
# feature, and the value ranges worth a name (the rest is one range).
KINDS = {
    "content (picture slot)": ("Gobo", None, "MediaContent1", "Video", "Media", []),
    "dimmer (opacity)": ("Intensity", None, "Dimmer", "Dimmer", "Dimmer", []),
    "position X": ("Pan", None, "XYZ_X", "Position", "XYZ", []),
    "position Y": ("Tilt", None, "XYZ_Y", "Position", "XYZ", []),
    "width": ("Beam", None, "Scale_X", "Position", "Scale", []),
    "height": ("Beam", None, "Scale_Y", "Position", "Scale", [(0, 0, "Keep the picture's proportions"), (1, 255, "Height")]),
    "rotation angle": ("Effect", None, "Rot_Z", "Position", "Rotation", [(0, 0, "Use rotation speed"), (1, 255, "Fixed angle")]),
    "copies on a ring": ("Effect", None, "RingCopies", "Control", "Ring", [(0, 3, "One picture"), (4, 255, "1-63 copies")]),
    "ring angle": ("Effect", None, "RingAngle", "Control", "Ring", [(0, 0, "Use ring rotation speed"), (1, 255, "Fixed ring angle")]),
    "ring radius": ("Effect", None, "RingRadius", "Control", "Ring", []),
    "red": ("Intensity", "Red", "ColorAdd_R", "Color", "RGB", []),
    "green": ("Intensity", "Green", "ColorAdd_G", "Color", "RGB", []),
    "blue": ("Intensity", "Blue", "ColorAdd_B", "Color", "RGB", []),
    "strobe": ("Shutter", None, "Shutter1Strobe", "Beam", "Beam", [(0, 0, "Off"), (1, 255, "Strobe slow to fast")]),
    "rotation speed": ("Speed", None, "RotationSpeed", "Control", "Speed", [
        (0, 119, "Turn one way, fast to slow"), (120, 126, "Stop where it is"), (127, 127, "Stop at angle 0"),
        (128, 134, "Stop where it is"), (135, 255, "Turn the other way, slow to fast")]),
    "play mode": ("Effect", None, "PlayMode", "Control", "Media", [
        (0, 31, "Loop"), (32, 63, "Once, holding the last picture"), (64, 95, "Pause"),
        (96, 127, "Scrub to the position"), (128, 255, "Loop")]),
    "play speed": ("Speed", None, "PlaySpeed", "Control", "Media", [
        (0, 0, "Normal speed"), (1, 255, "A crawl to almost double (128 normal)")]),
    "play position": ("Effect", None, "PlayBegin", "Control", "Media", []),
    "play position fine": ("Effect", None, "PlayBegin", "Control", "Media", []),
    "ring rotation speed": ("Speed", None, "RingRotationSpeed", "Control", "Speed", [
        (0, 119, "Turn one way, fast to slow"), (120, 126, "Stop where it is"), (127, 127, "Stop at angle 0"),
        (128, 134, "Stop where it is"), (135, 255, "Turn the other way, slow to fast")]),
}
GENERIC = ("Effect", None, None, "Control", "Control", [])
# The manual's "Values" text of each function, filled by channel_table.
VALUES = {}


def title(function):
    return function[0].upper() + function[1:]


def attribute_of(function):
    if function is None:
        return "NoFeature"
    kind = KINDS.get(function, GENERIC)
    return kind[2] or "".join(w.capitalize() for w in re.findall(r"[A-Za-z0-9]+", function))


def is_fine(function):
    return function is not None and function.endswith(" fine")


def mode_channels(heading, replacing):
    """The channels of a table, with those of a second table put in their place."""
    channels = dict(channel_table(heading))
    if replacing:
        channels.update(channel_table(replacing))
    return sorted(channels.items())


def channel_table(heading):
    """[(channel number from 1, function)]; None for an unused channel, which
    still counts: a desk patches the next fixture after the last channel."""
    lines = MANUAL.read_text(encoding="utf-8").replace("`", "").splitlines()
    start = lines.index(heading)
    channels = []
    for line in lines[start + 2:]:
        if not line.startswith("|"):
            break
        cells = [c.strip() for c in line.strip("|").split("|")]
        numbers, function, values = cells[0], cells[1], cells[2].replace("`", "")
        first, _, last = numbers.partition("-")
        span = range(int(first), int(last or first) + 1)
        if function.startswith("("):  # (unused)
            channels += [(number, None) for number in span]
            continue
        names = [n.strip() for n in function.split(",")] if len(span) > 1 else [function]
        if len(names) != len(span):
            sys.exit(f"make-fixtures: row '{line}' names {len(names)} functions for {len(span)} channels")
        channels += zip(span, names)
        for name in names:
            VALUES[name] = values
    return channels


def ranges_of(function):
    if function is None:
        return [(0, 255, "Not used")]
    named = KINDS.get(function, GENERIC)[5]
    return named or [(0, 255, VALUES.get(function) or title(function))]


def indent(element):
    ET.indent(element, space=" ")
    return element


def qxf(modes):
    ET.register_namespace("", "http://www.qlcplus.org/FixtureDefinition")
    ns = "{http://www.qlcplus.org/FixtureDefinition}"
    root = ET.Element(ns + "FixtureDefinition")
    creator = ET.SubElement(root, ns + "Creator")
    ET.SubElement(creator, ns + "Name").text = "Q Light Controller Plus"
    ET.SubElement(creator, ns + "Version").text = "4.12.6"
    ET.SubElement(creator, ns + "Author").text = "scripts/make-fixtures.py"
    ET.SubElement(root, ns + "Manufacturer").text = MANUFACTURER
    ET.SubElement(root, ns + "Model").text = MODEL
    ET.SubElement(root, ns + "Type").text = "Other"
    defined = []
    for _, channels in modes:
        for _, function in channels:
            if function is None or function in defined:
                continue
            defined.append(function)
            group, colour = KINDS.get(function, GENERIC)[:2]
            channel = ET.SubElement(root, ns + "Channel", Name=title(function))
            ET.SubElement(channel, ns + "Group", Byte="1" if is_fine(function) else "0").text = group
            if colour:
                ET.SubElement(channel, ns + "Colour").text = colour
            for low, high, text in ranges_of(function):
                ET.SubElement(channel, ns + "Capability", Min=str(low), Max=str(high)).text = text
    for name, channels in modes:
        mode = ET.SubElement(root, ns + "Mode", Name=name)
        for number, function in channels:
            if function is None:
                function = f"Unused {number}"
                if function not in defined:
                    defined.append(function)
                    unused = ET.Element(ns + "Channel", Name=function)
                    ET.SubElement(unused, ns + "Group", Byte="0").text = "Nothing"
                    ET.SubElement(unused, ns + "Capability", Min="0", Max="255").text = "Not used"
                    root.insert(list(root).index(mode), unused)
            ET.SubElement(mode, ns + "Channel", Number=str(number - 1)).text = title(function)
    body = ET.tostring(indent(root), encoding="unicode")
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE FixtureDefinition>\n' + body + "\n").encode()


def dmx(value):
    return f"{value}/1"


def gdtf_description(modes):
    root = ET.Element("GDTF", DataVersion="1.1")
    fixture = ET.SubElement(root, "FixtureType", Name=MODEL, ShortName="Canvas", LongName=MODEL,
                            Manufacturer=MANUFACTURER,
                            Description="One DMX-controlled canvas of a Spectrafox projector content server",
                            FixtureTypeID=FIXTURE_TYPE_ID, Thumbnail="", RefFT="", CanHaveChildren="No")
    definitions = ET.SubElement(fixture, "AttributeDefinitions")
    ET.SubElement(definitions, "ActivationGroups")
    groups = ET.SubElement(definitions, "FeatureGroups")
    attributes = ET.SubElement(definitions, "Attributes")
    features = {}
    seen = set()
    for _, channels in modes:
        for _, function in channels:
            attribute = attribute_of(function)
            if attribute in seen:
                continue
            seen.add(attribute)
            group, feature = KINDS.get(function, GENERIC)[3:5]
            features.setdefault(group, [])
            if feature not in features[group]:
                features[group].append(feature)
            ET.SubElement(attributes, "Attribute", Name=attribute, Pretty=title(function or "Unused")[:16],
                          Feature=f"{group}.{feature}", PhysicalUnit="None")
    for group, names in features.items():
        element = ET.SubElement(groups, "FeatureGroup", Name=group, Pretty=group)
        for name in names:
            ET.SubElement(element, "Feature", Name=name)
    for tag in ("Wheels", "PhysicalDescriptions"):
        ET.SubElement(fixture, tag)
    models = ET.SubElement(fixture, "Models")
    ET.SubElement(models, "Model", Name="Body", Length="0.1", Width="0.1", Height="0.1", PrimitiveType="Cube")
    geometries = ET.SubElement(fixture, "Geometries")
    ET.SubElement(geometries, "Geometry", Name="Body", Model="Body",
                  Position="{1,0,0,0}{0,1,0,0}{0,0,1,0}{0,0,0,1}")
    dmx_modes = ET.SubElement(fixture, "DMXModes")
    for name, channels in modes:
        mode = ET.SubElement(dmx_modes, "DMXMode", Name=name, Geometry="Body")
        dmx_channels = ET.SubElement(mode, "DMXChannels")
        for index, (number, function) in enumerate(channels):
            if is_fine(function):
                continue  # the fine byte of the channel before
            attribute = attribute_of(function)
            fine = index + 1 < len(channels) and is_fine(channels[index + 1][1])
            offset = f"{number},{number + 1}" if fine else str(number)
            channel = ET.SubElement(dmx_channels, "DMXChannel", DMXBreak="1", Offset=offset,
                                    Default=dmx(0), Highlight="None", Geometry="Body")
            logical = ET.SubElement(channel, "LogicalChannel", Attribute=attribute, Snap="No", Master="None",
                                    MibFade="0", DMXChangeTimeLimit="0")
            ranges = ranges_of(function)
            function_element = ET.SubElement(logical, "ChannelFunction", Name=title(function or "Unused")[:32],
                                             Attribute=attribute, OriginalAttribute="", DMXFrom=dmx(0),
                                             Default=dmx(0), PhysicalFrom="0", PhysicalTo="1", RealFade="0",
                                             RealAcceleration="0")
            if len(ranges) > 1:
                for low, _, text in ranges:
                    ET.SubElement(function_element, "ChannelSet", Name=text, DMXFrom=dmx(low))
        ET.SubElement(mode, "Relations")
        ET.SubElement(mode, "FTMacros")
    for tag in ("Revisions", "FTPresets", "Protocols"):
        ET.SubElement(fixture, tag)
    body = ET.tostring(indent(root), encoding="unicode")
    return ('<?xml version="1.0" encoding="UTF-8" standalone="no" ?>\n' + body + "\n").encode()


def gdtf(modes):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        # A fixed time stamp: the same manual gives the same bytes.
        info = zipfile.ZipInfo("description.xml", date_time=(2026, 1, 1, 0, 0, 0))
        info.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(info, gdtf_description(modes))
    return out.getvalue()


def problems(modes, qxf_bytes, gdtf_bytes):
    """What a desk would trip over: dangling names, doubled offsets."""
    found = []
    ns = {"q": "http://www.qlcplus.org/FixtureDefinition"}
    q = ET.fromstring(qxf_bytes)
    names = {c.get("Name") for c in q.findall("q:Channel", ns)}
    for mode in q.findall("q:Mode", ns):
        numbers = [int(c.get("Number")) for c in mode.findall("q:Channel", ns)]
        if numbers != list(range(len(numbers))):
            found.append(f"qxf mode {mode.get('Name')}: channel numbers {numbers}")
        found += [f"qxf mode {mode.get('Name')}: no channel {c.text}" for c in mode.findall("q:Channel", ns)
                  if c.text not in names]
    for channel in q.findall("q:Channel", ns):
        caps = [(int(c.get("Min")), int(c.get("Max"))) for c in channel.findall("q:Capability", ns)]
        covered = [v for low, high in caps for v in range(low, high + 1)]
        if covered != list(range(256)):
            found.append(f"qxf channel {channel.get('Name')}: capabilities do not cover 0-255 once")
    with zipfile.ZipFile(io.BytesIO(gdtf_bytes)) as archive:
        g = ET.fromstring(archive.read("description.xml"))
    features = {f"{fg.get('Name')}.{f.get('Name')}" for fg in g.iter("FeatureGroup") for f in fg.iter("Feature")}
    attributes = {a.get("Name") for a in g.iter("Attribute")}
    geometries = {x.get("Name") for x in g.iter("Geometry")}
    found += [f"gdtf attribute {a.get('Name')}: no feature {a.get('Feature')}" for a in g.iter("Attribute")
              if a.get("Feature") not in features]
    for mode, (name, channels) in zip(g.iter("DMXMode"), modes):
        offsets = [int(o) for c in mode.iter("DMXChannel") for o in c.get("Offset").split(",")]
        if offsets != [n for n, _ in channels] or len(set(offsets)) != len(offsets):
            found.append(f"gdtf mode {name}: offsets {offsets}")
        for channel in mode.iter("DMXChannel"):
            if channel.get("Geometry") not in geometries:
                found.append(f"gdtf channel {channel.get('Offset')}: no geometry {channel.get('Geometry')}")
            for logical in channel.iter("LogicalChannel"):
                if logical.get("Attribute") not in attributes:
                    found.append(f"gdtf channel {channel.get('Offset')}: no attribute {logical.get('Attribute')}")
            for function in channel.iter("ChannelFunction"):
                starts = [int(s.get("DMXFrom").split("/")[0]) for s in function.iter("ChannelSet")]
                if starts != sorted(set(starts)):
                    found.append(f"gdtf channel {channel.get('Offset')}: channel sets out of order")
    return found


def main():
    modes = [(name, mode_channels(heading, replacing)) for name, heading, replacing in MODES]
    files = {OUT / f"{STEM}.qxf": qxf(modes), OUT / f"{STEM}.gdtf": gdtf(modes)}
    found = problems(modes, *files.values())
    if "--check" in sys.argv[1:]:
        found += [f"{path.relative_to(ROOT)} is not what the manual's table gives (run scripts/make-fixtures.py)"
                  for path, data in files.items() if not path.exists() or path.read_bytes() != data]
        for line in found:
            print("make-fixtures:", line, file=sys.stderr)
        return 1 if found else 0
    if found:
        for line in found:
            print("make-fixtures:", line, file=sys.stderr)
        return 1
    OUT.mkdir(exist_ok=True)
    for path, data in files.items():
        path.write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
