#pragma once

// The part of the OpenMAX IL 1.1.2 interface that our IL layer and the video
// player use: the records, enumerations and constants with the standard's
// names, layouts and values, and the core entry points. Nothing else of the
// standard is declared here; add a name when a caller needs it.
//
// OMX_U32 and friends have the widths the standard gives them on every
// system, so a record has the same size on 32-bit and 64-bit Raspberry Pi OS.
// Ticks are kept as two 32-bit halves, as on the VideoCore platform whose
// records the player fills in.

#include <cstdint>

using OMX_U8 = std::uint8_t;
using OMX_S8 = std::int8_t;
using OMX_U16 = std::uint16_t;
using OMX_S16 = std::int16_t;
using OMX_U32 = std::uint32_t;
using OMX_S32 = std::int32_t;
using OMX_PTR = void*;
using OMX_STRING = char*;
using OMX_HANDLETYPE = void*;
using OMX_NATIVE_DEVICETYPE = void*;
using OMX_NATIVE_WINDOWTYPE = void*;
using OMX_UUIDTYPE = unsigned char[128];

#define OMX_ALL 0xFFFFFFFF
#define OMX_MAX_STRINGNAME_SIZE 128

#define OMX_BUFFERFLAG_EOS 0x00000001
#define OMX_BUFFERFLAG_STARTTIME 0x00000002
// A VideoCore flag, not in the standard: the buffer's time stamp means nothing.
#define OMX_BUFFERFLAG_TIME_UNKNOWN 0x00000100

enum OMX_BOOL { OMX_FALSE = 0, OMX_TRUE = !OMX_FALSE, OMX_BOOL_MAX = 0x7FFFFFFF };

union OMX_VERSIONTYPE {
    struct {
        OMX_U8 nVersionMajor;
        OMX_U8 nVersionMinor;
        OMX_U8 nRevision;
        OMX_U8 nStep;
    } s;
    OMX_U32 nVersion;
};

struct OMX_TICKS {
    OMX_U32 nLowPart;
    OMX_U32 nHighPart;
};

enum OMX_DIRTYPE { OMX_DirInput, OMX_DirOutput, OMX_DirMax = 0x7FFFFFFF };

enum OMX_ERRORTYPE : OMX_S32 {
    OMX_ErrorNone = 0,
    OMX_ErrorInsufficientResources = static_cast<OMX_S32>(0x80001000),
    OMX_ErrorUndefined = static_cast<OMX_S32>(0x80001001),
    OMX_ErrorInvalidComponentName = static_cast<OMX_S32>(0x80001002),
    OMX_ErrorComponentNotFound = static_cast<OMX_S32>(0x80001003),
    OMX_ErrorInvalidComponent = static_cast<OMX_S32>(0x80001004),
    OMX_ErrorBadParameter = static_cast<OMX_S32>(0x80001005),
    OMX_ErrorNotImplemented = static_cast<OMX_S32>(0x80001006),
    OMX_ErrorUnderflow = static_cast<OMX_S32>(0x80001007),
    OMX_ErrorOverflow = static_cast<OMX_S32>(0x80001008),
    OMX_ErrorHardware = static_cast<OMX_S32>(0x80001009),
    OMX_ErrorInvalidState = static_cast<OMX_S32>(0x8000100A),
    OMX_ErrorStreamCorrupt = static_cast<OMX_S32>(0x8000100B),
    OMX_ErrorPortsNotCompatible = static_cast<OMX_S32>(0x8000100C),
    OMX_ErrorResourcesLost = static_cast<OMX_S32>(0x8000100D),
    OMX_ErrorNoMore = static_cast<OMX_S32>(0x8000100E),
    OMX_ErrorVersionMismatch = static_cast<OMX_S32>(0x8000100F),
    OMX_ErrorNotReady = static_cast<OMX_S32>(0x80001010),
    OMX_ErrorTimeout = static_cast<OMX_S32>(0x80001011),
    OMX_ErrorSameState = static_cast<OMX_S32>(0x80001012),
    OMX_ErrorIncorrectStateTransition = static_cast<OMX_S32>(0x80001017),
    OMX_ErrorIncorrectStateOperation = static_cast<OMX_S32>(0x80001018),
    OMX_ErrorUnsupportedSetting = static_cast<OMX_S32>(0x80001019),
    OMX_ErrorUnsupportedIndex = static_cast<OMX_S32>(0x8000101A),
    OMX_ErrorBadPortIndex = static_cast<OMX_S32>(0x8000101B),
    OMX_ErrorPortUnpopulated = static_cast<OMX_S32>(0x8000101C),
    OMX_ErrorMax = 0x7FFFFFFF
};

