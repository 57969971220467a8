#pragma once

#include <string>

namespace Spectrafox {

// Learns a video's picture size from the outside command `mediainfo`, whose
// one-line reply is "info4spectrafox|<width>|<height>|".
class VideoSizeProbe {
public:
    static std::string commandLine(const std::string& filename);
    // True and both sizes written only when the reply carries two positive numbers.
    static bool parseReply(const std::string& reply, int* size_x, int* size_y);
    // Runs the command and waits for it.
    static bool probe(const std::string& filename, int* size_x, int* size_y);
};

} // namespace Spectrafox
