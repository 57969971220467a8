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
    // Tells one version of a file from the next: another file under the
    // name (copied over with a rename), or new contents (rewritten in place).
    struct Version {
        unsigned long long device = 0, inode = 0;
        long long size = -1, modified_ns = 0;
        bool operator==(const Version& other) const
        {
            return device == other.device && inode == other.inode && size == other.size &&
                   modified_ns == other.modified_ns;
        }
        bool operator!=(const Version& other) const { return !(*this == other); }
    };
    // The version open on fd, and the one the path names now (size -1 when
    // it names nothing).
    static Version versionOf(int fd);
    static Version versionAt(const std::string& path);

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

    // Writes a file of the show folder the one safe way: a temporary file
    // beside it (a link or a stale file under that name is never written
    // through), fsync, rename over the name (a link there is replaced, not
    // followed), fsync of the folder. config.txt is the technician's and is
    // refused. False with the reason in *why; the temporary file never stays.
    static bool replaceAtomically(const std::string& path, const std::string& text, std::string* why);
    // All `size` bytes to fd, across short writes and signals; false on an
    // error (errno tells) or a write of nothing.
    static bool writeAll(int fd, const void* data, size_t size);
};

} // namespace Spectrafox
