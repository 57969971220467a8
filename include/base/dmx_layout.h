#pragma once

// How the node's canvases sit in one DMX universe. The config loader, the
// channel map and the protocol layouts all count with these.
namespace Spectrafox::Dmx {

constexpr int kUniverseChannels = 512;
// Canvas i reads the block of this many channels from DMX_START + 20 * i.
constexpr int kChannelsPerCanvas = 20;
constexpr int kMaxCanvases = 25;
// The highest DMX_START the config accepts.
constexpr int kMaxStart = 490;

} // namespace Spectrafox::Dmx
