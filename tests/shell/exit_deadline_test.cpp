#include "shell/exit_deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using Spectrafox::ExitDeadline;
using namespace std::chrono_literals;

namespace {

TEST(ExitDeadline, EndsTheProcessOnlyWhenTheStopOverrunsTheLimit)
{
    struct Case {
        const char* name;
        bool stop;
        std::chrono::milliseconds finish_after; // from the stop request
        bool overrun;
    };
    const Case cases[] = {
        {"never stopped", false, 0ms, false},
        {"stopped and finished in time", true, 10ms, false},
        {"stopped, finished at once", true, 0ms, false},
        {"stopped, stuck in a frame", true, 1500ms, true},
    };
    for (const Case& c : cases) {
        std::atomic<bool> stop{false};
        std::atomic<int> overruns{0};
        std::atomic<int> exits{0};
        std::atomic<bool> exited_after_overrun{false};
        const auto started = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration exit_at{};
        {
            ExitDeadline deadline(300ms, [&] { return stop.load(); }, [&] { ++overruns; });
            deadline.setExitForTesting([&] {
                exited_after_overrun = overruns.load() == 1;
                exit_at = std::chrono::steady_clock::now() - started;
                ++exits;
            });
            if (c.stop) {
                stop = true;
                std::this_thread::sleep_for(c.finish_after);
            }
        }
        EXPECT_EQ(overruns.load(), c.overrun ? 1 : 0) << c.name;
        EXPECT_EQ(exits.load(), c.overrun ? 1 : 0) << c.name;
        if (c.overrun) {
            EXPECT_TRUE(exited_after_overrun) << c.name << ": the terminal must be handed back first";
            // Not before the limit: the program gets its chance to finish.
            EXPECT_GE(exit_at, 300ms) << c.name;
        }
    }
}

} // namespace
