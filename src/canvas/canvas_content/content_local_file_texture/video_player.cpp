#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include "fatal_error.h"

#include <chrono>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Spectrafox {

namespace {

constexpr int kPacketSize = 81920;
constexpr int kSettingsWaitMs = 10000;
constexpr int kRendererSettingsWaitMs = 1000;

// The set-up records carry their own size: 32 and 28 bytes, as on the
// VideoCore, on 32-bit and 64-bit systems alike.
static_assert(sizeof(OMX_TIME_CONFIG_CLOCKSTATETYPE) == 32, "clock record");
static_assert(sizeof(OMX_VIDEO_PARAM_PORTFORMATTYPE) == 28, "format record");

// A broken video pipeline ends the process.
[[noreturn]] void failAndExit(const std::string& message)
{
    exitWithMessage("%s\n", message.c_str());
}

std::string numbered(const char* before, int number, const char* after)
{
    return before + std::to_string(number) + after;
}

// Working state of one decode thread.
struct DecodeState {
    FILE* in = nullptr;
    ILCLIENT_T* client = nullptr;
    COMPONENT_T* video_decode = nullptr;
    COMPONENT_T* video_scheduler = nullptr;
    COMPONENT_T* clock = nullptr;
    COMPONENT_T* egl_render = nullptr;
    COMPONENT_T* list[5] = {};
    TUNNEL_T tunnel[4] = {};
    int status = 0;
    unsigned int data_len = 0;
    int packet_size = kPacketSize;
    OMX_BUFFERHEADERTYPE* buf = nullptr;
    int port_settings_changed = 0;
    int first_packet = 1;
};

void createComponents(DecodeState& st, EGLDisplay display)
{
    if (ilclient_create_component(st.client, &st.video_decode, "video_decode",
                                  ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_INPUT_BUFFERS) != 0)
        st.status = -14;
    st.list[0] = st.video_decode;
    if (st.status == 0 &&
        ilclient_create_component(st.client, &st.egl_render, "egl_render",
                                  ILCLIENT_DISABLE_ALL_PORTS | ILCLIENT_ENABLE_OUTPUT_BUFFERS) != 0)
        st.status = -14;
    st.list[1] = st.egl_render;
    if (st.status == 0) {
        // Our egl_render creates its context on the renderer's display.
        OMX_PARAM_SPECTRAFOX_EGLDISPLAYTYPE target{sizeof(target), omxVersion(), display};
        if (OMX_SetParameter(ilclient_get_handle(st.egl_render), OMX_IndexParamSpectrafoxEGLDisplay,
                             &target) != OMX_ErrorNone)
            st.status = -14;
    }
    if (st.status == 0 &&
        ilclient_create_component(st.client, &st.clock, "clock", ILCLIENT_DISABLE_ALL_PORTS) != 0)
        st.status = -14;
    st.list[2] = st.clock;
}

void setClockWaiting(DecodeState& st)
{
    OMX_TIME_CONFIG_CLOCKSTATETYPE cstate{};
    cstate.nSize = sizeof(cstate);
    cstate.nVersion = omxVersion();
    cstate.eState = OMX_TIME_ClockStateWaitingForStartTime;
    cstate.nWaitMask = 1;
    if (st.clock != nullptr &&
        OMX_SetParameter(ilclient_get_handle(st.clock), OMX_IndexConfigTimeClockState, &cstate) !=
            OMX_ErrorNone)
        st.status = -13;
}

void createScheduler(DecodeState& st)
{
    if (st.status == 0 && ilclient_create_component(st.client, &st.video_scheduler,
                                                    "video_scheduler",
                                                    ILCLIENT_DISABLE_ALL_PORTS) != 0)
        st.status = -14;
    st.list[3] = st.video_scheduler;
}

void startClock(DecodeState& st)
{
    set_tunnel(st.tunnel, st.video_decode, 131, st.video_scheduler, 10);
    set_tunnel(st.tunnel + 1, st.video_scheduler, 11, st.egl_render, 220);
    set_tunnel(st.tunnel + 2, st.clock, 80, st.video_scheduler, 12);
    if (st.status != 0)
        return;
    if (ilclient_setup_tunnel(st.tunnel + 2, 0, 0) != 0)
        st.status = -15;
    else
        ilclient_change_component_state(st.clock, OMX_StateExecuting);
}

// Input buffers on the decoder, ready to stream; false if that failed.
bool startInput(DecodeState& st)
{
    if (st.status == 0)
        ilclient_change_component_state(st.video_decode, OMX_StateIdle);
    OMX_VIDEO_PARAM_PORTFORMATTYPE format{};
    format.nSize = sizeof(format);
    format.nVersion = omxVersion();
    format.nPortIndex = 130;
    format.eCompressionFormat = OMX_VIDEO_CodingAVC;
    return st.status == 0 &&
           OMX_SetParameter(ilclient_get_handle(st.video_decode), OMX_IndexParamVideoPortFormat,
                            &format) == OMX_ErrorNone &&
           ilclient_enable_port_buffers(st.video_decode, 130, nullptr, nullptr, nullptr) == 0;
}

// Fills the buffer from the file, which repeats without end. A read of 0
// bytes at the end of the file rewinds and reads again, so a file whose
// length is a whole number of buffers repeats too; only an empty (or
// unreadable) file gives 0 bytes.
void readChunk(DecodeState& st)
{
    if (std::feof(st.in))
        std::rewind(st.in);
    const size_t room = std::min<size_t>(static_cast<size_t>(st.packet_size) - st.data_len,
                                         st.buf->nAllocLen - st.data_len);
    size_t got = std::fread(st.buf->pBuffer + st.data_len, 1, room, st.in);
    if (got == 0 && std::feof(st.in)) {
        std::rewind(st.in);
        got = std::fread(st.buf->pBuffer + st.data_len, 1, room, st.in);
    }
    st.data_len += static_cast<unsigned int>(got);
}

bool sizeIsKnown(DecodeState& st)
{
    if (st.data_len > 0)
        return ilclient_remove_event(st.video_decode, OMX_EventPortSettingsChanged, 131, 0, 0, 1) ==
               0;
    return ilclient_wait_for_event(st.video_decode, OMX_EventPortSettingsChanged, 131, 0, 0, 1,
                                   ILCLIENT_EVENT_ERROR | ILCLIENT_PARAMETER_CHANGED,
                                   kSettingsWaitMs) == 0;
}

// The rest of the pipeline, once the decoder knows the picture size.
bool completePipeline(DecodeState& st, EGLImageKHR image,
                      std::atomic<OMX_BUFFERHEADERTYPE*>& egl_buffer)
{
    if (ilclient_setup_tunnel(st.tunnel, 0, 0) != 0)
        return false;
    ilclient_change_component_state(st.video_scheduler, OMX_StateExecuting);
    if (ilclient_setup_tunnel(st.tunnel + 1, 0, kRendererSettingsWaitMs) != 0)
        return false;
    ilclient_change_component_state(st.egl_render, OMX_StateIdle);
    OMX_HANDLETYPE renderer = ilclient_get_handle(st.egl_render);
    if (OMX_SendCommand(renderer, OMX_CommandPortEnable, 221, nullptr) != OMX_ErrorNone)
        failAndExit("OMX_CommandPortEnable failed.");
    OMX_BUFFERHEADERTYPE* header = nullptr;
    if (OMX_UseEGLImage(renderer, &header, 221, nullptr, image) != OMX_ErrorNone)
        failAndExit("OMX_UseEGLImage failed.");
    egl_buffer.store(header);
    ilclient_change_component_state(st.egl_render, OMX_StateExecuting);
    if (OMX_FillThisBuffer(renderer, header) != OMX_ErrorNone)
        failAndExit("OMX_FillThisBuffer failed.");
    return true;
}

// Hands the filled buffer to the decoder; false if it refused it.
bool submitChunk(DecodeState& st)
{
    st.buf->nFilledLen = st.data_len;
    st.data_len = 0;
    st.buf->nOffset = 0;
    // Only the very first buffer starts the clock; later ones, after a
    // rewind too, carry no time.
    st.buf->nFlags = st.first_packet ? OMX_BUFFERFLAG_STARTTIME : OMX_BUFFERFLAG_TIME_UNKNOWN;
    st.first_packet = 0;
    if (OMX_EmptyThisBuffer(ilclient_get_handle(st.video_decode), st.buf) == OMX_ErrorNone)
        return true;
    st.status = -6;
    return false;
}

// Feeds the file until told to stop, a read gives nothing, or the pipeline
// fails. Leaves in st.buf the buffer obtained last, if any.
void streamFile(DecodeState& st, const std::atomic<bool>& keep_playing, EGLImageKHR image,
                std::atomic<OMX_BUFFERHEADERTYPE*>& egl_buffer)
{
    st.port_settings_changed = 0;
    st.first_packet = 1;
    ilclient_change_component_state(st.video_decode, OMX_StateExecuting);
    while ((st.buf = ilclient_get_input_buffer(st.video_decode, 130, 1)) != nullptr &&
           keep_playing.load()) {
        readChunk(st);
        if (st.port_settings_changed == 0 && sizeIsKnown(st)) {
            st.port_settings_changed = 1;
            if (!completePipeline(st, image, egl_buffer)) {
                st.status = -7;
                return;
            }
        }
        if (st.data_len == 0 || !submitChunk(st))
            return;
    }
}

// A stop that came while every input buffer was with the decoder leaves none
// in hand. The decoder hands one back promptly, and the end of the stream
// still has to travel in it; only a decoder that keeps them all is given up on.
OMX_BUFFERHEADERTYPE* bufferForEndOfStream(COMPONENT_T* decoder)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    OMX_BUFFERHEADERTYPE* buf = nullptr;
    while ((buf = ilclient_get_input_buffer(decoder, 130, 0)) == nullptr &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return buf;
}

void endStream(DecodeState& st)
{
    if (st.buf == nullptr)
        st.buf = bufferForEndOfStream(st.video_decode);
    if (st.buf != nullptr) {
        st.buf->nFilledLen = 0;
        st.buf->nFlags = OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS;
        if (OMX_EmptyThisBuffer(ilclient_get_handle(st.video_decode), st.buf) != OMX_ErrorNone)
            st.status = -20;
    }
    ilclient_flush_tunnels(st.tunnel, 0);
    ilclient_disable_port_buffers(st.video_decode, 130, nullptr, nullptr, nullptr);
}

void tearDown(DecodeState& st)
{
    ilclient_disable_tunnel(st.tunnel);
    ilclient_disable_tunnel(st.tunnel + 1);
    ilclient_disable_tunnel(st.tunnel + 2);
    ilclient_teardown_tunnels(st.tunnel);
    ilclient_cleanup_components(st.list);
    OMX_Deinit();
    ilclient_destroy(st.client);
}

PFNEGLCREATEIMAGEKHRPROC createImageFunction()
{
    static const auto function =
        reinterpret_cast<PFNEGLCREATEIMAGEKHRPROC>(eglGetProcAddress("eglCreateImageKHR"));
    return function;
}

PFNEGLDESTROYIMAGEKHRPROC destroyImageFunction()
{
    static const auto function =
        reinterpret_cast<PFNEGLDESTROYIMAGEKHRPROC>(eglGetProcAddress("eglDestroyImageKHR"));
    return function;
}

} // namespace

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : display(*d), surface(*s), context(*c)
{
    for (int i = 0; i < kSlots; ++i) {
        player_is_free[i] = true;
        slots[i].number = i + 1;
    }
}