enum OMX_COMMANDTYPE {
    OMX_CommandStateSet,
    OMX_CommandFlush,
    OMX_CommandPortDisable,
    OMX_CommandPortEnable,
    OMX_CommandMarkBuffer,
    OMX_CommandMax = 0x7FFFFFFF
};

enum OMX_STATETYPE {
    OMX_StateInvalid,
    OMX_StateLoaded,
    OMX_StateIdle,
    OMX_StateExecuting,
    OMX_StatePause,
    OMX_StateWaitForResources,
    OMX_StateMax = 0x7FFFFFFF
};

enum OMX_EVENTTYPE {
    OMX_EventCmdComplete,
    OMX_EventError,
    OMX_EventMark,
    OMX_EventPortSettingsChanged,
    OMX_EventBufferFlag,
    OMX_EventResourcesAcquired,
    OMX_EventComponentResumed,
    OMX_EventDynamicResourcesAvailable,
    OMX_EventPortFormatDetected,
    OMX_EventMax = 0x7FFFFFFF
};

enum OMX_BUFFERSUPPLIERTYPE {
    OMX_BufferSupplyUnspecified = 0x0,
    OMX_BufferSupplyInput,
    OMX_BufferSupplyOutput,
    OMX_BufferSupplyMax = 0x7FFFFFFF
};

enum OMX_PORTDOMAINTYPE {
    OMX_PortDomainAudio,
    OMX_PortDomainVideo,
    OMX_PortDomainImage,
    OMX_PortDomainOther,
    OMX_PortDomainMax = 0x7ffffff
};

enum OMX_INDEXTYPE {
    OMX_IndexComponentStartUnused = 0x01000000,
    OMX_IndexParamPriorityMgmt,
    OMX_IndexParamAudioInit,
    OMX_IndexParamImageInit,
    OMX_IndexParamVideoInit,
    OMX_IndexParamOtherInit,
    OMX_IndexPortStartUnused = 0x02000000,
    OMX_IndexParamPortDefinition,
    OMX_IndexVideoStartUnused = 0x06000000,
    OMX_IndexParamVideoPortFormat,
    OMX_IndexTimeStartUnused = 0x09000000,
    OMX_IndexConfigTimeScale,
    OMX_IndexConfigTimeClockState,
    OMX_IndexVendorStartUnused = 0x7F000000,
    OMX_IndexMax = 0x7FFFFFFF
};

enum OMX_VIDEO_CODINGTYPE {
    OMX_VIDEO_CodingUnused,
    OMX_VIDEO_CodingAutoDetect,
    OMX_VIDEO_CodingMPEG2,
    OMX_VIDEO_CodingH263,
    OMX_VIDEO_CodingMPEG4,
    OMX_VIDEO_CodingWMV,
    OMX_VIDEO_CodingRV,
    OMX_VIDEO_CodingAVC,
    OMX_VIDEO_CodingMJPEG,
    OMX_VIDEO_CodingMax = 0x7FFFFFFF
};

// Only the "no colour format" value is used; the field keeps its width.
enum OMX_COLOR_FORMATTYPE { OMX_COLOR_FormatUnused, OMX_COLOR_FormatMax = 0x7FFFFFFF };

