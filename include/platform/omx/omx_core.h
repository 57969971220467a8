#pragma once

#include <functional>
#include <string>

namespace Spectrafox {

class OmxComponent;

// The component registry behind OMX_GetHandle. It holds "video_decode",
// "clock", "video_scheduler" and "egl_render" under their full names
// (kNamePrefix + name); tests may put a stand-in in place of one of them.
class OmxCore {
public:
    using Factory = std::function<OmxComponent*()>;

    static constexpr const char* kNamePrefix = "OMX.spectrafox.";

    // Registers a factory under a full name and returns the one it replaced
    // (empty when there was none; registering an empty one removes the name).
    static Factory registerComponent(const std::string& full_name, Factory factory);
    // A new, not yet started component, or null for an unknown name.
    static OmxComponent* create(const std::string& full_name);
};

} // namespace Spectrafox
