#include "network/node_remote.h"

#include <algorithm>
#include <cstdio>

#include "network/artnet/art_address.h"
#include "network/artnet/art_data_request.h"
#include "network/artnet/art_rdm_packets.h"

namespace Spectrafox {

namespace {

RdmResponder::Identity identityOf(const NetworkInputSettings& settings, const RdmUid& uid)
{
    RdmResponder::Identity identity;
    identity.uid = uid;
    identity.canvas_count = settings.remote.canvas_count;
    identity.writable = settings.remote.remote_config;
    return identity;
}

RdmResponder::State stateOf(const NetworkInputSettings& settings)
{
    RdmResponder::State state;
    state.dmx_start = settings.dmx_start;
    state.personality = state.running_personality = settings.remote.personality;
    state.label = settings.remote.device_label;
    return state;
}

std::string ipv4Text(uint32_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, address >> 16 & 0xFF, address >> 8 & 0xFF,
                  address & 0xFF);
    return text;
}

} // namespace

NodeRemote::NodeRemote(const NetworkInputSettings& settings, const RdmUid& uid, RdmResponder::Readings readings,
                       Effects effects_, Clock::time_point now)
    : remote(settings.remote),
      effects(std::move(effects_)),
      responder(identityOf(settings, uid), stateOf(settings), withHours(std::move(readings))),
      started(now),
      latest(now),
      hours_stored(settings.remote.device_hours),
      hours_written(settings.remote.device_hours),
      port{settings.artnet_net, settings.artnet_subnet, settings.artnet_universe},
      short_name(settings.remote.short_name.empty() ? Artnet::kShortName : settings.remote.short_name),
      long_name(settings.remote.long_name.empty() ? Artnet::kLongName : settings.remote.long_name),
      dmx_start_now(responder.state().dmx_start),
      personality_now(responder.state().personality)
{
}

NodeRemote::Settings NodeRemote::settings() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return {short_name, long_name, dmx_start_now, personality_now, port};
}

bool NodeRemote::check(const Settings& wanted, std::string* why) const
{
    const auto printable = [](const std::string& text, size_t longest) {
        return !text.empty() && text.size() <= longest &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    };
    if (!printable(wanted.short_name, Artnet::kReplyShortNameSize - 1))
        *why = "the short name needs 1 to " + std::to_string(Artnet::kReplyShortNameSize - 1) + " printable characters";
    else if (!printable(wanted.long_name, Artnet::kReplyLongNameSize - 1))
        *why = "the long name needs 1 to " + std::to_string(Artnet::kReplyLongNameSize - 1) + " printable characters";
    else if (wanted.dmx_start < 1 || wanted.dmx_start > responder.highestStart())
        *why = "the start address must lie in 1-" + std::to_string(responder.highestStart());
    else if (wanted.personality < 1 || wanted.personality > RdmResponder::kPersonalities)
        *why = "the personality must be 1 or 2";
    else if (wanted.port.net < NetworkInputSettings::kAnyNet || wanted.port.net > 0x7F || wanted.port.subnet < 0 || wanted.port.subnet > 0x0F ||
             wanted.port.universe < 0 || wanted.port.universe > 0x0F)
        *why = "the Net must lie in 0-127 (or be any), the sub-net and universe in 0-15";
    else
        return true;
    return false;
}

void NodeRemote::takeSettings(const Settings& wanted)
{
    applyNames(wanted.short_name, wanted.long_name);
    // A programmed switch: the top bit set, as ArtAddress carries it.
    const bool any_net = wanted.port.net == NetworkInputSettings::kAnyNet;
    applySwitches(static_cast<uint8_t>(any_net ? 0x7F : 0x80 | wanted.port.net), static_cast<uint8_t>(0x80 | wanted.port.subnet),
                  static_cast<uint8_t>(0x80 | wanted.port.universe));
    applyRdmChanges(responder.setStored(wanted.dmx_start, wanted.personality));
    effects.poll_reply();
}

