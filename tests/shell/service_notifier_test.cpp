#include "shell/service_notifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Spectrafox::ServiceNotifier;
using namespace std::chrono_literals;

namespace {

// What systemd is told, beat by beat: the watchdog only while frames come
// (a frozen render loop must get the service killed), READY once, the
// status line no more often than its interval.
TEST(ServiceNotifierTest, WatchdogFollowsFramesReadyOnceStatusRateLimited)
{
    std::vector<std::string> sent;
    const auto t0 = ServiceNotifier::Clock::time_point{} + 1h;
    {
        ServiceNotifier notifier([&sent](const std::string& m) { sent.push_back(m); }, false);
        const struct {
            const char* what;
            bool ready;
            int frames;
            std::chrono::milliseconds at;
            std::string expected; // "" for nothing sent
        } beats[] = {
            {"starting, no frame yet", false, 0, 0ms, ""},
            {"frames before the start message", false, 3, 250ms, "WATCHDOG=1"},
            {"started", true, 1, 500ms, "READY=1\nWATCHDOG=1\nSTATUS=Showing at 50.0 fps"},
            {"render loop frozen", true, 0, 750ms, ""},
            {"frames again, status not yet due", true, 2, 1000ms, "WATCHDOG=1"},
            {"status due again", true, 1, 2500ms, "WATCHDOG=1\nSTATUS=Showing at 50.0 fps"},
        };
        for (const auto& beat : beats) {
            if (beat.ready)
                notifier.markReady();
            for (int i = 0; i < beat.frames; ++i)
                notifier.frameShown(50.0);
            sent.clear();
            notifier.beat(t0 + beat.at);
            EXPECT_EQ(sent.empty() ? "" : sent.front(), beat.expected) << beat.what;
            EXPECT_LE(sent.size(), 1u) << beat.what;
        }
        sent.clear();
    }
    EXPECT_EQ(sent, std::vector<std::string>{"STOPPING=1"});
}

} // namespace
