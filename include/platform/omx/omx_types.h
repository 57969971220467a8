#pragma once

// The one way into the OpenMAX IL interface for this code base.
#include "platform/omx/openmax_il.h"

#include <cstdint>

namespace Spectrafox {

// Every record passed through this layer carries IL version 1.1.2.0.
inline OMX_VERSIONTYPE omxVersion()
{
    OMX_VERSIONTYPE version;
    version.s.nVersionMajor = 1;
    version.s.nVersionMinor = 1;
    version.s.nRevision = 2;
    version.s.nStep = 0;
    return version;
}

inline int64_t fromOmxTicks(OMX_TICKS ticks)
{
    return static_cast<int64_t>((static_cast<uint64_t>(ticks.nHighPart) << 32) | ticks.nLowPart);
}

inline OMX_TICKS toOmxTicks(int64_t value)
{
    OMX_TICKS ticks;
    ticks.nLowPart = static_cast<OMX_U32>(static_cast<uint64_t>(value) & 0xffffffffu);
    ticks.nHighPart = static_cast<OMX_U32>(static_cast<uint64_t>(value) >> 32);
    return ticks;
}

// Vendor parameter of "egl_render": the EGL display on which it creates its
// own rendering context. It must be set before the component leaves Loaded.
constexpr OMX_INDEXTYPE OMX_IndexParamSpectrafoxEGLDisplay =
    static_cast<OMX_INDEXTYPE>(OMX_IndexVendorStartUnused + 1);

struct OMX_PARAM_SPECTRAFOX_EGLDISPLAYTYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_PTR pDisplay; // an EGLDisplay
};

} // namespace Spectrafox
