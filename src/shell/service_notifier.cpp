#include "shell/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace Spectrafox {

namespace {
std::string statusLine(double fps)
{
    char text[64];
    std::snprintf(text, sizeof text, "STATUS=Showing at %.1f fps", fps);
    return text;
}
} // namespace

std::unique_ptr<ServiceNotifier> ServiceNotifier::forThisProcess()
{
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (!socket || !*socket)
        return nullptr;
    return std::make_unique<ServiceNotifier>(
        [](const std::string& message) { sd_notify(0, message.c_str()); }, true);
}

ServiceNotifier::ServiceNotifier(Send send_message, bool own_thread) : send(std::move(send_message))
{
    if (own_thread)
        thread = std::thread(&ServiceNotifier::run, this);
}

ServiceNotifier::~ServiceNotifier()
{
    if (thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }
    send("STOPPING=1");
}

void ServiceNotifier::markReady() { ready.store(true, std::memory_order_relaxed); }

void ServiceNotifier::frameShown(double fps)
{
    frame_rate.store(fps, std::memory_order_relaxed);
    frames.fetch_add(1, std::memory_order_relaxed);
}

void ServiceNotifier::beat(Clock::time_point now)
{
    std::string message;
    const auto add = [&message](const std::string& line) {
        message += (message.empty() ? "" : "\n") + line;
    };
    const bool is_ready = ready.load(std::memory_order_relaxed);
    if (is_ready && !ready_sent) {
        add("READY=1");
        ready_sent = true;
    }
    // Only a loop that finished a frame since the last beat is alive.
    const long frames_now = frames.load(std::memory_order_relaxed);
    if (frames_now != frames_at_last_beat) {
        add("WATCHDOG=1");
        frames_at_last_beat = frames_now;
    }
    if (is_ready && frames_now > 0 && now - last_status >= kStatusEvery) {
        add(statusLine(frame_rate.load(std::memory_order_relaxed)));
        last_status = now;
    }
    if (!message.empty())
        send(message);
}

void ServiceNotifier::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, kBeat, [this] { return stopping; })) {
        lock.unlock();
        beat(Clock::now());
        lock.lock();
    }
}

} // namespace Spectrafox
