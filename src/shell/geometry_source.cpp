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
    if (!RegularFile::replaceAtomically(file, geometry.toText(), why))
        return false;
    {
        std::lock_guard<std::mutex> guard(lock);
        in_force = geometry;
        seen = RegularFile::versionAt(file);
    }
    publish(geometry);
    return true;
}

} // namespace Spectrafox
