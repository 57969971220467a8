#include "network/rdm/rdm_responder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/dmx_layout.h"
#include "base/product_identity.h"

namespace Spectrafox {

using namespace Rdm;

namespace {

constexpr uint16_t kModelId = 0x0001;
constexpr uint16_t kSlotUndefined = 0xFFFF;
constexpr uint8_t kSlotPrimary = 0x00;
constexpr uint8_t kSlotFine = 0x01;
constexpr uint8_t kAckOverflow = 0x03;
constexpr uint8_t kAllSensors = 0xFF;
constexpr uint8_t kStatusGetLast = 0x01;
constexpr uint8_t kStatusAdvisory = 0x02;
constexpr uint8_t kStatusWarning = 0x03;
constexpr uint8_t kStatusError = 0x04;
// Manufacturer-specific status IDs.
constexpr uint16_t kStatusLowFrameRate = 0x8001;
constexpr uint16_t kStatusPersonalityPending = 0x8002;

const char* const kPersonalityNames[] = {"Canvas 20ch", "Canvas cue 20ch"};

// The manual's channel table; with the cue personality four channels steer the clip.
const char* const kSlotNames[20] = {
    "content", "dimmer", "position X", "position Y", "width", "height", "rotation angle",
    "copies on a ring", "ring angle", "ring radius", "red", "green", "blue", "(unused)", "strobe",
    "rotation speed", "ring rotation speed", "(unused)", "(unused)", "(unused)"};
const uint16_t kSlotLabels[20] = {kSlotUndefined, 0x0002, kSlotUndefined, kSlotUndefined, kSlotUndefined,
                                  kSlotUndefined, kSlotUndefined, kSlotUndefined, kSlotUndefined,
                                  kSlotUndefined, 0x0205, 0x0206, 0x0207, kSlotUndefined, 0x0404,
                                  kSlotUndefined, kSlotUndefined, kSlotUndefined, kSlotUndefined,
                                  kSlotUndefined};

void put16(std::vector<uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put32(std::vector<uint8_t>& out, uint32_t value)
{
    put16(out, value >> 16);
    put16(out, value & 0xFFFF);
}

void putText(std::vector<uint8_t>& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.begin() + std::min(text.size(), kMaxLabel));
}

unsigned read16(const std::vector<uint8_t>& data, std::size_t at)
{
    return static_cast<unsigned>(data[at] << 8 | data[at + 1]);
}

uint32_t softwareVersionId()
{
    unsigned major = 0, minor = 0, patch = 0;
    std::sscanf(Product::kVersion, "%u.%u.%u", &major, &minor, &patch);
    return (major & 0xFF) << 16 | (minor & 0xFF) << 8 | (patch & 0xFF);
}

} // namespace

const RdmResponder::Parameter RdmResponder::kParameters[] = {
    {kSupportedParameters, &RdmResponder::getSupportedParameters, nullptr},
    {kDeviceInfo, &RdmResponder::getDeviceInfo, nullptr},
    {kDeviceModelDescription, &RdmResponder::getModelDescription, nullptr},
    {kManufacturerLabel, &RdmResponder::getManufacturerLabel, nullptr},
    {kDeviceLabel, &RdmResponder::getDeviceLabel, &RdmResponder::setDeviceLabel},
    {kSoftwareVersionLabel, &RdmResponder::getSoftwareVersionLabel, nullptr},
    {kDmxPersonality, &RdmResponder::getPersonality, &RdmResponder::setPersonality},
    {kDmxPersonalityDescription, &RdmResponder::getPersonalityDescription, nullptr},
    {kDmxStartAddress, &RdmResponder::getStartAddress, &RdmResponder::setStartAddress},
    {kSlotInfo, &RdmResponder::getSlotInfo, nullptr},
    {kSlotDescription, &RdmResponder::getSlotDescription, nullptr},
    {kDefaultSlotValue, &RdmResponder::getDefaultSlotValue, nullptr},
    {kSensorDefinition, &RdmResponder::getSensorDefinition, nullptr},
    {kSensorValue, &RdmResponder::getSensorValue, &RdmResponder::setSensorValue},
    {kRecordSensors, nullptr, &RdmResponder::setRecordSensors},
    {kDeviceHours, &RdmResponder::getDeviceHours, nullptr},
    {kStatusMessages, &RdmResponder::getStatusMessages, nullptr},
    {kQueuedMessage, &RdmResponder::getQueuedMessage, nullptr},
    {kIdentifyDevice, &RdmResponder::getIdentify, &RdmResponder::setIdentify},
};

void RdmResponder::Reply::nack(uint16_t reason)
{
    nacked = true;
    response_type = kNackReason;
    data.clear();
    put16(data, reason);
}

RdmResponder::RdmResponder(const Identity& identity_, const State& state, Readings readings_)
    : identity(identity_), current(state), readings(std::move(readings_))
{
    double celsius = 0.0;
    if (readings.temperature && readings.temperature(&celsius))
        sensors.push_back(Sensor{true});
    sensors.push_back(Sensor{false});
}

int RdmResponder::highestStart() const
{
    // As config.txt's check: the last canvas's block ends before channel 512.
    return Dmx::kUniverseChannels - footprint();
}

RdmResponder::Answer RdmResponder::answer(const uint8_t* data, std::size_t size, Clock::time_point now)
{
    RdmMessage request;
    if (RdmMessage::parse(data, size, &request) != RdmMessage::Parse::Ok || !identity.uid.receives(request.destination))
        return {};
    if (request.command_class == kDiscovery)
        return discovery(request);
    if (request.command_class != kGet && request.command_class != kSet)
        return {};
    now_ = now;
    changes = 0;
    Reply reply(request.pid);
    const bool all_sub_devices = request.sub_device == kAllSubDevices && request.command_class == kSet;
    if (request.sub_device != kRootDevice && !all_sub_devices)
        reply.nack(kSubDeviceOutOfRange);
    else
        dispatch(request, reply);
    Answer answer;
    answer.changes = changes;
    if (!RdmUid::isBroadcast(request.destination))
        answer.bytes = respond(request, reply);
    return answer;
}

void RdmResponder::dispatch(const RdmMessage& request, Reply& reply)
{
    for (const Parameter& parameter : kParameters) {
        if (parameter.pid != request.pid)
            continue;
        const Handler handler = request.command_class == kGet ? parameter.get : parameter.set;
        if (handler)
            (this->*handler)(request, reply);
        else
            reply.nack(kUnsupportedCommandClass);
        return;
    }
    reply.nack(kUnknownPid);
}

std::vector<uint8_t> RdmResponder::respond(const RdmMessage& request, const Reply& reply) const
{
    RdmMessage response;
    response.destination = request.source;
    response.source = identity.uid;
    response.transaction = request.transaction;
    response.port_or_response = reply.response_type;
    response.sub_device = request.sub_device;
    response.command_class = static_cast<uint8_t>(request.command_class + 1);
    response.pid = reply.pid;
    response.data = reply.data;
    return response.build();
}

RdmResponder::Answer RdmResponder::discovery(const RdmMessage& request)
{
    Answer answer;
    if (request.pid == kDiscUniqueBranch) {
        if (request.data.size() == 2 * kUidSize && !muted && RdmUid::read(request.data.data()) <= identity.uid &&
            identity.uid <= RdmUid::read(request.data.data() + kUidSize))
            answer.bytes = uniqueBranchAnswer();
        return answer;
    }
    if ((request.pid != kDiscMute && request.pid != kDiscUnMute) || !request.data.empty())
        return answer;
    muted = request.pid == kDiscMute;
    if (RdmUid::isBroadcast(request.destination))
        return answer;
    Reply reply(request.pid);
    put16(reply.data, 0); // control field: no flags
    answer.bytes = respond(request, reply);
    return answer;
}

// Not an RDM message: the bytes as they go on the line, which has no
// checksum of its own beyond the encoded one.
std::vector<uint8_t> RdmResponder::uniqueBranchAnswer() const
{
    std::vector<uint8_t> bytes(7, kDubPreamble);
    bytes.push_back(kDubSeparator);
    uint8_t uid[kUidSize];
    identity.uid.write(uid);
    uint16_t sum = 0;
    for (uint8_t byte : uid) {
        bytes.push_back(byte | 0xAA);
        bytes.push_back(byte | 0x55);
        sum = static_cast<uint16_t>(sum + (byte | 0xAA) + (byte | 0x55));
    }
    for (uint8_t byte : {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)}) {
        bytes.push_back(byte | 0xAA);
        bytes.push_back(byte | 0x55);
    }
    return bytes;
}

