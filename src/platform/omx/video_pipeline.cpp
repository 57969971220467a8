#include "platform/omx/video_pipeline.h"

#include "platform/omx/clock_component.h"
#include "platform/omx/egl_render_component.h"
#include "platform/omx/video_decode_component.h"
#include "platform/omx/video_scheduler_component.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace Spectrafox {

namespace {

// The set-up records carry their own size: 32 and 28 bytes, as on the
// VideoCore, on 32-bit and 64-bit systems alike.
static_assert(sizeof(OMX_TIME_CONFIG_CLOCKSTATETYPE) == 32, "clock record");
static_assert(sizeof(OMX_VIDEO_PARAM_PORTFORMATTYPE) == 28, "format record");

constexpr int port(OMX_U32 index) { return static_cast<int>(index); }

constexpr int kDecoderIn = port(VideoDecodeComponent::kInputPort);
constexpr int kDecoderOut = port(VideoDecodeComponent::kOutputPort);
constexpr int kRendererOut = port(EglRenderComponent::kOutputPort);

} // namespace

VideoPipeline::VideoPipeline(EGLDisplay egl_display, PictureWritten picture_written,
                             void* callback_data, const std::atomic<bool>* keep_waiting_flag)
    : display(egl_display), on_picture(picture_written), userdata(callback_data),
      keep_waiting(keep_waiting_flag)
{
}

VideoPipeline::~VideoPipeline() { tearDown(); }

VideoPipeline::Error VideoPipeline::build()
{
    client = ilclient_init();
    if (client == nullptr)
        return Error::ClientInit;
    if (OMX_Init() != OMX_ErrorNone) {
        ilclient_destroy(client);
        client = nullptr;
        return Error::ClientInit;
    }
    ilclient_set_fill_buffer_done_callback(client, onFillBufferDone, this);
    ilclient_set_keep_waiting_flag(client, keep_waiting);
    Error error = createComponents();
    if (error == Error::None)
        error = setClockWaiting();
    if (error == Error::None)
        error = createComponent(&video_scheduler, "video_scheduler", ILCLIENT_DISABLE_ALL_PORTS);
    if (error == Error::None)
        error = startClock();
    if (error == Error::None)
        error = startInput();
    return error;
}

VideoPipeline::Error VideoPipeline::createComponent(COMPONENT_T** comp, const char* name,
                                                    ILCLIENT_CREATE_FLAGS_T flags)
{
    if (ilclient_create_component(client, comp, name, flags) != 0)
        return Error::Component;
    list[listed++] = *comp;
    return Error::None;
}

VideoPipeline::Error VideoPipeline::createComponents()
{
    Error error = createComponent(&video_decode, "video_decode",
                                  ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS);
    if (error == Error::None)
        error = createComponent(&egl_render, "egl_render",
                                ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_OUTPUT_BUFFERS);
    if (error != Error::None)
        return error;
    // Our egl_render creates its context on the client's display.
    OMX_PARAM_SPECTRAFOX_EGLDISPLAYTYPE target{sizeof(target), omxVersion(), display};
    if (OMX_SetParameter(ilclient_get_handle(egl_render), OMX_IndexParamSpectrafoxEGLDisplay,
                         &target) != OMX_ErrorNone)
        return Error::Component;
    return createComponent(&clock, "clock", ILCLIENT_DISABLE_ALL_PORTS);
}

VideoPipeline::Error VideoPipeline::setClockWaiting()
{
    OMX_TIME_CONFIG_CLOCKSTATETYPE cstate{};
    cstate.nSize = sizeof(cstate);
    cstate.nVersion = omxVersion();
    cstate.eState = OMX_TIME_ClockStateWaitingForStartTime;
    cstate.nWaitMask = 1;
    if (OMX_SetParameter(ilclient_get_handle(clock), OMX_IndexConfigTimeClockState, &cstate) !=
        OMX_ErrorNone)
        return Error::ClockState;
    return Error::None;
}

VideoPipeline::Error VideoPipeline::startClock()
{
    set_tunnel(tunnel, video_decode, kDecoderOut, video_scheduler,
               port(VideoSchedulerComponent::kInputPort));
    set_tunnel(tunnel + 1, video_scheduler, port(VideoSchedulerComponent::kOutputPort), egl_render,
               port(EglRenderComponent::kInputPort));
    set_tunnel(tunnel + 2, clock, port(ClockComponent::kOutputPort), video_scheduler,
               port(VideoSchedulerComponent::kClockPort));
    if (ilclient_setup_tunnel(tunnel + 2, 0, 0) != 0)
        return Error::ClockTunnel;
    ilclient_change_component_state(clock, OMX_StateExecuting);
    return Error::None;
}

