#include "status/slot_summary.h"

namespace Spectrafox {

std::string slotSummary(const std::vector<SlotReport>& slots)
{
    int pictures = 0, gifs = 0, playing = 0, waiting = 0;
    std::string errors;
    for (const SlotReport& slot : slots) {
        switch (slot.state) {
        case SlotState::Picture:
            ++pictures;
            break;
        case SlotState::Animation:
            ++gifs;
            break;
        case SlotState::VideoPlaying:
            ++playing;
            break;
        case SlotState::VideoStarting:
            ++waiting;
            break;
        default:
            if (slot.isError())
                errors += (errors.empty() ? "; errors: " : ", ") + std::to_string(slot.slot) + " " +
                          slotStateWords(slot.state);
            break;
        }
    }
    return "Slots: " + std::to_string(pictures) + " pictures, " + std::to_string(gifs) + " GIFs, " +
           std::to_string(playing) + " videos playing, " + std::to_string(waiting) + " waiting" + errors;
}

} // namespace Spectrafox
