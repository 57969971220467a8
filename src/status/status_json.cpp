#include "status/status_json.h"

#include <nlohmann/json.hpp>

#include <sys/socket.h>

#include <algorithm>

#include "base/dmx_layout.h"
#include "base/ipv4_text.h"
#include "base/product_identity.h"

namespace Spectrafox {

namespace {

using nlohmann::json;

const char* kindOf(const SlotReport& slot)
{
    switch (slot.state) {
    case SlotState::Empty:
        return "none";
    case SlotState::Picture:
    case SlotState::BrokenPng:
        return "png";
    case SlotState::Animation:
    case SlotState::BrokenGif:
        return "gif";
    case SlotState::OverMemoryBudget:
        return slot.file.size() >= 4 && slot.file.compare(slot.file.size() - 4, 4, ".gif") == 0 ? "gif" : "png";
    default:
        return "video";
    }
}

json slotsJson(const std::vector<SlotReport>& slots)
{
    json list = json::array();
    for (const SlotReport& slot : slots) {
        json entry = {{"slot", slot.slot},
                      {"kind", kindOf(slot)},
                      {"file", slot.file},
                      {"width", slot.width},
                      {"height", slot.height},
                      {"state", slotStateWords(slot.state)},
                      {"error", slot.isError()}};
        if (slot.state == SlotState::Animation)
            entry["frames"] = slot.frames;
        if (slot.thumbnail)
            entry["thumbnail"] = "/thumbnail/" + std::to_string(slot.slot) + ".png";
        list.push_back(std::move(entry));
    }
    return list;
}

// The clips that hold a decoder: how each plays and where it is.
json playbackJson(const std::vector<SlotReport>& slots)
{
    json list = json::array();
    for (const SlotReport& slot : slots) {
        const PlaybackReport& p = slot.playback;
        if (!p.playing)
            continue;
        list.push_back({{"slot", slot.slot},
                        {"mode", p.mode},
                        {"rate", p.rate},
                        {"position_s", p.position_s < 0 ? json(nullptr) : json(p.position_s)},
                        {"length_s", p.length_s},
                        {"decoder", p.resting ? "resting" : "decoding"}});
    }
    return list;
}

json canvasesJson(const NodeSources& sources, const Artnet::DmxUniverse& channels)
{
    json list = json::array();
    for (int canvas = 0; canvas < sources.canvas_count; ++canvas) {
        const int first = sources.dmx_start + Dmx::kChannelsPerCanvas * canvas;
        json values = json::array();
        for (int k = 0; k < Dmx::kChannelsPerCanvas; ++k) {
            const int index = first - 1 + k;
            values.push_back(index >= 0 && index < static_cast<int>(channels.size()) ? channels[index] : 0);
        }
        list.push_back({{"canvas", canvas}, {"first_channel", first}, {"channels", std::move(values)}});
    }
    return list;
}

json timecodeJson(const NodeSources& sources)
{
    if (!sources.timecode)
        return nullptr;
    const ShowClock::Snapshot clock = sources.timecode();
    const Timecode tc = Timecode::fromSeconds(clock.show_seconds, clock.type);
    const auto address = [](uint32_t a) { return a ? json(ipv4Text(a)) : json(nullptr); };
    return {{"state", ShowClock::stateName(clock.state)},
            {"timecode", tc.text()},
            {"show_seconds", clock.show_seconds},
            {"fps", Timecode::frameRate(clock.type)},
            {"source", address(clock.source)},
            {"other_source", address(clock.other_source)},
            {"jitter_ms", clock.jitter_ms}};
}

json inputsJson(const ArtnetReceiver::InputReport& in, const NodeSources& sources)
{
    json last = in.last_artnet_sender ? json(ipv4Text(in.last_artnet_sender)) : json(nullptr);
    json inputs = {{"artnet",
             {{"artdmx_packets", in.artdmx_packets},
              {"artpoll_packets", in.artpoll_packets},
              {"other_packets", in.other_packets},
              {"last_sender", std::move(last)}}},
            {"artsync", {{"packets", in.artsync_packets}, {"holding", in.artsync_holding}}},
            {"sacn", {{"listening", in.sacn_listening}, {"packets", in.sacn_packets}}},
            {"timecode", timecodeJson(sources)}};
    // Only where the desk may address the node (RDM=1, REMOTE_CONFIG=1).
    if (in.remote)
        inputs["remote"] = {{"rdm_uid", in.rdm_uid}, {"identify", in.identify}};
    return inputs;
}

json addressesJson(const std::vector<InterfaceAddressEntry>& entries)
{
    json list = json::array();
    for (const InterfaceAddressEntry& entry : entries)
        if (entry.family == AF_INET)
            list.push_back({{"interface", entry.name}, {"address", ipv4Text(entry.address)}});
    return list;
}

} // namespace

std::string statusJson(const NodeSources& sources, const RenderState& render)
{
    const ArtnetReceiver::InputReport inputs = sources.inputs ? sources.inputs() : ArtnetReceiver::InputReport{};
    json config = json::object();
    for (auto [key, value] : sources.config) {
        if (!key.empty() && key.back() == '=')
            key.pop_back();
        config[key] = value;
    }
    const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::steady_clock::now() - sources.started);
    json document = {
        {"node", {{"name", Product::kName}, {"short_name", Product::kShortName},
                  {"version", Product::kVersion}, {"uptime_s", uptime.count()}}},
        {"addresses", addressesJson(sources.addresses ? sources.addresses()
                                                      : std::vector<InterfaceAddressEntry>{})},
        {"config", std::move(config)},
        {"inputs", inputsJson(inputs, sources)},
        {"frame_rate", render.frame_rate},
        {"test_pattern", sources.test_pattern ? sources.test_pattern() : false},
        {"frames", render.frames},
        {"memory", {{"resident_bytes", sources.memory_in_use ? sources.memory_in_use() : 0}}},
        {"canvases", canvasesJson(sources, inputs.channels)},
        {"slots", slotsJson(render.slots)},
        {"playback", playbackJson(render.slots)},
    };
    return document.dump();
}

} // namespace Spectrafox
