#include "canvas/canvas_content/content_local_file_texture/slots/slot_turns.h"

namespace Spectrafox {

bool SlotTurns::inTurn(int slot, const std::function<bool()>& step)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return next >= slot; });
    const bool result = step();
    if (next == slot)
        next = slot + 1;
    changed.notify_all();
    return result;
}

void SlotTurns::pass(int slot)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return next >= slot; });
    if (next == slot) {
        next = slot + 1;
        changed.notify_all();
    }
}

} // namespace Spectrafox
