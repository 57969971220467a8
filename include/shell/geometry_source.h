#pragma once

#include "base/geometry.h"
#include "base/regular_file.h"
#include "platform/graphics/mask_picture.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Spectrafox {

// Where the geometry in force comes from: config.txt's keys, then
// geometry.txt beside it (its values win), read again whenever the file
// changes. Its own thread looks at the file's version a few times a second
// and does the reading and the mask's decoding, so the render thread never
// waits on the disk; what it finds goes to `apply` whole. A key that is
// malformed or out of range is named through `say` and keeps the value it
// had. store() is the one way the server writes geometry.txt.
class GeometrySource {
public:
    struct Hooks {
        std::function<void(const Geometry&, std::shared_ptr<const MaskPicture>)> apply;
        std::function<void(const std::string&)> say;
    };

    // `file` is geometry.txt's path; the mask is looked for in its folder.
    GeometrySource(std::string file, const Geometry& from_config, Hooks hooks);
    ~GeometrySource();
    GeometrySource(const GeometrySource&) = delete;
    GeometrySource& operator=(const GeometrySource&) = delete;

    // Reads the file now (on the caller's thread), applies the result, then
    // starts watching.
    void start();
    // Writes geometry.txt atomically and applies the geometry. False, with
    // the reason, when the file cannot be written (nothing changes then).
    bool store(const Geometry& geometry, std::string* why);
    Geometry current() const;

private:
    void watch();
    void readFile();
    void publish(const Geometry& geometry);
    std::shared_ptr<const MaskPicture> maskFor(const Geometry& geometry);
    std::string pathBeside(const std::string& name) const;

    const std::string file;
    const Hooks hooks;
    // Guards the fields below (the watcher and store()'s caller).
    mutable std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    Geometry in_force;
    RegularFile::Version seen;
    std::thread watcher;
};

} // namespace Spectrafox