VideoPipeline::Error VideoPipeline::startInput()
{
    ilclient_change_component_state(video_decode, OMX_StateIdle);
    OMX_VIDEO_PARAM_PORTFORMATTYPE format{};
    format.nSize = sizeof(format);
    format.nVersion = omxVersion();
    format.nPortIndex = VideoDecodeComponent::kInputPort;
    format.eCompressionFormat = OMX_VIDEO_CodingAVC;
    if (OMX_SetParameter(ilclient_get_handle(video_decode), OMX_IndexParamVideoPortFormat,
                         &format) != OMX_ErrorNone ||
        ilclient_enable_port_buffers(video_decode, kDecoderIn, nullptr, nullptr, nullptr) != 0)
        return Error::InputPort;
    input_enabled = true;
    return Error::None;
}

void VideoPipeline::startStreaming()
{
    first_submission = true;
    ilclient_change_component_state(video_decode, OMX_StateExecuting);
}

bool VideoPipeline::takeInputBuffer()
{
    held = input_enabled ? ilclient_get_input_buffer(video_decode, kDecoderIn, 1) : nullptr;
    return held != nullptr;
}

uint8_t* VideoPipeline::inputData() const { return held != nullptr ? held->pBuffer : nullptr; }

size_t VideoPipeline::inputRoom() const
{
    if (held == nullptr)
        return 0;
    return std::min<size_t>(VideoDecodeComponent::kInputBufferSize, held->nAllocLen);
}

VideoPipeline::Error VideoPipeline::submitInput(size_t length)
{
    if (held == nullptr)
        return Error::Submit;
    held->nFilledLen = static_cast<OMX_U32>(std::min(length, inputRoom()));
    held->nOffset = 0;
    // Only the very first buffer starts the clock; later ones, after a
    // rewind too, carry no time.
    held->nFlags = first_submission ? OMX_BUFFERFLAG_STARTTIME : OMX_BUFFERFLAG_TIME_UNKNOWN;
    first_submission = false;
    if (OMX_EmptyThisBuffer(ilclient_get_handle(video_decode), held) != OMX_ErrorNone)
        return Error::Submit;
    // The decoder has it now: it must not be filled or sent again from here.
    held = nullptr;
    return Error::None;
}

bool VideoPipeline::pictureSizeKnown(bool wait)
{
    if (video_decode == nullptr)
        return false;
    if (!wait)
        return ilclient_remove_event(video_decode, OMX_EventPortSettingsChanged, kDecoderOut, 0, 0,
                                     1) == 0;
    return ilclient_wait_for_event(video_decode, OMX_EventPortSettingsChanged, kDecoderOut, 0, 0, 1,
                                   ILCLIENT_EVENT_ERROR | ILCLIENT_PARAMETER_CHANGED,
                                   kSettingsWaitMs) == 0;
}

VideoPipeline::Error VideoPipeline::complete(const EGLImageKHR* images, int count, int width,
                                             int height, int first)
{
    if (count < 1 || count > kMostImages || first < 0 || first >= count)
        return Error::UseEGLImage;
    Error error = connectRenderer();
    if (error != Error::None)
        return error;
    setTextureSize(width, height);
    if (OMX_SendCommand(ilclient_get_handle(egl_render), OMX_CommandPortEnable,
                        EglRenderComponent::kOutputPort, nullptr) != OMX_ErrorNone)
        return Error::PortEnable;
    error = giveImages(images, count);
    if (error != Error::None)
        return error;
    ilclient_change_component_state(egl_render, OMX_StateExecuting);
    renderer.store(egl_render);
    return fill(first);
}

VideoPipeline::Error VideoPipeline::connectRenderer()
{
    if (ilclient_setup_tunnel(tunnel, 0, 0) != 0)
        return Error::DecoderTunnel;
    ilclient_change_component_state(video_scheduler, OMX_StateExecuting);
    if (ilclient_setup_tunnel(tunnel + 1, 0, kRendererSettingsWaitMs) != 0)
        return Error::RendererTunnel;
    ilclient_change_component_state(egl_render, OMX_StateIdle);
    return Error::None;
}