RdmResponder::Readings NodeRemote::withHours(RdmResponder::Readings readings)
{
    readings.device_hours = [this] { return hoursRun(latest); };
    return readings;
}

bool NodeRemote::take(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    latest = now;
    if (size < Artnet::kHeaderSize)
        return false;
    const uint16_t opcode = static_cast<uint16_t>(data[Artnet::kOpCodeOffset] | data[Artnet::kOpCodeOffset + 1] << 8);
    switch (opcode) {
    case Artnet::kOpTodRequest:
    case Artnet::kOpTodControl:
        return remote.rdm && takeTodRequest(data, size, now);
    case Artnet::kOpRdm:
        return remote.rdm && takeRdm(data, size, now);
    case Artnet::kOpAddress:
        if (!remote.remote_config)
            return false;
        takeAddress(data, size, now);
        return true;
    case Artnet::kOpDataRequest:
        if (remote.http_port == 0)
            return false;
        takeDataRequest(data, size, now);
        return true;
    default:
        return false;
    }
}

uint8_t NodeRemote::wireNet() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<uint8_t>(port.net == NetworkInputSettings::kAnyNet ? 0 : port.net);
}

uint8_t NodeRemote::wireAddress() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return ArtRdmPackets::portAddress(port.subnet, port.universe);
}

bool NodeRemote::takeTodRequest(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    const uint8_t net = wireNet(), address = wireAddress();
    if ((ArtRdmPackets::todRequestFor(data, size, net, address) || ArtRdmPackets::todFlushFor(data, size, net, address)) &&
        answers.allow(now))
        effects.broadcast(ArtRdmPackets::todData(net, address, responder.uid()));
    return true;
}

bool NodeRemote::takeRdm(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    const uint8_t net = wireNet(), address = wireAddress();
    std::size_t message_size = 0;
    const uint8_t* message = ArtRdmPackets::rdmFor(data, size, net, address, &message_size);
    if (!message || !answers.allow(now))
        return true;
    const RdmResponder::Answer answer = responder.answer(message, message_size, now);
    applyRdmChanges(answer.changes);
    if (!answer.bytes.empty())
        effects.reply_to_sender(ArtRdmPackets::rdm(net, address, answer.bytes));
    return true;
}

void NodeRemote::applyRdmChanges(unsigned changes)
{
    const RdmResponder::State& state = responder.state();
    {
        std::lock_guard<std::mutex> lock(mutex);
        dmx_start_now = state.dmx_start;
        personality_now = state.personality;
    }
    if (changes & RdmResponder::kStartChanged) {
        effects.dmx_start(state.dmx_start);
        effects.store("DMX_START", std::to_string(state.dmx_start));
    }
    if (changes & RdmResponder::kLabelChanged)
        effects.store("DEVICE_LABEL", state.label);
    // The video path reads VIDEO_ON_CUE once: the new mode waits for the next start.
    if (changes & RdmResponder::kPersonalityChanged)
        effects.store("VIDEO_ON_CUE", state.personality == 2 ? "1" : "0");
    if (changes & RdmResponder::kIdentifyChanged)
        announceIdentify(state.identify);
}

// Locate and RDM's identify are one switch; mute holds until AcLedNormal.
void NodeRemote::announceIdentify(bool on)
{
    identify_on.store(on);
    if (on || led_mode.load() == Led::Locate)
        led_mode.store(on ? Led::Locate : Led::Normal);
    effects.identify(on);
}

void NodeRemote::takeAddress(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    ArtAddress::Fields fields;
    if (!ArtAddress::parse(data, size, &fields))
        return;
    applyNames(fields.short_name, fields.long_name);
    applySwitches(fields.net_switch, fields.sub_switch, fields.sw_out);
    switch (fields.command) {
    case ArtAddress::kLedLocate:
        if (responder.setIdentify(true, now))
            announceIdentify(true);
        break;
    case ArtAddress::kLedNormal:
        led_mode.store(Led::Normal);
        if (responder.setIdentify(false, now))
            announceIdentify(false);
        break;
    case ArtAddress::kLedMute:
        if (responder.setIdentify(false, now))
            announceIdentify(false);
        led_mode.store(Led::Mute);
        break;
    default: // AcCancelMerge: the node merges no Art-Net sources; the rest are not ours
        break;
    }
    effects.poll_reply();
}