bool RdmResponder::writeAllowed(Reply& reply) const
{
    if (!identity.writable)
        reply.nack(kWriteProtect);
    return identity.writable;
}

void RdmResponder::getSupportedParameters(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    // The parameters E1.20 requires of every responder are not listed.
    for (const Parameter& parameter : kParameters)
        if (parameter.pid >= kQueuedMessage && parameter.pid != kSupportedParameters && parameter.pid != kDeviceInfo &&
            parameter.pid != kSoftwareVersionLabel && parameter.pid != kDmxStartAddress &&
            parameter.pid != kIdentifyDevice)
            put16(reply.data, parameter.pid);
}

void RdmResponder::getDeviceInfo(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    put16(reply.data, kProtocolVersion);
    put16(reply.data, kModelId);
    put16(reply.data, kProductCategoryVideo);
    put32(reply.data, softwareVersionId());
    put16(reply.data, static_cast<unsigned>(footprint()));
    reply.data.push_back(static_cast<uint8_t>(current.personality));
    reply.data.push_back(kPersonalities);
    put16(reply.data, static_cast<unsigned>(current.dmx_start));
    put16(reply.data, 0); // sub-devices
    reply.data.push_back(static_cast<uint8_t>(sensors.size()));
}

void RdmResponder::getModelDescription(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    putText(reply.data, Product::kName);
}

