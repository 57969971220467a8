#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Spectrafox {

// Bounds the time from a stop request to the end of the process. A frame in
// progress cannot be interrupted, and a software renderer far over its
// capacity can take many seconds for one; a service manager would then kill
// the process with the terminal still in curses mode. Once `stop_requested`
// turns true, the program has `limit` to finish on its own; past that,
// `on_overrun` runs on this object's thread (hand the terminal back, say why)
// and the process ends with status 0, as a handled stop does.
class ExitDeadline {
public:
    ExitDeadline(std::chrono::milliseconds limit, std::function<bool()> stop_requested,
                 std::function<void()> on_overrun);
    // The program finished in time: the watch ends.
    ~ExitDeadline();
    ExitDeadline(const ExitDeadline&) = delete;
    ExitDeadline& operator=(const ExitDeadline&) = delete;

    // For tests: ends the process differently (the default calls _Exit(0)).
    void setExitForTesting(std::function<void()> exit_process);

private:
    void watch();

    const std::chrono::milliseconds limit;
    const std::function<bool()> stop_requested;
    const std::function<void()> on_overrun;
    std::function<void()> exit_process;
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false;
    std::thread watcher;
};

} // namespace Spectrafox
