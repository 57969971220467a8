// libFuzzer entry for what a desk sends to address the node: ArtAddress,
// ArtTodRequest, ArtTodControl, ArtRdm and ArtDataRequest, as a run of
// datagrams, each [length, 2 bytes, high first][bytes], fed to one node with
// every switch on. What it answers and where it moves must stay in range.
#include "network/node_remote.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void checkText(const std::string& text, std::size_t most)
{
    check(text.size() <= most);
    for (char c : text)
        check(c >= 0x20 && c <= 0x7E);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Spectrafox;
    NetworkInputSettings settings;
    settings.dmx_start = 1;
    settings.remote.rdm = settings.remote.remote_config = true;
    settings.remote.http_port = 8080;
    settings.remote.canvas_count = 3;
    NodeRemote::Effects effects;
    effects.port_address = [](const NodeRemote::PortAddress& port) {
        check(port.net >= -1 && port.net <= 127 && port.subnet >= 0 && port.subnet <= 15 && port.universe >= 0 &&
              port.universe <= 15);
    };
    effects.dmx_start = [](int start) { check(start >= 1 && start <= 512 - 60); };
    effects.store = [](const std::string& key, const std::string& value) {
        check(!key.empty());
        for (char c : value)
            check(static_cast<unsigned char>(c) >= 0x20);
    };
    effects.identify = [](bool) {};
    effects.poll_reply = [] {};
    effects.reply_to_sender = [](const std::vector<uint8_t>& bytes) { check(bytes.size() <= 24 + 255 + 532); };
    effects.broadcast = [](const std::vector<uint8_t>& bytes) { check(bytes.size() == 34); };
    effects.my_address = [] { return 0x0A000002u; };
    NodeRemote node(settings, RdmUid(0x7FF0, 0x12345678), RdmResponder::Readings{}, effects,
                    NodeRemote::Clock::time_point{});
    auto now = NodeRemote::Clock::time_point{};
    size_t at = 0;
    while (at + 2 <= size) {
        const size_t length = static_cast<size_t>(data[at] << 8 | data[at + 1]);
        at += 2;
        const size_t take = length < size - at ? length : size - at;
        // A copy of exactly the datagram, so reading past it is caught.
        const std::vector<uint8_t> datagram(data + at, data + at + take);
        node.take(datagram.data(), datagram.size(), now);
        node.tick(now);
        at += take;
        now += std::chrono::milliseconds(10);
    }
    const ArtPollReply::Node reply = node.pollReplyNode();
    checkText(reply.short_name, 17);
    checkText(reply.long_name, 63);
    return 0;
}
