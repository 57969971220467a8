#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Spectrafox {

// "Upload to all nodes": a file this node has just stored is passed on to
// each other node's admin API with the same token, one node after the
// other, on a thread of its own (libcurl), so the web server's thread never
// waits on another node. One run at a time; its progress and each node's
// answer can be read meanwhile. A node that takes nothing for 10 s is given
// up; the run stops when the forwarder goes.
class RigForwarder {
public:
    struct Target {
        std::string name;
        std::string url; // the other node's PUT URL for the file
    };
    struct Progress {
        std::string name, url;
        double fraction = 0.0;
        int status = 0;    // the node's HTTP answer; 0 while under way or unreached
        std::string error; // why it was not reached
        bool done = false;
    };

    explicit RigForwarder(std::string token);
    ~RigForwarder();
    RigForwarder(const RigForwarder&) = delete;
    RigForwarder& operator=(const RigForwarder&) = delete;

    // Opens `path` now (later changes to it are not sent) and starts; false
    // while the previous run is under way, or when it cannot be read.
    bool start(const std::string& path, std::vector<Target> targets);
    std::vector<Progress> progress() const;

private:
    void run(std::FILE* file, long long size);
    void sendTo(size_t index, std::FILE* file, long long size);
    static int onProgress(void* self, long long, long long, long long total, long long sent);

    const std::string bearer;
    mutable std::mutex mutex; // guards the fields below
    std::vector<Progress> nodes;
    bool running = false;
    bool stopping = false;
    size_t current = 0;
    std::thread worker;
};

} // namespace Spectrafox
