#include "base/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Spectrafox {

namespace {

// Fills the buffer from the descriptor's start; the bytes actually read.
size_t readInto(int fd, unsigned char* buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t count = ::read(fd, buffer + done, size - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        done += static_cast<size_t>(count);
    }
    return done;
}

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

// Opened, not only looked at: a file this process may not read counts as
// missing, so the next name in a lookup gets its chance.
bool RegularFile::exists(const std::string& path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
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

bool RegularFile::readPrefix(const std::string& path, size_t count, std::vector<unsigned char>* out,
                             std::uint64_t* file_size)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    if (known) {
        out->resize(count);
        out->resize(readInto(fd, out->data(), count));
        *file_size = static_cast<std::uint64_t>(status.st_size);
    }
    ::close(fd);
    return known;
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
        done = readInto(fd, out->data(), out->size());
    }
    ::close(fd);
    return fits && done == out->size();
}

namespace {

// O_NOFOLLOW and O_EXCL: a link or a file left under the temporary name is
// never written through; a stale one from a power cut is removed first.
bool writeTemporary(const std::string& temporary, const std::string& text)
{
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        return false;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = RegularFile::writeAll(fd, text.data(), text.size()) && ::fsync(fd) == 0;
    const int saved_errno = errno;
    ::close(fd);
    errno = saved_errno;
    return written;
}

} // namespace

bool RegularFile::writeAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, bytes + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

bool RegularFile::replaceAtomically(const std::string& path, const std::string& text, std::string* why)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (path.substr(slash == std::string::npos ? 0 : slash + 1) == "config.txt") {
        *why = "config.txt is the technician's, never written";
        return false;
    }
    const std::string temporary = path + ".part";
    if (!writeTemporary(temporary, text)) {
        *why = "cannot write " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        *why = "cannot rename " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        ::fsync(folder_fd);
        ::close(folder_fd);
    }
    return true;
}

} // namespace Spectrafox
