#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox {

// Opening files that someone put into a folder of pictures: only regular
// files count, and nothing here ever blocks (a FIFO, a device or a directory
// under a picture's name is treated as no file at all).
class RegularFile {
public:
    // True when the path names a regular file (symbolic links followed) that
    // this process may open for reading.
    static bool exists(const std::string& path);
    // A read-only descriptor of the regular file, opened without blocking
    // and closed on exec; -1 for anything else.
    static int openForReading(const std::string& path);
    // Up to `count` bytes from the start of the regular file, and its size.
    static bool readPrefix(const std::string& path, size_t count, std::vector<unsigned char>* out,
                           std::uint64_t* file_size);
    // The whole file, if it is regular and holds 1 to max_bytes bytes.
    static bool readAll(const std::string& path, size_t max_bytes, std::vector<unsigned char>* out);
};

} // namespace Spectrafox
