#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace Spectrafox {

// Tells systemd how the show is (a Type=notify unit): READY=1 once it has
// started, WATCHDOG=1 while the render loop keeps finishing frames, and the
// frame rate as the unit's status line. The render loop only counts frames;
// the messages go out from a thread of its own at a few per second, so a
// service manager slow to read never holds up the picture, and a frozen
// render loop stops the watchdog messages.
class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;
    // Sends one notification ("READY=1", lines joined by newlines).
    using Send = std::function<void(const std::string&)>;
    static constexpr std::chrono::milliseconds kBeat{250};
    static constexpr std::chrono::seconds kStatusEvery{2};

    // Null when systemd did not ask for notifications (no NOTIFY_SOCKET):
    // then nothing is sent and no thread runs.
    static std::unique_ptr<ServiceNotifier> forThisProcess();

    // With own_thread false nobody calls beat() but the test.
    ServiceNotifier(Send send, bool own_thread);
    // Ends the thread and says the show is stopping.
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // The start message is on the console: any thread.
    void markReady();
    // One frame finished (render loop): a few relaxed stores.
    void frameShown(double fps);
    // What one beat of the thread sends.
    void beat(Clock::time_point now);

private:
    void run();

    const Send send;
    std::atomic<bool> ready{false};
    std::atomic<long> frames{0};
    std::atomic<double> frame_rate{0.0};
    // Only beat() touches these.
    bool ready_sent = false;
    long frames_at_last_beat = 0;
    Clock::time_point last_status{};

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};

} // namespace Spectrafox