enum OMX_TIME_CLOCKSTATE {
    OMX_TIME_ClockStateRunning,
    OMX_TIME_ClockStateWaitingForStartTime,
    OMX_TIME_ClockStateStopped,
    OMX_TIME_ClockStateMax = 0x7FFFFFFF
};

struct OMX_BUFFERHEADERTYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U8* pBuffer;
    OMX_U32 nAllocLen;
    OMX_U32 nFilledLen;
    OMX_U32 nOffset;
    OMX_PTR pAppPrivate;
    OMX_PTR pPlatformPrivate;
    OMX_PTR pInputPortPrivate;
    OMX_PTR pOutputPortPrivate;
    OMX_HANDLETYPE hMarkTargetComponent;
    OMX_PTR pMarkData;
    OMX_U32 nTickCount;
    OMX_TICKS nTimeStamp;
    OMX_U32 nFlags;
    OMX_U32 nOutputPortIndex;
    OMX_U32 nInputPortIndex;
};

struct OMX_PORT_PARAM_TYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPorts;
    OMX_U32 nStartPortNumber;
};

struct OMX_VIDEO_PORTDEFINITIONTYPE {
    OMX_STRING cMIMEType;
    OMX_NATIVE_DEVICETYPE pNativeRender;
    OMX_U32 nFrameWidth;
    OMX_U32 nFrameHeight;
    OMX_S32 nStride;
    OMX_U32 nSliceHeight;
    OMX_U32 nBitrate;
    OMX_U32 xFramerate; // Q16
    OMX_BOOL bFlagErrorConcealment;
    OMX_VIDEO_CODINGTYPE eCompressionFormat;
    OMX_COLOR_FORMATTYPE eColorFormat;
    OMX_NATIVE_WINDOWTYPE pNativeWindow;
};

// The standard's format union also holds audio, image and other port
// definitions; all are smaller than the video one, which sets its size.
struct OMX_PARAM_PORTDEFINITIONTYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_DIRTYPE eDir;
    OMX_U32 nBufferCountActual;
    OMX_U32 nBufferCountMin;
    OMX_U32 nBufferSize;
    OMX_BOOL bEnabled;
    OMX_BOOL bPopulated;
    OMX_PORTDOMAINTYPE eDomain;
    union {
        OMX_VIDEO_PORTDEFINITIONTYPE video;
    } format;
    OMX_BOOL bBuffersContiguous;
    OMX_U32 nBufferAlignment;
};

struct OMX_VIDEO_PARAM_PORTFORMATTYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_U32 nPortIndex;
    OMX_U32 nIndex;
    OMX_VIDEO_CODINGTYPE eCompressionFormat;
    OMX_COLOR_FORMATTYPE eColorFormat;
    OMX_U32 xFramerate;
};

struct OMX_TIME_CONFIG_CLOCKSTATETYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_TIME_CLOCKSTATE eState;
    OMX_TICKS nStartTime;
    OMX_TICKS nOffset;
    OMX_U32 nWaitMask;
};

struct OMX_TUNNELSETUPTYPE {
    OMX_U32 nTunnelFlags;
    OMX_BUFFERSUPPLIERTYPE eSupplier;
};

struct OMX_CALLBACKTYPE {
    OMX_ERRORTYPE (*EventHandler)(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                  OMX_EVENTTYPE eEvent, OMX_U32 nData1, OMX_U32 nData2,
                                  OMX_PTR pEventData);
    OMX_ERRORTYPE (*EmptyBufferDone)(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                     OMX_BUFFERHEADERTYPE* pBuffer);
    OMX_ERRORTYPE (*FillBufferDone)(OMX_HANDLETYPE hComponent, OMX_PTR pAppData,
                                    OMX_BUFFERHEADERTYPE* pBuffer);
};