void NodeRemote::applyNames(const std::string& new_short, const std::string& new_long)
{
    bool short_changed = false, long_changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        short_changed = !new_short.empty() && new_short != short_name;
        long_changed = !new_long.empty() && new_long != long_name;
        if (short_changed)
            short_name = new_short;
        if (long_changed)
            long_name = new_long;
    }
    if (short_changed)
        effects.store("SHORT_NAME", new_short);
    if (long_changed)
        effects.store("LONG_NAME", new_long);
}

void NodeRemote::applySwitches(uint8_t net_switch, uint8_t sub_switch, uint8_t sw_out)
{
    PortAddress next;
    {
        std::lock_guard<std::mutex> lock(mutex);
        next.net = ArtAddress::programmed(net_switch, port.net, remote.physical_net, 0x7F);
        next.subnet = ArtAddress::programmed(sub_switch, port.subnet, remote.physical_subnet, 0x0F);
        next.universe = ArtAddress::programmed(sw_out, port.universe, remote.physical_universe, 0x0F);
        if (next.net == port.net && next.subnet == port.subnet && next.universe == port.universe)
            return;
        port = next;
    }
    effects.port_address(next);
    storeSwitch("NET", net_switch, next.net);
    storeSwitch("SUBNET", sub_switch, next.subnet);
    storeSwitch("UNIVERSE", sw_out, next.universe);
}

// A programmed value is kept; back to the physical switch, config.txt's
// value holds again; "no change" stores nothing.
void NodeRemote::storeSwitch(const char* key, uint8_t field, int value)
{
    if (field == 0x00)
        effects.store(key, "");
    else if (field & 0x80)
        effects.store(key, std::to_string(value));
}

void NodeRemote::takeDataRequest(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    uint16_t code = 0;
    if (!ArtDataRequest::parse(data, size, &code) || !answers.allow(now))
        return;
    const std::string base = "http://" + ipv4Text(effects.my_address()) + ":" + std::to_string(remote.http_port);
    if (code == ArtDataRequest::kPoll)
        effects.reply_to_sender(ArtDataRequest::pollReply(
            {ArtDataRequest::kUrlProduct, ArtDataRequest::kUrlUserGuide, ArtDataRequest::kUrlPersGdtf}));
    else if (code == ArtDataRequest::kUrlProduct)
        effects.reply_to_sender(ArtDataRequest::reply(code, base + "/"));
    else if (code == ArtDataRequest::kUrlUserGuide)
        effects.reply_to_sender(ArtDataRequest::reply(code, base + "/manual"));
    else if (code == ArtDataRequest::kUrlPersGdtf)
        effects.reply_to_sender(ArtDataRequest::reply(code, base + "/fixture.gdtf"));
}

uint32_t NodeRemote::hoursRun(Clock::time_point now) const
{
    return hours_stored + static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::hours>(now - started).count());
}

void NodeRemote::tick(Clock::time_point now)
{
    latest = now;
    if (responder.expireIdentify(now))
        announceIdentify(false);
    const uint32_t hours = hoursRun(now);
    if (hours != hours_written) {
        hours_written = hours;
        effects.store("DEVICE_HOURS", std::to_string(hours));
    }
}

ArtPollReply::Node NodeRemote::pollReplyNode() const
{
    std::lock_guard<std::mutex> lock(mutex);
    ArtPollReply::Node node;
    node.net = port.net == NetworkInputSettings::kAnyNet ? 0 : port.net;
    node.subnet = port.subnet;
    node.universe = port.universe;
    node.short_name = short_name;
    node.long_name = long_name;
    node.rdm_capable = remote.rdm;
    return node;
}

NodeRemote::PortAddress NodeRemote::portAddress() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return port;
}

} // namespace Spectrafox
