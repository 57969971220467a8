#include "shell/exit_deadline.h"

#include <cstdlib>
#include <utility>

namespace Spectrafox {

namespace {
// A signal handler can only set a flag, so the flag is polled at this pace.
constexpr std::chrono::milliseconds kPollInterval{20};
} // namespace

ExitDeadline::ExitDeadline(std::chrono::milliseconds stop_limit,
                           std::function<bool()> is_stop_requested,
                           std::function<void()> overrun)
    : limit(stop_limit), stop_requested(std::move(is_stop_requested)),
      on_overrun(std::move(overrun)), exit_process([] { std::_Exit(EXIT_SUCCESS); })
{
    watcher = std::thread(&ExitDeadline::watch, this);
}

ExitDeadline::~ExitDeadline()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    wake.notify_all();
    watcher.join();
}

void ExitDeadline::setExitForTesting(std::function<void()> exit_process_instead)
{
    std::lock_guard<std::mutex> lock(mutex);
    exit_process = std::move(exit_process_instead);
}

void ExitDeadline::watch()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished && !stop_requested())
        wake.wait_for(lock, kPollInterval);
    if (finished)
        return;
    if (wake.wait_for(lock, limit, [this] { return finished; }))
        return;
    on_overrun();
    exit_process();
}

} // namespace Spectrafox