VideoPlayer::~VideoPlayer()
{
    // A thread object that still runs cannot be destroyed: stop them all.
    sendStopSignal();
    for (Slot& slot : slots) {
        if (slot.player_thread.joinable())
            slot.player_thread.join();
        releaseImage(&slot);
    }
}

int VideoPlayer::startFreePlayer(std::string filename, GLuint* video_tex_ptr)
{
    int index = 0;
    while (index < kSlots && !player_is_free[index])
        ++index;
    if (index == kSlots)
        return 0;
    player_is_free[index] = false;
    Slot& slot = slots[index];
    const PFNEGLCREATEIMAGEKHRPROC create_image = createImageFunction();
    if (create_image != nullptr)
        slot.eglImage = create_image(
            display, context, EGL_GL_TEXTURE_2D_KHR,
            reinterpret_cast<EGLClientBuffer>(static_cast<uintptr_t>(*video_tex_ptr)), nullptr);
    if (slot.eglImage == EGL_NO_IMAGE_KHR)
        failAndExit(numbered("eglCreateImageKHR", slot.number, " failed."));
    slot.filename = filename;
    slot.player_thread = std::thread(&VideoPlayer::video_decode_test, this, &slot);
    return slot.number;
}

VideoPlayer::Slot* VideoPlayer::slotFor(int player_id)
{
    return player_id >= 1 && player_id <= kSlots ? &slots[player_id - 1] : nullptr;
}

