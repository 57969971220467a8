#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/timecode.h"

namespace Spectrafox {

// The node's show time in seconds. It runs on the steady clock; a chasing
// node steers it towards the timecode it hears (a first-order phase-locked
// loop: each packet's error is slewed away at a bounded rate, so the clock
// never stops or runs backwards), re-seeks on a jump of more than a second,
// freewheels through a dropout and then goes on on its own clock. A master's
// show time is its own clock since start-up, which it sends.
//
// Senders are told apart by address; the first heard is followed until it
// falls silent, and a second one is only reported. Show time comes round
// to 0 with the timecode's day, on a master as on a chaser. Constant memory whatever
// number of senders a flood brings. Every call holds `mutex`: packets arrive
// on the listener thread, the render and send threads read the time.
class ShowClock {
public:
    using SteadyClock = std::chrono::steady_clock;
    using Now = std::function<SteadyClock::time_point()>;

    enum class Role { Chase, Master };
    enum class State { OwnClock, Chase, Freewheel, Master };

    struct Options {
        Role role = Role::Chase;
        // After a dropout, how long the clock is still called locked.
        double freewheel_seconds = 2.0;
        // Shown until a timecode is heard; a master's own.
        Timecode::Type type = Timecode::Ebu25;
    };

    // What the console and the status page show; a copy.
    struct Snapshot {
        State state = State::OwnClock;
        double show_seconds = 0.0;
        Timecode::Type type = Timecode::Ebu25; // of the timecode last heard
        uint32_t source = 0;                   // IPv4 of the followed sender, 0: none yet
        uint32_t other_source = 0;             // another sender heard lately, 0: none
        double jitter_ms = 0.0;                // mean variation of packet transit times
    };

    // No timecode since this long: dropout (the sender has fallen silent).
    static constexpr double kSilenceSeconds = 0.5;
    // A locked clock re-seeks when the timecode differs by more than this.
    static constexpr double kSeekSeconds = 1.0;
    // The fastest correction: 10 % faster or slower than real time.
    static constexpr double kMaxSlewRate = 0.1;
    // Errors are absorbed over about this long (or at the fastest rate).
    static constexpr double kSlewSeconds = 0.25;

    explicit ShowClock(Options options, Now now = &SteadyClock::now);

    // A timecode received now from `sender`. A master ignores timecode.
    void takeTimecode(const Timecode& timecode, uint32_t sender);
    double showSeconds() const;
    // How long the show time takes to come round to 0 (the timecode's day).
    double daySeconds() const;
    Snapshot snapshot() const;

    static const char* stateName(State state);

private:
    double secondsSince(SteadyClock::time_point earlier, SteadyClock::time_point later) const;
    double wrapToDay(double seconds) const;
    double aroundTheDay(double to, double from) const;
    double showAt(SteadyClock::time_point t) const;
    State stateAt(SteadyClock::time_point t) const;
    bool followedAt(uint32_t sender, SteadyClock::time_point t) const;
    void steer(double target, double threshold, SteadyClock::time_point t);
    void measureJitter(double target, SteadyClock::time_point t);

    const Options options;
    const Now now;
    mutable std::mutex mutex;
    // show(t) = anchor_show + (t - anchor_time) + the part of `slew` absorbed
    // by t at slew_rate seconds per second.
    SteadyClock::time_point anchor_time;
    double anchor_show = 0.0;
    double slew = 0.0;
    double slew_rate = 0.0;
    bool heard = false;
    uint32_t source = 0;
    SteadyClock::time_point last_packet;
    double last_timecode = 0.0;
    Timecode::Type type = Timecode::Ebu25;
    uint32_t other_source = 0;
    SteadyClock::time_point last_other_packet;
    double jitter = 0.0;
};

} // namespace Spectrafox
