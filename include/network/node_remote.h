#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "network/answer_rate_limiter.h"
#include "network/artnet/art_poll_reply.h"
#include "network/network_input_settings.h"
#include "network/rdm/rdm_responder.h"

namespace Spectrafox {

// Addressing from the desk (RDM=1, REMOTE_CONFIG=1): takes ArtTodRequest,
// ArtTodControl, ArtRdm, ArtAddress and ArtDataRequest, answers them through
// the receiver's socket and hands what changed to the receiver. It touches
// neither the channel table nor the canvases: the listener thread answers,
// the render thread is never involved. Answers to requests anyone may send
// are rate-limited.
//
// take and tick run on the listener thread only; pollReplyNode and the
// accessors may be called from any thread.
class NodeRemote {
public:
    using Clock = std::chrono::steady_clock;
    enum class Led { Normal, Mute, Locate };
    struct PortAddress {
        int net = NetworkInputSettings::kAnyNet;
        int subnet = 0;
        int universe = 0;
    };
    // What the receiver does for it; each is called on the listener thread.
    struct Effects {
        std::function<void(const PortAddress&)> port_address;
        std::function<void(int)> dmx_start;
        // An empty value takes the key out of settings.txt (config.txt's holds).
        std::function<void(const std::string& key, const std::string& value)> store;
        std::function<void(bool)> identify;
        std::function<void()> poll_reply;
        std::function<void(const std::vector<uint8_t>&)> reply_to_sender;
        std::function<void(const std::vector<uint8_t>&)> broadcast;
        // The node's IPv4 address (host byte order), for the URLs it gives.
        std::function<uint32_t()> my_address;
    };

    // What a technician may set from the page, as the desk could.
    struct Settings {
        std::string short_name, long_name;
        int dmx_start = 1;
        int personality = 1;
        PortAddress port;
    };

    NodeRemote(const NetworkInputSettings& settings, const RdmUid& uid, RdmResponder::Readings readings,
               Effects effects, Clock::time_point now);

    // True when the datagram was one of the packets handled here (whether
    // for this node or not).
    bool take(const uint8_t* data, std::size_t size, Clock::time_point now);
    // Ends identify after its time and stores the hours run, once an hour.
    void tick(Clock::time_point now);

    // Any thread: the values in force (the personality chosen).
    Settings settings() const;
    // Any thread: false with the reason when a value is out of range.
    bool check(const Settings& wanted, std::string* why) const;
    // Listener thread: takes checked settings through the same effects and
    // stores as the desk's ArtAddress and RDM SETs.
    void takeSettings(const Settings& wanted);

    ArtPollReply::Node pollReplyNode() const;
    PortAddress portAddress() const;
    Led led() const { return led_mode.load(); }
    bool identifying() const { return identify_on.load(); }
    const RdmUid& uid() const { return responder.uid(); }

private:
    bool takeTodRequest(const uint8_t* data, std::size_t size, Clock::time_point now);
    bool takeRdm(const uint8_t* data, std::size_t size, Clock::time_point now);
    void takeAddress(const uint8_t* data, std::size_t size, Clock::time_point now);
    void takeDataRequest(const uint8_t* data, std::size_t size, Clock::time_point now);
    void applyRdmChanges(unsigned changes);
    void applySwitches(uint8_t net_switch, uint8_t sub_switch, uint8_t sw_out);
    void storeSwitch(const char* key, uint8_t field, int value);
    void applyNames(const std::string& short_name, const std::string& long_name);
    void announceIdentify(bool on);
    RdmResponder::Readings withHours(RdmResponder::Readings readings);
    uint8_t wireNet() const;
    uint8_t wireAddress() const;
    uint32_t hoursRun(Clock::time_point now) const;

    const NetworkInputSettings::Remote remote;
    Effects effects;
    RdmResponder responder;
    AnswerRateLimiter answers;
    const Clock::time_point started;
    Clock::time_point latest;
    const uint32_t hours_stored;
    uint32_t hours_written;
    // The Port-Address and names: written by the listener thread, read by
    // whoever sends an ArtPollReply.
    mutable std::mutex mutex;
    PortAddress port;
    std::string short_name;
    std::string long_name;
    int dmx_start_now = 1;   // the responder's, mirrored for other threads
    int personality_now = 1;
    std::atomic<Led> led_mode{Led::Normal};
    std::atomic<bool> identify_on{false};
};

} // namespace Spectrafox