void VideoPlayer::stopPlayer(int player_id)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr)
        return;
    slot->video_dec_loop.store(false);
    if (slot->player_thread.joinable())
        slot->player_thread.join();
    releaseImage(slot);
}

void VideoPlayer::sendStopSignal()
{
    for (Slot& slot : slots)
        slot.video_dec_loop.store(false);
}

long VideoPlayer::getPictureCount(int player_id) const
{
    if (player_id < 1 || player_id > kSlots)
        return 0;
    return slots[player_id - 1].pictures.load(std::memory_order_relaxed);
}

// Only after the slot's thread has ended: nothing writes into the image then.
void VideoPlayer::releaseImage(Slot* slot)
{
    if (slot->eglImage == EGL_NO_IMAGE_KHR || destroyImageFunction() == nullptr)
        return;
    destroyImageFunction()(display, slot->eglImage);
    slot->eglImage = EGL_NO_IMAGE_KHR;
}

void VideoPlayer::my_fill_buffer_done(void* userdata, COMPONENT_T*)
{
    Slot* slot = static_cast<Slot*>(userdata);
    slot->pictures.fetch_add(1, std::memory_order_relaxed);
    if (OMX_FillThisBuffer(ilclient_get_handle(slot->egl_render.load()), slot->eglBuffer.load()) !=
        OMX_ErrorNone)
        failAndExit("OMX_FillThisBuffer failed in callback");
}

