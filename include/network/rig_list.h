#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace Spectrafox {

// The other Spectrafox nodes on the network, from the ArtPollReplies they
// broadcast, for the technician's page. Where no desk polls, the node polls
// itself, at most once every kPollEvery and only while a page asks for the
// list. Any thread; everything under one lock.
class RigList {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kPollEvery{10};
    // A node not heard for this long is left out.
    static constexpr std::chrono::seconds kForgetAfter{60};
    static constexpr size_t kMostNodes = 256;

    struct Node {
        uint32_t address = 0; // host byte order
        std::string short_name, long_name;
    };

    // One ArtPollReply of a Spectrafox node (our OEM code): false for
    // anything else, or a reply cut short.
    static bool parseReply(const uint8_t* data, size_t size, Node* node);
    // The ArtPoll this node sends.
    static std::vector<uint8_t> artPoll();

    void heard(const Node& node, Clock::time_point now);
    // A desk's ArtPoll (not our own).
    void pollSeen(Clock::time_point now);
    // The nodes heard, by address; a page asked, so polls may be due.
    std::vector<Node> nodes(Clock::time_point now);
    // True when this node should poll now (and counts it as sent).
    bool pollDue(Clock::time_point now);

private:
    struct Heard {
        Node node;
        Clock::time_point at;
    };
    std::mutex mutex;
    std::map<uint32_t, Heard> heard_nodes;
    Clock::time_point page_asked, desk_polled, we_polled;
    bool page_ever = false, desk_ever = false, we_ever = false;
};

} // namespace Spectrafox
