#pragma once

#include <cstdint>
#include <string>

namespace Spectrafox {

// An RDM unique ID: ESTA manufacturer code and device ID.
class RdmUid {
public:
    // ESTA's prototyping range: no registered code is needed for it.
    static constexpr uint16_t kPrototypeManufacturer = 0x7FF0;
    static constexpr uint32_t kAllDevices = 0xFFFFFFFF;

    RdmUid() = default;
    RdmUid(uint16_t manufacturer, uint32_t device) : manufacturer(manufacturer), device(device) {}

    // "7ff0:12345678" (hexadecimal, either case); false for anything else.
    static bool parse(const std::string& text, RdmUid* uid);
    // The prototyping manufacturer and the low 32 bits of a MAC address
    // written "aa:bb:cc:dd:ee:ff"; false when the text is no MAC address.
    static bool fromMac(const std::string& mac, RdmUid* uid);
    static RdmUid read(const uint8_t* bytes);
    void write(uint8_t* bytes) const;
    std::string text() const;

    // Whether a message to `destination` is for this device: its own UID,
    // the broadcast UID, or its manufacturer's vendorcast.
    bool receives(const RdmUid& destination) const;
    static bool isBroadcast(const RdmUid& destination) { return destination.device == kAllDevices; }

    bool operator==(const RdmUid& other) const
    {
        return manufacturer == other.manufacturer && device == other.device;
    }
    bool operator<=(const RdmUid& other) const
    {
        return manufacturer < other.manufacturer || (manufacturer == other.manufacturer && device <= other.device);
    }

    uint16_t manufacturer = 0;
    uint32_t device = 0;
};

} // namespace Spectrafox
