// The RDM responder against messages as a controller sends them: one golden
// exchange written out byte by byte, then every kind of bad or refused
// request with the E1.20 answer it must get, and nothing half-changed.
#include "network/rdm/rdm_responder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace Spectrafox;

namespace {

const RdmUid kNode(0x7FF0, 0x12345678);
const RdmUid kController(0x7A70, 0x00000001);
const std::chrono::steady_clock::time_point kNow{std::chrono::hours(1)};

RdmResponder makeResponder(int canvases, bool writable)
{
    RdmResponder::Identity identity{kNode, canvases, writable};
    RdmResponder::State state;
    state.dmx_start = 1;
    state.label = "left";
    RdmResponder::Readings readings; // no temperature: one sensor, the frame rate
    readings.frame_rate = [] { return 60.0; };
    return RdmResponder(identity, state, readings);
}

std::vector<uint8_t> request(uint8_t command_class, uint16_t pid, std::vector<uint8_t> data = {},
                             RdmUid destination = kNode, uint16_t sub_device = 0)
{
    RdmMessage message;
    message.destination = destination;
    message.source = kController;
    message.transaction = 7;
    message.port_or_response = 1;
    message.sub_device = sub_device;
    message.command_class = command_class;
    message.pid = pid;
    message.data = std::move(data);
    return message.build();
}

TEST(RdmResponder, AnswersDeviceInfoByteForByte)
{
    const std::vector<uint8_t> get = {
        0x01,                               // sub-start code (the start code 0xCC is not carried)
        0x18,                               // message length: 24, no data
        0x7F, 0xF0, 0x12, 0x34, 0x56, 0x78, // destination UID
        0x7A, 0x70, 0x00, 0x00, 0x00, 0x01, // source UID
        0x01,                               // transaction number
        0x01,                               // port ID
        0x00,                               // message count
        0x00, 0x00,                         // sub-device: root
        0x20,                               // GET_COMMAND
        0x00, 0x60,                         // DEVICE_INFO
        0x00,                               // parameter data length
        0x04, 0xD5,                         // checksum, counting the start code
    };
    const std::vector<uint8_t> expected = {
        0x01, 0x2B,                         // sub-start code, length 24 + 19
        0x7A, 0x70, 0x00, 0x00, 0x00, 0x01, // destination: the controller
        0x7F, 0xF0, 0x12, 0x34, 0x56, 0x78, // source: the node
        0x01, 0x00, 0x00,                   // transaction, ACK, no queued messages
        0x00, 0x00, 0x21, 0x00, 0x60, 0x13, // root, GET_COMMAND_RESPONSE, DEVICE_INFO, 19 bytes
        0x01, 0x00,                         // RDM protocol 1.0
        0x00, 0x01,                         // model
        0x09, 0x02,                         // product category: video / media server
        0x00, 0x00, 0x03, 0x02,             // software version 0.3.2
        0x00, 0x14,                         // footprint: 20 channels, one canvas
        0x01, 0x02,                         // personality 1 of 2
        0x00, 0x01,                         // DMX start address 1
        0x00, 0x00,                         // no sub-devices
        0x01,                               // one sensor: the frame rate
        0x05, 0x26,                         // checksum
    };
    RdmResponder responder = makeResponder(1, true);
    EXPECT_EQ(responder.answer(get.data(), get.size(), kNow).bytes, expected);
}

TEST(RdmResponder, RefusesBadAndForbiddenRequestsWithTheirReasonAndChangesNothing)
{
    enum Outcome { Dropped, Ack, Nack };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Outcome outcome;
        uint16_t reason_or_pid; // the NACK reason, or the PID an ACK answers with
        int canvases = 1;
        bool writable = true;
        int start_after = 1;
    };
    std::vector<uint8_t> bad_checksum = request(Rdm::kGet, Rdm::kDeviceInfo);
    bad_checksum.back() ^= 1;
    std::vector<uint8_t> bad_sub_start = request(Rdm::kGet, Rdm::kDeviceInfo);
    bad_sub_start[0] = 0x02;
    std::vector<uint8_t> data_past_end = request(Rdm::kSet, Rdm::kDeviceLabel, {'a', 'b', 'c'});
    data_past_end.resize(data_past_end.size() - 3);
    std::vector<uint8_t> data_length_lies = request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 50});
    data_length_lies[22] = 3;
    const std::vector<Case> cases = {
        {"wrong checksum", bad_checksum, Dropped, 0},
        {"wrong sub-start code", bad_sub_start, Dropped, 0},
        {"cut short", {0x01, 0x18, 0x7F}, Dropped, 0},
        {"message length past the bytes received", data_past_end, Dropped, 0},
        {"data length against message length", data_length_lies, Dropped, 0},
        {"another device", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 50}, RdmUid(0x7FF0, 1)), Dropped, 0},
        {"unknown parameter", request(Rdm::kGet, 0x8123), Nack, Rdm::kUnknownPid},
        {"GET of a SET-only parameter", request(Rdm::kGet, Rdm::kRecordSensors), Nack,
         Rdm::kUnsupportedCommandClass},
        {"data where none belongs", request(Rdm::kGet, Rdm::kDeviceInfo, {1}), Nack, Rdm::kFormatError},
        {"sub-device", request(Rdm::kGet, Rdm::kDeviceInfo, {}, kNode, 1), Nack, Rdm::kSubDeviceOutOfRange},
        {"start address 0", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 0}), Nack, Rdm::kDataOutOfRange},
        {"start address 510, 25 canvases", request(Rdm::kSet, Rdm::kDmxStartAddress, {0x01, 0xFE}), Nack,
         Rdm::kDataOutOfRange, 25},
        {"start address one byte", request(Rdm::kSet, Rdm::kDmxStartAddress, {50}), Nack, Rdm::kFormatError},
        {"start address without REMOTE_CONFIG", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 50}), Nack,
         Rdm::kWriteProtect, 1, false},
        {"start address", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 50}), Ack, Rdm::kDmxStartAddress, 1,
         true, 50},
        {"highest start address, 25 canvases", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 12}), Ack,
         Rdm::kDmxStartAddress, 25, true, 12},
        {"broadcast start address", request(Rdm::kSet, Rdm::kDmxStartAddress, {0, 60}, RdmUid(0xFFFF, 0xFFFFFFFF)),
         Dropped, 0, 1, true, 60},
        {"label with a control character", request(Rdm::kSet, Rdm::kDeviceLabel, {'a', 0x01, 'b'}), Nack,
         Rdm::kDataOutOfRange},
        {"label of 200 bytes", request(Rdm::kSet, Rdm::kDeviceLabel, std::vector<uint8_t>(200, 'x')), Nack,
         Rdm::kFormatError},
        {"personality 3", request(Rdm::kSet, Rdm::kDmxPersonality, {3}), Nack, Rdm::kDataOutOfRange},
        {"slot past the footprint", request(Rdm::kGet, Rdm::kSlotDescription, {0, 20}), Nack,
         Rdm::kDataOutOfRange},
        {"sensor past the last", request(Rdm::kGet, Rdm::kSensorValue, {1}), Nack, Rdm::kDataOutOfRange},
        {"queued message: the status messages", request(Rdm::kGet, Rdm::kQueuedMessage, {2}), Ack,
         Rdm::kStatusMessages},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RdmResponder responder = makeResponder(c.canvases, c.writable);
        const RdmResponder::Answer answer = responder.answer(c.bytes.data(), c.bytes.size(), kNow);
        EXPECT_EQ(responder.state().dmx_start, c.start_after);
        EXPECT_EQ(responder.state().label, "left");
        EXPECT_EQ(responder.state().personality, 1);
        if (c.outcome == Dropped) {
            EXPECT_TRUE(answer.bytes.empty());
            continue;
        }
        RdmMessage response;
        ASSERT_EQ(RdmMessage::parse(answer.bytes.data(), answer.bytes.size(), &response), RdmMessage::Parse::Ok);
        EXPECT_EQ(response.transaction, 7);
        EXPECT_EQ(response.destination, kController);
        if (c.outcome == Ack) {
            EXPECT_EQ(response.port_or_response, Rdm::kAck);
            EXPECT_EQ(response.pid, c.reason_or_pid);
        } else {
            EXPECT_EQ(response.port_or_response, Rdm::kNackReason);
            EXPECT_EQ(response.data, std::vector<uint8_t>({0, static_cast<uint8_t>(c.reason_or_pid)}));
        }
    }
}