void RdmResponder::getManufacturerLabel(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    putText(reply.data, "Spectrafox");
}

void RdmResponder::getSoftwareVersionLabel(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    putText(reply.data, Product::kVersion);
}

void RdmResponder::getDeviceLabel(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    putText(reply.data, current.label);
}

void RdmResponder::setDeviceLabel(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() > kMaxLabel)
        return reply.nack(kFormatError);
    // Printable ASCII only: settings.txt keeps one label a line.
    for (uint8_t byte : request.data)
        if (byte < 0x20 || byte > 0x7E)
            return reply.nack(kDataOutOfRange);
    if (!writeAllowed(reply))
        return;
    current.label.assign(request.data.begin(), request.data.end());
    changes |= kLabelChanged;
}

void RdmResponder::getStartAddress(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    put16(reply.data, static_cast<unsigned>(current.dmx_start));
}

unsigned RdmResponder::setStored(int dmx_start, int personality)
{
    unsigned changed = 0;
    if (dmx_start != current.dmx_start)
        changed |= kStartChanged;
    if (personality != current.personality)
        changed |= kPersonalityChanged;
    current.dmx_start = dmx_start;
    current.personality = personality;
    return changed;
}

void RdmResponder::setStartAddress(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 2)
        return reply.nack(kFormatError);
    const int start = static_cast<int>(read16(request.data, 0));
    if (start < 1 || start > highestStart())
        return reply.nack(kDataOutOfRange);
    if (!writeAllowed(reply))
        return;
    if (start != current.dmx_start)
        changes |= kStartChanged;
    current.dmx_start = start;
}

void RdmResponder::getPersonality(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    reply.data.push_back(static_cast<uint8_t>(current.personality));
    reply.data.push_back(kPersonalities);
}

void RdmResponder::setPersonality(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const int personality = request.data[0];
    if (personality < 1 || personality > kPersonalities)
        return reply.nack(kDataOutOfRange);
    if (!writeAllowed(reply))
        return;
    if (personality != current.personality)
        changes |= kPersonalityChanged;
    current.personality = personality;
}

void RdmResponder::getPersonalityDescription(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const int personality = request.data[0];
    if (personality < 1 || personality > kPersonalities)
        return reply.nack(kDataOutOfRange);
    reply.data.push_back(static_cast<uint8_t>(personality));
    put16(reply.data, static_cast<unsigned>(footprint()));
    putText(reply.data, kPersonalityNames[personality - 1]);
}

