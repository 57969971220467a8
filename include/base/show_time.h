#pragma once

#include <functional>

namespace Spectrafox {

// Where animated pictures ask "what is the show time now". Without a source
// (no timecode configured) each picture plays by its own clock from the
// moment it was loaded; with one, a picture started at start-up shows the
// position (show time - 0) wrapped to its length, so every node that shares
// the show time shows the same frame.
//
// main installs the source before the pictures load and removes it after
// they are gone; in between only the render thread reads it.
class ShowTime {
public:
    using Source = std::function<double()>; // show seconds

    static void install(Source source);
    static void remove();
    static bool installed();
    // The installed source's show time; 0 without one.
    static double now();
};

} // namespace Spectrafox
