#include "base/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
RegularFile::Version versionFrom(const struct stat& status)
{
    RegularFile::Version version;
    version.device = status.st_dev;
    version.inode = status.st_ino;
    version.size = status.st_size;
    version.modified_ns = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    return version;
}
} // namespace

RegularFile::Version RegularFile::versionOf(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 ? versionFrom(status) : Version{};
}

RegularFile::Version RegularFile::versionAt(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? versionFrom(status) : Version{};
}

bool RegularFile::exists(const std::string& path)
{
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

int RegularFile::openForReading(const std::string& path)
{
    // O_NONBLOCK keeps the open itself from waiting for a FIFO's writer, in
    // case the file was swapped for one after a check.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Regular files ignore the flag; clear it so reads behave as usual.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool RegularFile::readAll(const std::string& path, size_t max_bytes, std::vector<unsigned char>* out)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool fits = fstat(fd, &status) == 0 && status.st_size > 0 &&
                      static_cast<unsigned long long>(status.st_size) <= max_bytes;
    size_t done = 0;
    if (fits) {
        out->resize(static_cast<size_t>(status.st_size));
        while (done < out->size()) {
            const ssize_t count = ::read(fd, out->data() + done, out->size() - done);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            done += static_cast<size_t>(count);
        }
    }
    ::close(fd);
    return fits && done == out->size();
}

} // namespace Spectrafox