std::string RdmResponder::slotName(int personality, int slot)
{
    static const char* const kCueNames[] = {"play mode", "play speed", "play position", "play position fine"};
    if (personality == 2 && slot == 13)
        return kCueNames[0];
    if (personality == 2 && slot >= 17)
        return kCueNames[slot - 16];
    return kSlotNames[slot];
}

void RdmResponder::getSlotInfo(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    std::vector<uint8_t> whole;
    for (int slot = 0; slot < footprint(); ++slot) {
        const int in_canvas = slot % kSlotsPerCanvas;
        const bool fine = current.personality == 2 && in_canvas == 19;
        put16(whole, static_cast<unsigned>(slot));
        whole.push_back(fine ? kSlotFine : kSlotPrimary);
        put16(whole, fine ? static_cast<unsigned>(slot - 1) : kSlotLabels[in_canvas]);
    }
    overflowing(request, reply, whole, 5);
}

void RdmResponder::getSlotDescription(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 2)
        return reply.nack(kFormatError);
    const int slot = static_cast<int>(read16(request.data, 0));
    if (slot >= footprint())
        return reply.nack(kDataOutOfRange);
    put16(reply.data, static_cast<unsigned>(slot));
    std::string name = slotName(current.personality, slot % kSlotsPerCanvas);
    if (identity.canvas_count > 1)
        name = "Canvas " + std::to_string(slot / kSlotsPerCanvas + 1) + " " + name;
    putText(reply.data, name);
}

void RdmResponder::getDefaultSlotValue(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    std::vector<uint8_t> whole;
    for (int slot = 0; slot < footprint(); ++slot) {
        put16(whole, static_cast<unsigned>(slot));
        whole.push_back(0);
    }
    overflowing(request, reply, whole, 3);
}

// The same controller asking again for the same parameter gets the next part.
void RdmResponder::overflowing(const RdmMessage& request, Reply& reply, const std::vector<uint8_t>& whole,
                               std::size_t entry_size)
{
    const std::size_t part = kMaxDataLength / entry_size * entry_size;
    if (!(overflow_controller == request.source) || overflow_pid != request.pid || overflow_offset >= whole.size())
        overflow_offset = 0;
    const std::size_t end = std::min(whole.size(), overflow_offset + part);
    reply.data.assign(whole.begin() + overflow_offset, whole.begin() + end);
    const bool more = end < whole.size();
    reply.response_type = more ? kAckOverflow : static_cast<uint8_t>(kAck);
    overflow_controller = request.source;
    overflow_pid = more ? request.pid : 0;
    overflow_offset = more ? end : 0;
}

void RdmResponder::getSensorDefinition(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const std::size_t number = request.data[0];
    if (number >= sensors.size())
        return reply.nack(kDataOutOfRange);
    const bool temperature = sensors[number].temperature;
    reply.data.push_back(static_cast<uint8_t>(number));
    reply.data.push_back(temperature ? 0x00 : 0x03);     // temperature, frequency
    reply.data.push_back(temperature ? 0x01 : 0x08);     // degrees Celsius, hertz
    reply.data.push_back(0x00);                          // no prefix
    put16(reply.data, temperature ? 0xFFD8 : 0);         // range: -40 or 0
    put16(reply.data, temperature ? 125 : 1000);         // ... to
    put16(reply.data, temperature ? 0 : 24);             // normal from
    put16(reply.data, temperature ? 85 : 1000);          // ... to
    reply.data.push_back(0x03);                          // recorded, lowest and highest kept
    putText(reply.data, temperature ? "SoC temperature" : "Frame rate");
}