void VideoPlayer::video_decode_test(Slot* slot)
{
    if (slot->eglImage == EGL_NO_IMAGE_KHR)
        failAndExit(numbered("eglImage", slot->number, " is null."));
    DecodeState st;
    st.in = std::fopen(slot->filename.c_str(), "rb");
    if (st.in == nullptr)
        return;
    st.client = ilclient_init();
    if (st.client == nullptr) {
        std::fclose(st.in);
        return;
    }
    if (OMX_Init() != OMX_ErrorNone) {
        ilclient_destroy(st.client);
        std::fclose(st.in);
        return;
    }
    ilclient_set_fill_buffer_done_callback(st.client, my_fill_buffer_done, slot);
    ilclient_set_keep_waiting_flag(st.client, &slot->video_dec_loop);

    createComponents(st, display);
    slot->egl_render.store(st.egl_render);
    setClockWaiting(st);
    createScheduler(st);
    startClock(st);
    if (startInput(st)) {
        streamFile(st, slot->video_dec_loop, slot->eglImage, slot->eglBuffer);
        endStream(st);
    }
    std::fclose(st.in);
    tearDown(st);
    // The components are gone and no callback can come any more.
    slot->egl_render.store(nullptr);
    slot->eglBuffer.store(nullptr);
}

} // namespace Spectrafox
