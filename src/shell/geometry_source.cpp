#include "shell/geometry_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

namespace Spectrafox {

namespace {

constexpr std::chrono::milliseconds kLookEvery{250};
// geometry.txt holds a dozen short lines.
constexpr size_t kMostFileBytes = 64 * 1024;

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

GeometrySource::GeometrySource(std::string file_, const Geometry& from_config, Hooks hooks_)
    : file(std::move(file_)), hooks(std::move(hooks_)), in_force(from_config)
{
}

GeometrySource::~GeometrySource()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (watcher.joinable())
        watcher.join();
}

void GeometrySource::start()
{
    readFile();
    publish(current());
    watcher = std::thread(&GeometrySource::watch, this);
}

Geometry GeometrySource::current() const
{
    std::lock_guard<std::mutex> guard(lock);
    return in_force;
}

void GeometrySource::watch()
{
    std::unique_lock<std::mutex> guard(lock);
    while (!wake.wait_for(guard, kLookEvery, [this] { return stopping; })) {
        if (RegularFile::versionAt(file) == seen)
            continue;
        const Geometry before = in_force;
        guard.unlock();
        readFile();
        const Geometry after = current();
        if (after != before)
            publish(after);
        guard.lock();
    }
}

// Each line onto the geometry in force: a refused key keeps its value.
void GeometrySource::readFile()
{
    const RegularFile::Version version = RegularFile::versionAt(file);
    std::vector<unsigned char> bytes;
    Geometry geometry = current();
    if (version.size > 0 && RegularFile::readAll(file, kMostFileBytes, &bytes)) {
        std::istringstream lines(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(lines, line);) {
            std::string refusal;
            if (geometry.applyLine(line, &refusal) && !refusal.empty() && hooks.say)
                hooks.say("geometry.txt: " + refusal + "; kept as it was");
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    seen = version;
    in_force = geometry;
}

void GeometrySource::publish(const Geometry& geometry)
{
    if (hooks.apply)
        hooks.apply(geometry, maskFor(geometry));
}

// A mask that cannot be read leaves the output unmasked, never dark.
std::shared_ptr<const MaskPicture> GeometrySource::maskFor(const Geometry& geometry)
{
    if (geometry.mask.empty())
        return nullptr;
    auto mask = std::make_shared<MaskPicture>();
    std::string why;
    if (MaskPicture::load(pathBeside(geometry.mask), mask.get(), &why))
        return mask;
    if (hooks.say)
        hooks.say("MASK=" + geometry.mask + " " + why + "; the output is shown unmasked");
    return nullptr;
}

std::string GeometrySource::pathBeside(const std::string& name) const
{
    return folderOf(file) + name;
}

bool GeometrySource::store(const Geometry& geometry, std::string* why)
{
    if (!writeAtomically(file, geometry.toText(), why))
        return false;
    {
        std::lock_guard<std::mutex> guard(lock);
        in_force = geometry;
        seen = RegularFile::versionAt(file);
    }
    publish(geometry);
    return true;
}

bool GeometrySource::writeAtomically(const std::string& path, const std::string& text, std::string* why)
{
    const size_t slash = path.rfind('/');
    if (path.substr(slash == std::string::npos ? 0 : slash + 1) == "config.txt") {
        *why = "config.txt is the technician's, never written";
        return false;
    }
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        *why = path + ": " + std::strerror(written ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace Spectrafox
