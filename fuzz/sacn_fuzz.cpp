// libFuzzer entry for the E1.31 parser and the source merge. The input is a
// run of datagrams, each as [milliseconds since the previous one][length, 2
// bytes, high first][bytes], fed to one parser and one merge in order, so
// sequences, priorities, source ends and the source cap are all reached.
#include "network/sacn/sacn_merger.h"
#include "network/sacn/sacn_packet_parser.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kUniverse = 1;

void check(bool condition)
{
    if (!condition)
        abort();
}

// What the parser promises about a data packet: the slots lie inside the
// datagram and there are at most 512 of them.
void checkPacket(const Spectrafox::SacnDataPacket& p, const uint8_t* data, size_t size)
{
    check(p.slot_count >= 0 && p.slot_count <= 512);
    check(p.slots >= data && p.slots + p.slot_count <= data + size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Spectrafox::SacnPacketParser parser(kUniverse);
    Spectrafox::SacnMerger merger;
    auto now = Spectrafox::SacnMerger::Clock::time_point{};
    size_t at = 0;
    while (at + 3 <= size) {
        now += std::chrono::milliseconds(data[at] * 20);
        const size_t length = std::min<size_t>(static_cast<size_t>(data[at + 1] << 8 | data[at + 2]), size - at - 3);
        // A buffer of exactly the datagram's size, so any read past it is caught.
        std::vector<uint8_t> datagram(data + at + 3, data + at + 3 + length);
        at += 3 + length;
        const Spectrafox::SacnParseResult result = parser.parse(datagram.data(), static_cast<long>(datagram.size()));
        if (result.kind == Spectrafox::SacnPacketKind::Data) {
            checkPacket(result.packet, datagram.data(), datagram.size());
            merger.take(result.packet, now);
        }
        merger.expire(now);
        check(merger.sourceCount() <= Spectrafox::SacnMerger::kMaxSources);
        check(merger.outputChannels() >= 0 && merger.outputChannels() <= 512);
        for (int c = merger.outputChannels(); c < 512; ++c)
            check(merger.output()[static_cast<size_t>(c)] == 0);
    }
    return 0;
}