VideoPipeline::Error VideoPipeline::giveImages(const EGLImageKHR* images, int count)
{
    for (int i = 0; i < count; ++i) {
        OMX_BUFFERHEADERTYPE* header = nullptr;
        if (OMX_UseEGLImage(ilclient_get_handle(egl_render), &header,
                            EglRenderComponent::kOutputPort, nullptr,
                            images[i]) != OMX_ErrorNone)
            return Error::UseEGLImage;
        image_buffers[i].store(header);
    }
    return Error::None;
}

// The renderer scales every picture into the texture's size; without one
// it writes pictures at their own size.
void VideoPipeline::setTextureSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    const OMX_HANDLETYPE handle = ilclient_get_handle(egl_render);
    OMX_PARAM_PORTDEFINITIONTYPE definition{};
    definition.nSize = sizeof(definition);
    definition.nVersion = omxVersion();
    definition.nPortIndex = EglRenderComponent::kOutputPort;
    if (OMX_GetParameter(handle, OMX_IndexParamPortDefinition, &definition) != OMX_ErrorNone)
        return;
    definition.format.video.nFrameWidth = static_cast<OMX_U32>(width);
    definition.format.video.nFrameHeight = static_cast<OMX_U32>(height);
    OMX_SetParameter(handle, OMX_IndexParamPortDefinition, &definition);
}

VideoPipeline::Error VideoPipeline::fill(int image)
{
    COMPONENT_T* const target = renderer.load();
    OMX_BUFFERHEADERTYPE* const buffer =
        image >= 0 && image < kMostImages ? image_buffers[image].load() : nullptr;
    if (target == nullptr || buffer == nullptr ||
        OMX_FillThisBuffer(ilclient_get_handle(target), buffer) != OMX_ErrorNone)
        return Error::Fill;
    return Error::None;
}

void VideoPipeline::onFillBufferDone(void* data, COMPONENT_T*)
{
    VideoPipeline* pipeline = static_cast<VideoPipeline*>(data);
    pipeline->on_picture(pipeline->userdata, *pipeline);
}

// A stop that came while every input buffer was with the decoder leaves none
// in hand, and the end of the stream still has to travel in one. A decoder
// held up by a full pipeline keeps them all: flushing its input port (the
// stream is being dropped anyway) hands them back at once. Only a decoder
// that keeps them even then is given up on.
OMX_BUFFERHEADERTYPE* VideoPipeline::bufferForEndOfStream()
{
    OMX_BUFFERHEADERTYPE* buf = ilclient_get_input_buffer(video_decode, kDecoderIn, 0);
    if (buf != nullptr)
        return buf;
    OMX_SendCommand(ilclient_get_handle(video_decode), OMX_CommandFlush,
                    VideoDecodeComponent::kInputPort, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while ((buf = ilclient_get_input_buffer(video_decode, kDecoderIn, 0)) == nullptr &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return buf;
}

void VideoPipeline::endStream()
{
    if (!input_enabled)
        return;
    if (held == nullptr)
        held = bufferForEndOfStream();
    if (held != nullptr) {
        held->nFilledLen = 0;
        held->nFlags = OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS;
        // Refused or not, the stream ends here.
        OMX_EmptyThisBuffer(ilclient_get_handle(video_decode), held);
        held = nullptr;
    }
    ilclient_flush_tunnels(tunnel, 0);
    ilclient_disable_port_buffers(video_decode, kDecoderIn, nullptr, nullptr, nullptr);
    input_enabled = false;
}

void VideoPipeline::tearDown()
{
    if (client == nullptr)
        return;
    // Input buffers still enabled (no end of stream was sent) go with the port.
    if (input_enabled)
        ilclient_disable_port_buffers(video_decode, kDecoderIn, nullptr, nullptr, nullptr);
    input_enabled = false;
    held = nullptr;
    ilclient_disable_tunnel(tunnel);
    ilclient_disable_tunnel(tunnel + 1);
    ilclient_disable_tunnel(tunnel + 2);
    ilclient_teardown_tunnels(tunnel);
    ilclient_cleanup_components(list);
    listed = 0;
    // The components are gone and no callback can come any more.
    renderer.store(nullptr);
    for (std::atomic<OMX_BUFFERHEADERTYPE*>& buffer : image_buffers)
        buffer.store(nullptr);
    OMX_Deinit();
    ilclient_destroy(client);
    client = nullptr;
    video_decode = video_scheduler = clock = egl_render = nullptr;
    std::fill(std::begin(tunnel), std::end(tunnel), TUNNEL_T{});
}

} // namespace Spectrafox