// The component handle: its methods in the standard's order.
struct OMX_COMPONENTTYPE {
    OMX_U32 nSize;
    OMX_VERSIONTYPE nVersion;
    OMX_PTR pComponentPrivate;
    OMX_PTR pApplicationPrivate;
    OMX_ERRORTYPE (*GetComponentVersion)(OMX_HANDLETYPE hComponent, OMX_STRING pComponentName,
                                         OMX_VERSIONTYPE* pComponentVersion,
                                         OMX_VERSIONTYPE* pSpecVersion,
                                         OMX_UUIDTYPE* pComponentUUID);
    OMX_ERRORTYPE (*SendCommand)(OMX_HANDLETYPE hComponent, OMX_COMMANDTYPE Cmd, OMX_U32 nParam1,
                                 OMX_PTR pCmdData);
    OMX_ERRORTYPE (*GetParameter)(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nParamIndex,
                                  OMX_PTR pComponentParameterStructure);
    OMX_ERRORTYPE (*SetParameter)(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex,
                                  OMX_PTR pComponentParameterStructure);
    OMX_ERRORTYPE (*GetConfig)(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex,
                               OMX_PTR pComponentConfigStructure);
    OMX_ERRORTYPE (*SetConfig)(OMX_HANDLETYPE hComponent, OMX_INDEXTYPE nIndex,
                               OMX_PTR pComponentConfigStructure);
    OMX_ERRORTYPE (*GetExtensionIndex)(OMX_HANDLETYPE hComponent, OMX_STRING cParameterName,
                                       OMX_INDEXTYPE* pIndexType);
    OMX_ERRORTYPE (*GetState)(OMX_HANDLETYPE hComponent, OMX_STATETYPE* pState);
    OMX_ERRORTYPE (*ComponentTunnelRequest)(OMX_HANDLETYPE hComp, OMX_U32 nPort,
                                            OMX_HANDLETYPE hTunneledComp, OMX_U32 nTunneledPort,
                                            OMX_TUNNELSETUPTYPE* pTunnelSetup);
    OMX_ERRORTYPE (*UseBuffer)(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBufferHdr,
                               OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes,
                               OMX_U8* pBuffer);
    OMX_ERRORTYPE (*AllocateBuffer)(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBuffer,
                                    OMX_U32 nPortIndex, OMX_PTR pAppPrivate, OMX_U32 nSizeBytes);
    OMX_ERRORTYPE (*FreeBuffer)(OMX_HANDLETYPE hComponent, OMX_U32 nPortIndex,
                                OMX_BUFFERHEADERTYPE* pBuffer);
    OMX_ERRORTYPE (*EmptyThisBuffer)(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer);
    OMX_ERRORTYPE (*FillThisBuffer)(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE* pBuffer);
    OMX_ERRORTYPE (*SetCallbacks)(OMX_HANDLETYPE hComponent, OMX_CALLBACKTYPE* pCallbacks,
                                  OMX_PTR pAppData);
    OMX_ERRORTYPE (*ComponentDeInit)(OMX_HANDLETYPE hComponent);
    OMX_ERRORTYPE (*UseEGLImage)(OMX_HANDLETYPE hComponent, OMX_BUFFERHEADERTYPE** ppBufferHdr,
                                 OMX_U32 nPortIndex, OMX_PTR pAppPrivate, void* eglImage);
    OMX_ERRORTYPE (*ComponentRoleEnum)(OMX_HANDLETYPE hComponent, OMX_U8* cRole, OMX_U32 nIndex);
};