int16_t RdmResponder::sensorReading(const Sensor& sensor) const
{
    double value = 0.0;
    if (sensor.temperature) {
        if (!readings.temperature || !readings.temperature(&value))
            value = 0.0;
    } else if (readings.frame_rate) {
        value = readings.frame_rate();
    }
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

void RdmResponder::appendSensorValue(std::size_t number, Reply& reply)
{
    Sensor& sensor = sensors[number];
    const int16_t present = sensorReading(sensor);
    if (!sensor.seen)
        sensor.lowest = sensor.highest = present;
    sensor.seen = true;
    sensor.lowest = std::min(sensor.lowest, present);
    sensor.highest = std::max(sensor.highest, present);
    reply.data.push_back(static_cast<uint8_t>(number));
    for (int16_t value : {present, sensor.lowest, sensor.highest, sensor.recorded})
        put16(reply.data, static_cast<uint16_t>(value));
}

void RdmResponder::getSensorValue(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    if (request.data[0] >= sensors.size())
        return reply.nack(kDataOutOfRange);
    appendSensorValue(request.data[0], reply);
}

// Resets lowest, highest and recorded to the present value.
void RdmResponder::setSensorValue(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const uint8_t number = request.data[0];
    if (number != kAllSensors && number >= sensors.size())
        return reply.nack(kDataOutOfRange);
    for (std::size_t i = 0; i < sensors.size(); ++i) {
        if (number != kAllSensors && i != number)
            continue;
        sensors[i].seen = false;
        sensors[i].recorded = sensorReading(sensors[i]);
    }
    if (number == kAllSensors) {
        reply.data.assign({kAllSensors, 0, 0, 0, 0, 0, 0, 0, 0});
        return;
    }
    appendSensorValue(number, reply);
}

void RdmResponder::setRecordSensors(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const uint8_t number = request.data[0];
    if (number != kAllSensors && number >= sensors.size())
        return reply.nack(kDataOutOfRange);
    for (std::size_t i = 0; i < sensors.size(); ++i)
        if (number == kAllSensors || i == number)
            sensors[i].recorded = sensorReading(sensors[i]);
}

void RdmResponder::getDeviceHours(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    put32(reply.data, readings.device_hours ? readings.device_hours() : 0);
}

// A frame-rate warning while the picture is slow; an advisory while a new
// personality waits for the next start.
std::vector<uint8_t> RdmResponder::statusMessages(uint8_t type) const
{
    std::vector<uint8_t> data;
    auto add = [&](uint8_t severity, uint16_t id, unsigned value) {
        if (severity < type && type != kStatusGetLast)
            return;
        put16(data, kRootDevice);
        data.push_back(severity);
        put16(data, id);
        put16(data, value);
        put16(data, 0);
    };
    const double rate = readings.frame_rate ? readings.frame_rate() : kLowFrameRate;
    if (rate < kLowFrameRate)
        add(kStatusWarning, kStatusLowFrameRate, static_cast<unsigned>(std::max(0.0, rate)));
    if (current.personality != current.running_personality)
        add(kStatusAdvisory, kStatusPersonalityPending, static_cast<unsigned>(current.personality));
    return data;
}

void RdmResponder::getStatusMessages(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const uint8_t type = request.data[0];
    if (type != 0 && (type < kStatusGetLast || type > kStatusError))
        return reply.nack(kDataOutOfRange);
    if (type != 0)
        reply.data = statusMessages(type);
}

// Nothing is ever queued: the answer is the status messages themselves.
void RdmResponder::getQueuedMessage(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    const uint8_t type = request.data[0];
    if (type < kStatusGetLast || type > kStatusError)
        return reply.nack(kDataOutOfRange);
    reply.pid = kStatusMessages;
    reply.data = statusMessages(type);
}

void RdmResponder::getIdentify(const RdmMessage& request, Reply& reply)
{
    if (!request.data.empty())
        return reply.nack(kFormatError);
    reply.data.push_back(current.identify ? 1 : 0);
}

// Identify changes nothing stored, so it is taken with REMOTE_CONFIG off too.
void RdmResponder::setIdentify(const RdmMessage& request, Reply& reply)
{
    if (request.data.size() != 1)
        return reply.nack(kFormatError);
    if (request.data[0] > 1)
        return reply.nack(kDataOutOfRange);
    if (setIdentify(request.data[0] == 1, now_))
        changes |= kIdentifyChanged;
}

bool RdmResponder::setIdentify(bool on, Clock::time_point now)
{
    if (on)
        identify_since = now;
    if (current.identify == on)
        return false;
    current.identify = on;
    return true;
}

bool RdmResponder::expireIdentify(Clock::time_point now)
{
    return current.identify && now - identify_since >= kIdentifyLimit && setIdentify(false, now);
}

} // namespace Spectrafox
