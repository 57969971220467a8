#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/show_clock.h"
#include "artnet_receiver.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"
#include "network/network_interface.h"

namespace Spectrafox {

// What only the render thread may look at, copied out every so often.
struct RenderState {
    double frame_rate = 0.0;
    long frames = 0;
    std::vector<SlotReport> slots;
};

// The screen as last read back, scaled down: RGB, top row first.
struct PreviewPicture {
    int width = 0;
    int height = 0;
    long generation = 0;
    std::vector<unsigned char> rgb;
};

// Where the status page finds what is not the render thread's: each is
// called on the web server's thread and must not wait for the render loop.
struct NodeSources {
    // Key (with its '=') and value as in force.
    std::vector<std::pair<std::string, std::string>> config;
    int dmx_start = 1;
    int canvas_count = 1;
    std::function<ArtnetReceiver::InputReport()> inputs;
    std::function<std::vector<InterfaceAddressEntry>()> addresses;
    // Resident memory of the process in bytes.
    std::function<long long()> memory_in_use;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // The show clock's state; empty without TIMECODE= (reported as null).
    std::function<ShowClock::Snapshot()> timecode;
    // Whether the test pattern is shown instead of the canvases.
    std::function<bool()> test_pattern;
    // What ArtDataReply points desks at (RDM=1, REMOTE_CONFIG=1): the manual
    // and the GDTF fixture file, read at start-up; empty: not served.
    std::string manual;
    std::string fixture_gdtf;
};

} // namespace Spectrafox
