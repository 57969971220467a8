#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Spectrafox {

// ArtDataRequest and its ArtDataReply: a desk asks where the node's product
// page, manual and fixture file are.
class ArtDataRequest {
public:
    enum Code : uint16_t {
        kPoll = 0x0000,
        kUrlProduct = 0x0001,
        kUrlUserGuide = 0x0002,
        kUrlPersGdtf = 0x0005,
    };

    // False for anything but a whole ArtDataRequest of protocol version 14
    // or later.
    static bool parse(const uint8_t* data, std::size_t size, uint16_t* code);
    // The text goes with its terminating zero, cut to the payload's 512 bytes.
    static std::vector<uint8_t> reply(uint16_t code, const std::string& text);
    // DrPoll's answer: the codes answered, high byte first.
    static std::vector<uint8_t> pollReply(const std::vector<uint16_t>& codes);

private:
    static std::vector<uint8_t> replyWith(uint16_t code, const std::vector<uint8_t>& payload);
};

} // namespace Spectrafox