// The sizes the records have on the VideoCore (32-bit) platform, where the
// player fills them in; with the fixed-width fields above they hold here too.
static_assert(sizeof(OMX_VERSIONTYPE) == 4, "version record");
static_assert(sizeof(OMX_TICKS) == 8 && alignof(OMX_TICKS) == 4, "ticks in two halves");
static_assert(sizeof(OMX_TIME_CONFIG_CLOCKSTATETYPE) == 32, "clock state record");
static_assert(sizeof(OMX_VIDEO_PARAM_PORTFORMATTYPE) == 28, "port format record");
static_assert(sizeof(OMX_PORT_PARAM_TYPE) == 16, "port range record");
static_assert(sizeof(OMX_TUNNELSETUPTYPE) == 8, "tunnel set-up record");
static_assert(sizeof(void*) != 4 || sizeof(OMX_PARAM_PORTDEFINITIONTYPE) == 96,
              "port definition record");
static_assert(sizeof(void*) != 4 || sizeof(OMX_BUFFERHEADERTYPE) == 72, "buffer header");

// Core entry points, with C linkage as the standard declares them.
extern "C" {
OMX_ERRORTYPE OMX_Init(void);
OMX_ERRORTYPE OMX_Deinit(void);
OMX_ERRORTYPE OMX_GetHandle(OMX_HANDLETYPE* pHandle, OMX_STRING cComponentName, OMX_PTR pAppData,
                            OMX_CALLBACKTYPE* pCallBacks);
OMX_ERRORTYPE OMX_FreeHandle(OMX_HANDLETYPE hComponent);
OMX_ERRORTYPE OMX_SetupTunnel(OMX_HANDLETYPE hOutput, OMX_U32 nPortOutput, OMX_HANDLETYPE hInput,
                              OMX_U32 nPortInput);
}

// The standard's component macros, as functions: each calls the method of
// the component handle.
inline OMX_COMPONENTTYPE* omxComponentOf(OMX_HANDLETYPE handle)
{
    return static_cast<OMX_COMPONENTTYPE*>(handle);
}

inline OMX_ERRORTYPE OMX_SendCommand(OMX_HANDLETYPE handle, OMX_COMMANDTYPE command, OMX_U32 param,
                                     OMX_PTR data)
{
    return omxComponentOf(handle)->SendCommand(handle, command, param, data);
}

inline OMX_ERRORTYPE OMX_GetParameter(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return omxComponentOf(handle)->GetParameter(handle, index, data);
}

inline OMX_ERRORTYPE OMX_SetParameter(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return omxComponentOf(handle)->SetParameter(handle, index, data);
}

inline OMX_ERRORTYPE OMX_GetConfig(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return omxComponentOf(handle)->GetConfig(handle, index, data);
}

inline OMX_ERRORTYPE OMX_SetConfig(OMX_HANDLETYPE handle, OMX_INDEXTYPE index, OMX_PTR data)
{
    return omxComponentOf(handle)->SetConfig(handle, index, data);
}

inline OMX_ERRORTYPE OMX_GetState(OMX_HANDLETYPE handle, OMX_STATETYPE* state)
{
    return omxComponentOf(handle)->GetState(handle, state);
}

inline OMX_ERRORTYPE OMX_AllocateBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE** header,
                                        OMX_U32 port, OMX_PTR app_private, OMX_U32 size)
{
    return omxComponentOf(handle)->AllocateBuffer(handle, header, port, app_private, size);
}

inline OMX_ERRORTYPE OMX_FreeBuffer(OMX_HANDLETYPE handle, OMX_U32 port,
                                    OMX_BUFFERHEADERTYPE* header)
{
    return omxComponentOf(handle)->FreeBuffer(handle, port, header);
}

inline OMX_ERRORTYPE OMX_EmptyThisBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
{
    return omxComponentOf(handle)->EmptyThisBuffer(handle, header);
}

inline OMX_ERRORTYPE OMX_FillThisBuffer(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
{
    return omxComponentOf(handle)->FillThisBuffer(handle, header);
}

inline OMX_ERRORTYPE OMX_UseEGLImage(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE** header,
                                     OMX_U32 port, OMX_PTR app_private, void* egl_image)
{
    return omxComponentOf(handle)->UseEGLImage(handle, header, port, app_private, egl_image);
}
