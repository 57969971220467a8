#pragma once

#include <functional>

namespace Spectrafox {

// Where animated pictures ask "what is the show time now". Without a source
// (no timecode configured) each picture plays by its own clock from the
// moment it was loaded; with one, a picture started at start-up shows the
// position (show time - 0) wrapped to its length, so every node that shares
// the show time shows the same frame.
//
// The show time comes round to 0 after a day (the timecode's); what was
// called before that midnight goes on from where it was.
//
// main installs the source before the pictures load and removes it after
// they are gone; in between only the render thread reads it.
class ShowTime {
public:
    using Source = std::function<double()>; // seconds

    // `day`: how long the show time takes to come round; none: never.
    static void install(Source source, Source day = {});
    static void remove();
    static bool installed();
    // The installed source's show time; 0 without one.
    static double now();
    // The installed day; 0: the time never comes round.
    static double daySeconds();
    // Whether a time source that went from `before` to `after` came round
    // through its midnight (back by more than half a day, as no jump of
    // the desk's timecode is read).
    static bool cameRound(double before, double after, double day_seconds);
};

} // namespace Spectrafox
