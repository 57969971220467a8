#pragma once

// The one way into the Khronos OpenMAX IL 1.1.2 headers for this code base.
// Ticks are split into two 32-bit halves, as on the VideoCore platform whose
// records the video player fills in: with a 32-bit OMX_U32 (the header's
// unsigned long on a 32-bit system) the clock-state record is then 32 bytes.
#define OMX_SKIP64BIT
#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_Other.h>
#include <OMX_Types.h>
#include <OMX_Video.h>

#include <cstdint>

// Buffer flag of the VideoCore IL components, which the standard headers lack:
// the buffer's time stamp means nothing.
#ifndef OMX_BUFFERFLAG_TIME_UNKNOWN
#define OMX_BUFFERFLAG_TIME_UNKNOWN 0x00000100
#endif

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
