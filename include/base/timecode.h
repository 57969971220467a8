#pragma once

#include <string>

namespace Spectrafox {

// One SMPTE-style timecode address and its frame-rate type, as lighting desks
// send it. Types 0 to 3: film 24, EBU 25, drop-frame 29.97, SMPTE 30.
struct Timecode {
    enum Type { Film24 = 0, Ebu25 = 1, DropFrame2997 = 2, Smpte30 = 3 };
    static constexpr int kTypeCount = 4;

    int hours = 0;   // 0-23
    int minutes = 0; // 0-59
    int seconds = 0; // 0-59
    int frames = 0;  // 0 to the type's nominal rate - 1
    Type type = Ebu25;

    // Every field within its range for the type.
    bool valid() const;
    // "HH:MM:SS:FF", with ';' before the frames for drop-frame.
    std::string text() const;
    // Seconds since 00:00:00:00 (drop-frame labels counted as such).
    double toSeconds() const;
    // The address of the frame running at `seconds` (taken modulo one day).
    static Timecode fromSeconds(double seconds, Type type);
    // How long the addresses take to come round from 23:59:59 to 00:00:00:
    // a day, or for drop-frame a day of its labels (a little less).
    static double daySeconds(Type type);

    // Frames per second as labelled (30 for drop-frame) and as run (29.97...).
    static int nominalRate(Type type);
    static double frameRate(Type type);
    // 24, 25, 29.97 or 30 to its type; false for any other rate.
    static bool typeForRate(double rate, Type* type);
};

} // namespace Spectrafox
