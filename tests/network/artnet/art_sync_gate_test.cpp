#include "network/artnet/art_sync_gate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace Spectrafox;
using namespace std::chrono_literals;
using Clock = ArtSyncGate::Clock;

namespace {

constexpr uint32_t kDesk = 0x0A000001;
constexpr uint32_t kOther = 0x0A000009;

struct Event {
    enum Kind { Dmx, Sync, Tick } kind;
    uint32_t source;
    int at_ms;
    bool apply; // what the gate answers
};

// Each row: a run of events on an injected clock and what the gate answers.
TEST(ArtSyncGate, HoldsBetweenSyncsAndFallsBackAfterFourSeconds)
{
    const struct {
        const char* name;
        std::vector<Event> events;
    } cases[] = {
        {"no ArtSync: every ArtDmx at once",
         {{Event::Dmx, kDesk, 0, true}, {Event::Dmx, kDesk, 10, true}, {Event::Tick, 0, 9000, false}}},
        {"ArtSync before any ArtDmx is ignored",
         {{Event::Sync, kDesk, 0, false}, {Event::Dmx, kDesk, 10, true}}},
        {"held until the next ArtSync",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 10, false}, {Event::Dmx, kDesk, 20, false},
          {Event::Dmx, kDesk, 30, false}, {Event::Sync, kDesk, 40, true}, {Event::Sync, kDesk, 50, false}}},
        {"ArtSync from another address is ignored",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kOther, 10, false}, {Event::Dmx, kDesk, 20, true},
          {Event::Sync, kDesk, 30, false}, {Event::Dmx, kDesk, 40, false}, {Event::Sync, kOther, 50, false},
          {Event::Sync, kDesk, 60, true}}},
        {"the controller is the sender of the latest ArtDmx",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 10, false}, {Event::Dmx, kOther, 20, false},
          {Event::Sync, kDesk, 30, false}, {Event::Sync, kOther, 40, true}}},
        {"4 s without ArtSync: held data applied, then immediate again",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 100, false}, {Event::Dmx, kDesk, 200, false},
          {Event::Tick, 0, 4099, false}, {Event::Tick, 0, 4100, true}, {Event::Dmx, kDesk, 4200, true}}},
        {"fall-back with nothing held applies nothing",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 100, false}, {Event::Tick, 0, 5000, false},
          {Event::Dmx, kDesk, 5100, true}}},
        {"each ArtSync restarts the 4 s",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 0, false}, {Event::Sync, kDesk, 3900, false},
          {Event::Tick, 0, 7800, false}, {Event::Dmx, kDesk, 7850, false}, {Event::Sync, kDesk, 7890, true}}},
        {"synchronous again after a fall-back",
         {{Event::Dmx, kDesk, 0, true}, {Event::Sync, kDesk, 0, false}, {Event::Tick, 0, 4000, false},
          {Event::Dmx, kDesk, 4001, true}, {Event::Sync, kDesk, 4002, false}, {Event::Dmx, kDesk, 4003, false},
          {Event::Sync, kDesk, 4004, true}}},
    };
    for (const auto& c : cases) {
        ArtSyncGate gate;
        const Clock::time_point start{};
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            const Event& e = c.events[i];
            const Clock::time_point now = start + std::chrono::milliseconds(e.at_ms);
            bool answer = false;
            switch (e.kind) {
            case Event::Dmx: {
                const bool lapsed = gate.expire(now);
                EXPECT_FALSE(lapsed) << c.name << ", event " << i;
                answer = gate.dmxArrived(e.source);
                break;
            }
            case Event::Sync: answer = gate.syncArrived(e.source, now); break;
            case Event::Tick: answer = gate.expire(now); break;
            }
            EXPECT_EQ(answer, e.apply) << c.name << ", event " << i;
        }
    }
}

} // namespace
