#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "network/rdm/rdm_message.h"
#include "network/rdm/rdm_uid.h"

namespace Spectrafox {

// The node as an RDM responder (root device only): answers the requests
// addressed to its UID, takes broadcast and vendorcast SETs without
// answering, and NACKs what it does not support with the E1.20 reason.
// A request that changes something changes all of it or nothing. It has no
// manufacturer-specific parameter, so PARAMETER_DESCRIPTION is not supported.
//
// Not thread-safe: the Art-Net listener thread alone uses it.
class RdmResponder {
public:
    using Clock = std::chrono::steady_clock;
    // Identify ends by itself after this long.
    static constexpr std::chrono::minutes kIdentifyLimit{5};
    static constexpr int kPersonalities = 2;

    struct Identity {
        RdmUid uid;
        int canvas_count = 1;
        // REMOTE_CONFIG=1: SETs that change what is stored are taken.
        bool writable = false;
    };
    // What the responder reads of the host when asked; any may be empty.
    struct Readings {
        std::function<bool(double*)> temperature; // SoC, degrees Celsius; false: none
        std::function<double()> frame_rate;
        std::function<uint32_t()> device_hours;
    };
    struct State {
        int dmx_start = 1;
        int personality = 1;         // the one chosen
        int running_personality = 1; // the one in force since start-up
        std::string label;
        bool identify = false;
    };
    enum Change : unsigned {
        kStartChanged = 1,
        kPersonalityChanged = 2,
        kLabelChanged = 4,
        kIdentifyChanged = 8,
    };
    struct Answer {
        std::vector<uint8_t> bytes; // without start code; empty: no answer
        unsigned changes = 0;
    };

    RdmResponder(const Identity& identity, const State& state, Readings readings);

    // One message as Art-Net carries it; a malformed message is dropped.
    Answer answer(const uint8_t* data, std::size_t size, Clock::time_point now);
    // True when identify changed.
    bool setIdentify(bool on, Clock::time_point now);
    bool expireIdentify(Clock::time_point now);
    // A start address and personality set from elsewhere, already checked:
    // the change bits, as answer() gives them.
    unsigned setStored(int dmx_start, int personality);

    const State& state() const { return current; }
    const RdmUid& uid() const { return identity.uid; }
    int footprint() const { return identity.canvas_count * kSlotsPerCanvas; }
    // The highest start address that keeps every canvas inside the universe.
    int highestStart() const;
    // STATUS_MESSAGES' warning when the picture falls below this rate.
    static constexpr double kLowFrameRate = 20.0;

private:
    static constexpr int kSlotsPerCanvas = 20;
    struct Reply {
        explicit Reply(uint16_t pid_) : pid(pid_) {}
        uint16_t pid;
        uint8_t response_type = 0;
        std::vector<uint8_t> data;
        bool nacked = false;
        void nack(uint16_t reason);
    };
    struct Sensor {
        bool temperature = false;
        int16_t lowest = 0, highest = 0, recorded = 0;
        bool seen = false;
    };
    using Handler = void (RdmResponder::*)(const RdmMessage&, Reply&);
    struct Parameter {
        uint16_t pid;
        Handler get;
        Handler set;
    };
    static const Parameter kParameters[];

    Answer discovery(const RdmMessage& request);
    std::vector<uint8_t> uniqueBranchAnswer() const;
    void dispatch(const RdmMessage& request, Reply& reply);
    std::vector<uint8_t> respond(const RdmMessage& request, const Reply& reply) const;
    bool writeAllowed(Reply& reply) const;

    void getSupportedParameters(const RdmMessage&, Reply&);
    void getDeviceInfo(const RdmMessage&, Reply&);
    void getModelDescription(const RdmMessage&, Reply&);
    void getManufacturerLabel(const RdmMessage&, Reply&);
    void getSoftwareVersionLabel(const RdmMessage&, Reply&);
    void getDeviceLabel(const RdmMessage&, Reply&);
    void setDeviceLabel(const RdmMessage&, Reply&);
    void getStartAddress(const RdmMessage&, Reply&);
    void setStartAddress(const RdmMessage&, Reply&);
    void getPersonality(const RdmMessage&, Reply&);
    void setPersonality(const RdmMessage&, Reply&);
    void getPersonalityDescription(const RdmMessage&, Reply&);
    void getSlotInfo(const RdmMessage&, Reply&);
    void getSlotDescription(const RdmMessage&, Reply&);
    void getDefaultSlotValue(const RdmMessage&, Reply&);
    void getSensorDefinition(const RdmMessage&, Reply&);
    void getSensorValue(const RdmMessage&, Reply&);
    void setSensorValue(const RdmMessage&, Reply&);
    void setRecordSensors(const RdmMessage&, Reply&);
    void getDeviceHours(const RdmMessage&, Reply&);
    void getStatusMessages(const RdmMessage&, Reply&);
    void getQueuedMessage(const RdmMessage&, Reply&);
    void getIdentify(const RdmMessage&, Reply&);
    void setIdentify(const RdmMessage&, Reply&);

    void overflowing(const RdmMessage& request, Reply& reply, const std::vector<uint8_t>& whole,
                     std::size_t entry_size);
    std::vector<uint8_t> statusMessages(uint8_t type) const;
    int16_t sensorReading(const Sensor& sensor) const;
    void appendSensorValue(std::size_t number, Reply& reply);
    static std::string slotName(int personality, int slot_in_canvas);

    Identity identity;
    State current;
    Readings readings;
    std::vector<Sensor> sensors;
    bool muted = false;
    Clock::time_point identify_since{};
    // An answer larger than one message goes out in parts (ACK_OVERFLOW),
    // each asked for again by the same controller.
    RdmUid overflow_controller;
    uint16_t overflow_pid = 0;
    std::size_t overflow_offset = 0;
    Clock::time_point now_{};
    unsigned changes = 0;
};

} // namespace Spectrafox
