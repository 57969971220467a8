#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace Spectrafox {

// Lets slots decoded on several threads take their turn strictly in slot
// order (0, 1, 2, ...), so that who gets memory does not depend on which
// thread ran first. Every slot must pass exactly once, with or without a
// step of its own; a slot waits only for lower ones.
class SlotTurns {
public:
    // Waits for the slot's turn, runs the step and passes on.
    bool inTurn(int slot, const std::function<bool()>& step);
    // Passes on if the slot has not had its turn yet.
    void pass(int slot);

private:
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;
};

} // namespace Spectrafox
