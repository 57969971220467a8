// libFuzzer entry for the RDM message parser and the responder. The first
// byte chooses the responder (bit 0: 25 canvases, bit 1: REMOTE_CONFIG) and
// whether the checksum is made right (bit 2), so that the handlers behind it
// are reached; the rest is one message as Art-Net carries it.
#include "network/rdm/rdm_message.h"
#include "network/rdm/rdm_responder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void fixChecksum(std::vector<uint8_t>& message)
{
    if (message.size() < 25)
        return;
    const std::size_t body = message[1] >= 24 ? message[1] - 1u : 23u;
    if (body + 2 > message.size())
        return;
    const uint16_t sum = Spectrafox::RdmMessage::checksum(message.data(), body);
    message[body] = static_cast<uint8_t>(sum >> 8);
    message[body + 1] = static_cast<uint8_t>(sum);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Spectrafox;
    if (size < 1)
        return 0;
    const int canvases = data[0] & 1 ? 25 : 1;
    RdmResponder::Identity identity{RdmUid(0x7FF0, 0x12345678), canvases, (data[0] & 2) != 0};
    RdmResponder::Readings readings;
    readings.frame_rate = [] { return 12.5; };
    readings.temperature = [](double* celsius) {
        *celsius = 48.2;
        return true;
    };
    RdmResponder responder(identity, RdmResponder::State{}, readings);
    std::vector<uint8_t> message(data + 1, data + size);
    if (data[0] & 4)
        fixChecksum(message);
    const auto now = RdmResponder::Clock::time_point{};
    for (int repeat = 0; repeat < 2; ++repeat) { // twice: ACK_OVERFLOW continues
        const RdmResponder::Answer answer = responder.answer(message.data(), message.size(), now);
        RdmMessage response;
        // Every answer but DISC_UNIQUE_BRANCH's is a whole message.
        if (!answer.bytes.empty() && answer.bytes[0] != 0xFE)
            check(RdmMessage::parse(answer.bytes.data(), answer.bytes.size(), &response) == RdmMessage::Parse::Ok);
        const RdmResponder::State& state = responder.state();
        check(state.dmx_start >= 1 && state.dmx_start <= responder.highestStart());
        check(state.personality >= 1 && state.personality <= RdmResponder::kPersonalities);
        check(state.label.size() <= 32);
        for (char c : state.label)
            check(c >= 0x20 && c <= 0x7E);
    }
    return 0;
}
