#pragma once

#include <cstddef>
#include <cstdint>

// RDM (ANSI E1.20) message layout and the values this responder uses.
// Offsets count from the start code, as the checksum does; Art-Net carries a
// message without its start code.
namespace Spectrafox::Rdm {

constexpr uint8_t kStartCode = 0xCC;
constexpr uint8_t kSubStartCode = 0x01;

constexpr std::size_t kSubStartOffset = 1;
constexpr std::size_t kLengthOffset = 2;         // start code to the end of the data
constexpr std::size_t kDestinationOffset = 3;    // 6 bytes
constexpr std::size_t kSourceOffset = 9;         // 6 bytes
constexpr std::size_t kTransactionOffset = 15;
constexpr std::size_t kPortOrResponseOffset = 16;
constexpr std::size_t kMessageCountOffset = 17;
constexpr std::size_t kSubDeviceOffset = 18;     // 2 bytes, high byte first
constexpr std::size_t kCommandClassOffset = 20;
constexpr std::size_t kPidOffset = 21;           // 2 bytes, high byte first
constexpr std::size_t kDataLengthOffset = 23;
constexpr std::size_t kDataOffset = 24;
constexpr std::size_t kChecksumSize = 2;
constexpr std::size_t kMaxDataLength = 231;      // so the length byte stays within 255
constexpr std::size_t kUidSize = 6;

enum CommandClass : uint8_t {
    kDiscovery = 0x10,
    kDiscoveryResponse = 0x11,
    kGet = 0x20,
    kGetResponse = 0x21,
    kSet = 0x30,
    kSetResponse = 0x31,
};

enum ResponseType : uint8_t {
    kAck = 0x00,
    kNackReason = 0x02,
};

enum NackReason : uint16_t {
    kUnknownPid = 0x0000,
    kFormatError = 0x0001,
    kWriteProtect = 0x0004,
    kUnsupportedCommandClass = 0x0005,
    kDataOutOfRange = 0x0006,
    kSubDeviceOutOfRange = 0x0009,
};

enum Pid : uint16_t {
    kDiscUniqueBranch = 0x0001,
    kDiscMute = 0x0002,
    kDiscUnMute = 0x0003,
    kQueuedMessage = 0x0020,
    kStatusMessages = 0x0030,
    kSupportedParameters = 0x0050,
    kParameterDescription = 0x0051,
    kDeviceInfo = 0x0060,
    kDeviceModelDescription = 0x0080,
    kManufacturerLabel = 0x0081,
    kDeviceLabel = 0x0082,
    kSoftwareVersionLabel = 0x00C0,
    kDmxPersonality = 0x00E0,
    kDmxPersonalityDescription = 0x00E1,
    kDmxStartAddress = 0x00F0,
    kSlotInfo = 0x0120,
    kSlotDescription = 0x0121,
    kDefaultSlotValue = 0x0122,
    kSensorDefinition = 0x0200,
    kSensorValue = 0x0201,
    kRecordSensors = 0x0202,
    kDeviceHours = 0x0400,
    kIdentifyDevice = 0x1000,
};

constexpr uint16_t kRootDevice = 0x0000;
constexpr uint16_t kAllSubDevices = 0xFFFF;
constexpr uint16_t kProductCategoryVideo = 0x0902; // AV: video server / media server
constexpr uint16_t kProtocolVersion = 0x0100;
constexpr std::size_t kMaxLabel = 32;

// DISC_UNIQUE_BRANCH is answered without a header: a preamble, a separator
// and the UID and checksum, each byte sent twice (| 0xAA, | 0x55).
constexpr uint8_t kDubPreamble = 0xFE;
constexpr uint8_t kDubSeparator = 0xAA;

} // namespace Spectrafox::Rdm
