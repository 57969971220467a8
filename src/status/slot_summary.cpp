#include "status/slot_summary.h"

#include <map>

namespace Spectrafox {

namespace {

// "; 6: all video decoders taken; 7, 9: .gif that cannot be read or
// decoded": one group per error, so many broken files still fit a line.
std::string errorGroups(const std::vector<SlotReport>& slots)
{
    std::map<SlotState, std::string> numbers;
    for (const SlotReport& slot : slots)
        if (slot.isError()) {
            std::string& list = numbers[slot.state];
            list += (list.empty() ? "" : ", ") + std::to_string(slot.slot);
        }
    std::string groups;
    for (const auto& [state, list] : numbers)
        groups += "; " + list + ": " + slotStateWords(state);
    return groups;
}

} // namespace

std::string slotSummary(const std::vector<SlotReport>& slots)
{
    int pictures = 0, gifs = 0, playing = 0, waiting = 0;
    for (const SlotReport& slot : slots) {
        pictures += slot.state == SlotState::Picture;
        gifs += slot.state == SlotState::Animation;
        playing += slot.state == SlotState::VideoPlaying;
        waiting += slot.state == SlotState::VideoStarting;
    }
    return "Slots: " + std::to_string(pictures) + " pictures, " + std::to_string(gifs) + " GIFs, " +
           std::to_string(playing) + " videos playing, " + std::to_string(waiting) + " waiting" +
           errorGroups(slots);
}

} // namespace Spectrafox
