#pragma once

#include <string>

// The build passes the version from project() in CMakeLists.txt.
#ifndef SPECTRAFOX_VERSION
#error "SPECTRAFOX_VERSION must be defined by the build"
#endif

// What the node calls itself on the terminal and in its ArtPollReply.
namespace Spectrafox::Product {

constexpr const char* kName = "Raspberry Pi Spectrafox";
constexpr const char* kShortName = "RPI Spectrafox";
constexpr const char* kVersion = SPECTRAFOX_VERSION;

// "Raspberry Pi Spectrafox | Version: 0.3.2"
inline std::string versionLine()
{
    return std::string(kName) + " | Version: " + kVersion;
}

} // namespace Spectrafox::Product