// 25 canvases describe 500 slots: more than one message holds, so the same
// GET brings the next part until the last is acknowledged plainly.
TEST(RdmResponder, SlotInfoOfManyCanvasesComesInPartsThatAddUp)
{
    RdmResponder responder = makeResponder(25, true);
    const std::vector<uint8_t> get = request(Rdm::kGet, Rdm::kSlotInfo);
    std::vector<uint8_t> slots;
    RdmMessage part;
    for (int parts = 0; parts < 20; ++parts) {
        const RdmResponder::Answer answer = responder.answer(get.data(), get.size(), kNow);
        ASSERT_EQ(RdmMessage::parse(answer.bytes.data(), answer.bytes.size(), &part), RdmMessage::Parse::Ok);
        slots.insert(slots.end(), part.data.begin(), part.data.end());
        if (part.port_or_response == Rdm::kAck)
            break;
        ASSERT_EQ(part.port_or_response, 0x03); // ACK_OVERFLOW
    }
    EXPECT_EQ(part.port_or_response, Rdm::kAck);
    ASSERT_EQ(slots.size(), 500u * 5);
    for (std::size_t slot = 0; slot < 500; ++slot)
        ASSERT_EQ(slots[slot * 5] << 8 | slots[slot * 5 + 1], static_cast<int>(slot));
}

} // namespace
