#include "base/show_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace Spectrafox;
using Clock = ShowClock::SteadyClock;

namespace {

constexpr uint32_t kDesk = 0x0A000001;
constexpr uint32_t kSecondDesk = 0x0A000002;
constexpr double kRate = 25.0;
constexpr double kRenderPeriod = 1.0 / 60.0;

// One sender: from `from` to `until` (node seconds), one ArtTimeCode per
// frame naming node time + offset, delayed by up to jitter_ms at random.
struct Sender {
    uint32_t address;
    double from, until;
    double offset;
    double jitter_ms = 0.0;
    double jump_at = 1e9, jump_by = 0.0; // the desk moves its timecode
    double back_at = 1e9;                // one packet a frame early (rounding)

    double timecodeAt(double t) const { return t + offset + (t >= jump_at ? jump_by : 0.0); }
};

// What the show time must be at a moment, and the state then.
struct Check {
    double at;
    ShowClock::State state;
    double show; // expected show seconds
    double tolerance_ms;
    uint32_t other_source = 0;
};

struct Packet {
    double arrival;
    Timecode tc;
    uint32_t sender;
};

std::vector<Packet> packetsOf(const std::vector<Sender>& senders)
{
    std::mt19937 random(23);
    std::vector<Packet> packets;
    for (const Sender& s : senders) {
        std::uniform_real_distribution<double> delay(0.0, s.jitter_ms / 1000.0);
        for (long n = std::lround(s.from * kRate); n <= std::lround(s.until * kRate); ++n) {
            const double sent = n / kRate;
            double tc = s.timecodeAt(sent);
            if (std::fabs(sent - s.back_at) < 0.5 / kRate)
                tc -= 1.0 / kRate;
            packets.push_back({sent + delay(random), Timecode::fromSeconds(tc + 1e-6, Timecode::Ebu25), s.address});
        }
    }
    std::sort(packets.begin(), packets.end(), [](const Packet& a, const Packet& b) { return a.arrival < b.arrival; });
    return packets;
}

// Each row drives a clock on an injected steady clock through a run of
// packets, drawing at 60 Hz: the 25 fps clip frame the show time points to
// may only stay or step by one from draw to draw, except at the seeks the
// row allows; and the time and state hold at the checks, also for a master
// beside the chaser, started `offset` before (the sender stands for it).
TEST(ShowClock, FollowsTimecodeSmoothlyThroughJitterJumpsAndDropouts)
{
    const struct {
        const char* name;
        double freewheel;
        std::vector<Sender> senders;
        int seeks; // clip-frame discontinuities allowed
        std::vector<Check> checks;
        bool master_beside = false;
    } cases[] = {
        {"lock-in: the first packet seeks at once",
         2, {{kDesk, 0.5, 3, 3600.04}}, 1,
         {{0.4, ShowClock::State::OwnClock, 0.4, 0.1}, {0.55, ShowClock::State::Chase, 3600.59, 1}}},
        {"1 ms jitter: no skip, no repeat, jitter measured",
         2, {{kDesk, 0, 6, 0, 1.0}}, 0, {{6, ShowClock::State::Chase, 6.0, 1.5}}},
        {"a jump of 10 s re-seeks with the next packet",
         2, {{kDesk, 0, 4, 0, 0, 2.0, 10.0}}, 1, {{2.05, ShowClock::State::Chase, 12.05, 1}}},
        {"a jump of 0.32 s is slewed away",
         2, {{kDesk, 0, 6, 0, 0, 2.0, 0.32}}, 0, {{6, ShowClock::State::Chase, 6.32, 1}}},
        {"one frame backwards is absorbed",
         2, {{kDesk, 0, 4, 0, 0, 1e9, 0, 2.0}}, 0, {{4, ShowClock::State::Chase, 4.0, 1}}},
        {"dropout: freewheel, then own clock, time running on",
         2, {{kDesk, 0, 2, 100}}, 0,
         {{2.4, ShowClock::State::Chase, 102.4, 1}, {3, ShowClock::State::Freewheel, 103, 1},
          {4.6, ShowClock::State::OwnClock, 104.6, 1}}},
        {"no freewheel: own clock right after the dropout",
         0, {{kDesk, 0, 2, 100}}, 0, {{2.6, ShowClock::State::OwnClock, 102.6, 1}}},
        {"relock after own clock, no jump when they agree",
         2, {{kDesk, 0, 2, 100}, {kDesk, 6, 8, 100}}, 0, {{8, ShowClock::State::Chase, 108, 1}}},
        {"two senders: the first is followed until it falls silent",
         2, {{kDesk, 0, 3, 50}, {kSecondDesk, 1, 6, 70}}, 1,
         {{2.5, ShowClock::State::Chase, 52.5, 1, kSecondDesk}, {5, ShowClock::State::Chase, 75, 1}}},
        {"past 24 h master and chaser come round to 0 together, no seek but midnight's",
         2, {{kDesk, 0, 9, 86395}}, 1,
         {{4.5, ShowClock::State::Chase, 86399.5, 1}, {5.48, ShowClock::State::Chase, 0.48, 1},
          {9, ShowClock::State::Chase, 4, 1}},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Clock::time_point t{};
        ShowClock::Options options;
        options.freewheel_seconds = c.freewheel;
        ShowClock clock(options, [&t] { return t; });
        const auto seconds = [](double s) {
            return Clock::time_point{} + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
        };
        t = seconds(-c.senders[0].offset);
        const ShowClock master({ShowClock::Role::Master}, [&t] { return t; });
        const std::vector<Packet> packets = packetsOf(c.senders);
        std::size_t next_packet = 0;
        std::size_t next_check = 0;
        long last_frame = 0;
        int discontinuities = 0;
        for (double now = kRenderPeriod; now < 10.0; now += kRenderPeriod) {
            for (; next_packet < packets.size() && packets[next_packet].arrival <= now; ++next_packet) {
                t = seconds(packets[next_packet].arrival);
                clock.takeTimecode(packets[next_packet].tc, packets[next_packet].sender);
            }
            for (; next_check < c.checks.size() && c.checks[next_check].at <= now; ++next_check) {
                const Check& check = c.checks[next_check];
                t = seconds(check.at);
                const ShowClock::Snapshot view = clock.snapshot();
                SCOPED_TRACE(check.at);
                EXPECT_EQ(view.state, check.state);
                EXPECT_NEAR(view.show_seconds, check.show, check.tolerance_ms / 1000.0);
                EXPECT_EQ(view.other_source, check.other_source);
                EXPECT_TRUE(!c.master_beside || std::fabs(master.showSeconds() - check.show) < 1e-3);
            }
            t = seconds(now);
            const long frame = static_cast<long>(std::floor(clock.showSeconds() * kRate));
            if (now > kRenderPeriod && frame != last_frame && frame != last_frame + 1)
                ++discontinuities;
            last_frame = frame;
        }
        EXPECT_EQ(next_check, c.checks.size());
        EXPECT_EQ(discontinuities, c.seeks);
        if (c.senders[0].jitter_ms > 0) {
            const double jitter = clock.snapshot().jitter_ms;
            EXPECT_GT(jitter, 0.1);
            EXPECT_LT(jitter, c.senders[0].jitter_ms);
        }
    }
}

} // namespace
