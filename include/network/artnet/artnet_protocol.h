#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/dmx_layout.h"
#include "base/product_identity.h"

// Art-Net packet layouts as this node reads and writes them. Offsets are
// counted in bytes from the start of the UDP payload.
namespace Spectrafox::Artnet {

constexpr uint16_t kPort = 6454;

// Every packet starts with the ID and a 16-bit OpCode, low byte first.
constexpr std::array<uint8_t, 8> kId = {'A', 'r', 't', '-', 'N', 'e', 't', 0};
constexpr std::size_t kOpCodeOffset = 8;
// ID and OpCode together: all that an ArtPoll needs to be recognised.
constexpr std::size_t kHeaderSize = 10;

constexpr uint16_t kOpPoll = 0x2000;
constexpr uint16_t kOpPollReply = 0x2100;
constexpr uint16_t kOpDmx = 0x5000;
constexpr uint16_t kOpSync = 0x5200;
constexpr uint16_t kOpTimeCode = 0x9700;
constexpr uint16_t kOpAddress = 0x6000;
constexpr uint16_t kOpDataRequest = 0x2700;
constexpr uint16_t kOpDataReply = 0x2800;
constexpr uint16_t kOpTodRequest = 0x8000;
constexpr uint16_t kOpTodData = 0x8100;
constexpr uint16_t kOpTodControl = 0x8200;
constexpr uint16_t kOpRdm = 0x8300;

// ArtDmx
constexpr std::size_t kDmxSubUniOffset = 14; // high nibble sub-net, low nibble universe
constexpr std::size_t kDmxNetOffset = 15;    // examined only when a Net is configured
constexpr std::size_t kDmxLengthOffset = 16; // channel count, high byte first
constexpr std::size_t kDmxDataOffset = 18;
constexpr int kDmxMinChannels = 2;
constexpr int kDmxUniverseChannels = Dmx::kUniverseChannels;

using DmxUniverse = std::array<uint8_t, kDmxUniverseChannels>;

// ArtTimeCode
constexpr std::size_t kTimeCodeSize = 19;
constexpr std::size_t kProtVerOffset = 10;   // 2 bytes, high byte first
constexpr uint16_t kProtVer = 14;
constexpr std::size_t kTimeCodeStreamOffset = 13;
constexpr std::size_t kTimeCodeFramesOffset = 14;
constexpr std::size_t kTimeCodeSecondsOffset = 15;
constexpr std::size_t kTimeCodeMinutesOffset = 16;
constexpr std::size_t kTimeCodeHoursOffset = 17;
constexpr std::size_t kTimeCodeTypeOffset = 18;

// The Net is the top seven bits of the 15-bit Port-Address.
constexpr int kMaxNet = 127;

// ArtPollReply
constexpr std::size_t kPollReplySize = 239;
constexpr std::size_t kReplyIpOffset = 10;      // 4 bytes, most significant first
constexpr std::size_t kReplyPortOffset = 14;    // 2 bytes, low byte first
constexpr std::size_t kReplyVersInfoHOffset = 16;
constexpr std::size_t kReplyVersInfoLOffset = 17;
constexpr std::size_t kReplyNetSwitchOffset = 18;
constexpr std::size_t kReplySubSwitchOffset = 19;
constexpr std::size_t kReplyOemHiOffset = 20;
constexpr std::size_t kReplyOemLoOffset = 21;
constexpr std::size_t kReplyUbeaOffset = 22;
constexpr std::size_t kReplyStatus1Offset = 23;
constexpr std::size_t kReplyEstaManLoOffset = 24;
constexpr std::size_t kReplyEstaManHiOffset = 25;
constexpr std::size_t kReplyShortNameOffset = 26;
constexpr std::size_t kReplyShortNameSize = 18;
constexpr std::size_t kReplyLongNameOffset = 44;
constexpr std::size_t kReplyLongNameSize = 64;
constexpr std::size_t kReplyNodeReportOffset = 108;
constexpr std::size_t kReplyNodeReportSize = 64;
constexpr std::size_t kReplyNumPortsHiOffset = 172;
constexpr std::size_t kReplyNumPortsLoOffset = 173;
constexpr std::size_t kReplyPortTypesOffset = 174; // 4 bytes
constexpr std::size_t kReplyGoodInputOffset = 178;  // 4 bytes
constexpr std::size_t kReplyGoodOutputOffset = 182; // 4 bytes
constexpr std::size_t kReplySwInOffset = 186;       // 4 bytes
constexpr std::size_t kReplySwOutOffset = 190;      // 4 bytes
constexpr std::size_t kReplyStyleOffset = 200;
constexpr std::size_t kReplyMacOffset = 201;        // 6 bytes
constexpr std::size_t kReplyBindIpOffset = 207;     // 4 bytes

constexpr uint16_t kOemCode = 0x00FF;
constexpr uint8_t kPortTypeDmxOutput = 0x80;   // port outputs DMX512 taken from the network
constexpr uint8_t kGoodOutputTransmitting = 0x80;
constexpr uint8_t kStyleNode = 0;
constexpr uint8_t kStatus1RdmCapable = 0x02;

// ArtTodRequest, ArtTodData, ArtTodControl and ArtRdm share their first 24
// bytes: ProtVer, then RdmVer (TodData, Rdm), Net at 21, Command at 22 and
// the port's low address byte at 23.
constexpr std::size_t kRdmVersionOffset = 12;
constexpr uint8_t kRdmVersion = 0x01; // E1.20
constexpr std::size_t kRdmNetOffset = 21;
constexpr std::size_t kRdmCommandOffset = 22;
constexpr std::size_t kRdmAddressOffset = 23;
constexpr std::size_t kRdmHeaderSize = 24;
constexpr std::size_t kTodRequestCountOffset = 23; // then that many addresses
constexpr std::size_t kTodDataPortOffset = 13;
constexpr std::size_t kTodDataCommandOffset = 22;
constexpr std::size_t kTodDataAddressOffset = 23;
constexpr std::size_t kTodDataTotalOffset = 24;    // 2 bytes, high byte first
constexpr std::size_t kTodDataBlockOffset = 26;
constexpr std::size_t kTodDataCountOffset = 27;
constexpr std::size_t kTodDataUidsOffset = 28;
constexpr uint8_t kTodFull = 0x00;
constexpr uint8_t kTodFlush = 0x01;
constexpr uint8_t kRdmProcess = 0x00;

// ArtAddress
constexpr std::size_t kAddressSize = 107;
constexpr std::size_t kAddressNetSwitchOffset = 12;
constexpr std::size_t kAddressShortNameOffset = 14;
constexpr std::size_t kAddressLongNameOffset = 32;
constexpr std::size_t kAddressSwOutOffset = 100;
constexpr std::size_t kAddressSubSwitchOffset = 104;
constexpr std::size_t kAddressCommandOffset = 106;

// ArtDataRequest and ArtDataReply: ESTA and OEM codes, then the request, all
// high byte first.
constexpr std::size_t kDataRequestSize = 40;
constexpr std::size_t kDataOemOffset = 14;
constexpr std::size_t kDataRequestCodeOffset = 16;
constexpr std::size_t kDataReplyLengthOffset = 18;
constexpr std::size_t kDataReplyPayloadOffset = 20;
constexpr std::size_t kDataReplyMaxPayload = 512;

constexpr const char* kShortName = Product::kShortName;
constexpr const char* kLongName = Product::kName;
constexpr const char* kNodeReport = "#0001 [0000] Status: OK!";

} // namespace Spectrafox::Artnet
