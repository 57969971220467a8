#include "network/rig_list.h"

#include <algorithm>
#include <cstring>

#include "network/artnet/artnet_protocol.h"

namespace Spectrafox {

namespace {

// A text field up to its first NUL, never past its size.
std::string field(const uint8_t* data, size_t offset, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data + offset);
    return std::string(text, strnlen(text, size));
}

// While a page asked within this, polls may be sent.
constexpr std::chrono::seconds kPageAsks{15};

} // namespace

bool RigList::parseReply(const uint8_t* data, size_t size, Node* node)
{
    using namespace Artnet;
    if (size < kReplyNodeReportOffset || !std::equal(kId.begin(), kId.end(), data) ||
        data[kOpCodeOffset] != (kOpPollReply & 0xFF) || data[kOpCodeOffset + 1] != (kOpPollReply >> 8) ||
        data[kReplyOemHiOffset] != (kOemCode >> 8) || data[kReplyOemLoOffset] != (kOemCode & 0xFF))
        return false;
    node->address = 0;
    for (int i = 0; i < 4; ++i)
        node->address = node->address << 8 | data[kReplyIpOffset + i];
    node->short_name = field(data, kReplyShortNameOffset, kReplyShortNameSize);
    node->long_name = field(data, kReplyLongNameOffset, kReplyLongNameSize);
    return true;
}

std::vector<uint8_t> RigList::artPoll()
{
    using namespace Artnet;
    // ID, OpCode (low byte first), ProtVer (high byte first), flags, priority.
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, kOpPoll & 0xFF, kOpPoll >> 8, kProtVer >> 8, kProtVer & 0xFF, 0, 0};
}

void RigList::heard(const Node& node, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (heard_nodes.size() >= kMostNodes && heard_nodes.find(node.address) == heard_nodes.end())
        return;
    heard_nodes[node.address] = {node, now};
}

void RigList::pollSeen(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    desk_polled = now;
    desk_ever = true;
}

std::vector<RigList::Node> RigList::nodes(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    page_asked = now;
    page_ever = true;
    std::vector<Node> list;
    for (auto it = heard_nodes.begin(); it != heard_nodes.end();)
        if (now - it->second.at > kForgetAfter) {
            it = heard_nodes.erase(it);
        } else {
            list.push_back(it->second.node);
            ++it;
        }
    return list;
}

bool RigList::pollDue(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    const bool page_open = page_ever && now - page_asked < kPageAsks;
    const bool desk_polls = desk_ever && now - desk_polled < kPollEvery;
    const bool polled_lately = we_ever && now - we_polled < kPollEvery;
    if (!page_open || desk_polls || polled_lately)
        return false;
    we_polled = now;
    we_ever = true;
    return true;
}

} // namespace Spectrafox
