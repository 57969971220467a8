#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include "fatal_error.h"
#include "platform/media/container_reader.h"
#include "regular_file.h"

#include <unistd.h>

#include <chrono>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

using SteadyClock = std::chrono::steady_clock;

// Working state of one decode thread.
struct DecodeState {
    FILE* in = nullptr;                    // a raw stream, or
    ContainerReader* container = nullptr;  // the video of a container file
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
    // Until the first picture: how much was fed since when.
    long bytes_without_picture = 0;
    SteadyClock::time_point streaming_since{};
};

// A container is read through libavformat, anything else as a raw stream;
// either way only a regular file, opened without blocking.
bool openSource(DecodeState& st, const std::string& filename, ContainerReader& container)
{
    if (ContainerReader::isContainerName(filename)) {
        if (!container.open(filename))
            return false;
        st.container = &container;
        return true;
    }
    const int fd = RegularFile::openForReading(filename);
    if (fd < 0)
        return false;
    st.in = fdopen(fd, "rb");
    if (st.in == nullptr)
        close(fd);
    return st.in != nullptr;
}

void closeSource(DecodeState& st)
{
    if (st.in != nullptr)
        std::fclose(st.in);
    st.in = nullptr;
    if (st.container != nullptr)
        st.container->close();
    st.container = nullptr;
}

// Feeding a stream that gives no picture (another codec, a container under
// a raw stream's name, noise) would go on for ever.
bool noPictureInSight(DecodeState& st)
{
    if (st.port_settings_changed != 0)
        return false;
    return st.bytes_without_picture > VideoPlayer::kMostBytesWithoutPicture ||
           SteadyClock::now() - st.streaming_since >
               std::chrono::milliseconds(VideoPlayer::kLongestWaitForPictureMs);
}

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
    const size_t room = std::min<size_t>(static_cast<size_t>(st.packet_size) - st.data_len,
                                         st.buf->nAllocLen - st.data_len);
    if (st.container != nullptr) {
        // The container repeats itself; 0 only when it has no video left.
        const size_t got = st.container->read(st.buf->pBuffer + st.data_len, room);
        st.data_len += static_cast<unsigned int>(got);
        return;
    }
    if (std::feof(st.in))
        std::rewind(st.in);
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

// The renderer scales every picture into the texture's size; without one
// it writes pictures at their own size.
void setTextureSize(OMX_HANDLETYPE renderer, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    OMX_PARAM_PORTDEFINITIONTYPE definition{};
    definition.nSize = sizeof(definition);
    definition.nVersion = omxVersion();
    definition.nPortIndex = 221;
    if (OMX_GetParameter(renderer, OMX_IndexParamPortDefinition, &definition) != OMX_ErrorNone)
        return;
    definition.format.video.nFrameWidth = static_cast<OMX_U32>(width);
    definition.format.video.nFrameHeight = static_cast<OMX_U32>(height);
    OMX_SetParameter(renderer, OMX_IndexParamPortDefinition, &definition);
}

struct TextureTarget {
    const EGLImageKHR* images;
    int count;
    int width;
    int height;
};

// The rest of the pipeline, once the decoder knows the picture size.
bool completePipeline(DecodeState& st, const TextureTarget& target,
                      std::atomic<OMX_BUFFERHEADERTYPE*>* buffers, std::atomic<int>& in_renderer)
{
    if (ilclient_setup_tunnel(st.tunnel, 0, 0) != 0)
        return false;
    ilclient_change_component_state(st.video_scheduler, OMX_StateExecuting);
    if (ilclient_setup_tunnel(st.tunnel + 1, 0, kRendererSettingsWaitMs) != 0)
        return false;
    ilclient_change_component_state(st.egl_render, OMX_StateIdle);
    OMX_HANDLETYPE renderer = ilclient_get_handle(st.egl_render);
    setTextureSize(renderer, target.width, target.height);
    if (OMX_SendCommand(renderer, OMX_CommandPortEnable, 221, nullptr) != OMX_ErrorNone)
        failAndExit("OMX_CommandPortEnable failed.");
    for (int i = 0; i < target.count; ++i) {
        OMX_BUFFERHEADERTYPE* header = nullptr;
        if (OMX_UseEGLImage(renderer, &header, 221, nullptr, target.images[i]) != OMX_ErrorNone)
            failAndExit("OMX_UseEGLImage failed.");
        buffers[i].store(header);
    }
    ilclient_change_component_state(st.egl_render, OMX_StateExecuting);
    // With a hand-over the renderer starts on image 1: image 0 is drawn.
    const int first = target.count > 1 ? 1 : 0;
    in_renderer.store(first);
    if (OMX_FillThisBuffer(renderer, buffers[first].load()) != OMX_ErrorNone)
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

// Feeds the file until told to stop, a read gives nothing, the stream shows
// no picture in time, or the pipeline fails. Leaves in st.buf the buffer
// obtained last, if any.
void streamFile(DecodeState& st, const std::atomic<bool>& keep_playing, const TextureTarget& target,
                std::atomic<OMX_BUFFERHEADERTYPE*>* buffers, std::atomic<int>& in_renderer)
{
    st.port_settings_changed = 0;
    st.first_packet = 1;
    st.streaming_since = SteadyClock::now();
    ilclient_change_component_state(st.video_decode, OMX_StateExecuting);
    while ((st.buf = ilclient_get_input_buffer(st.video_decode, 130, 1)) != nullptr &&
           keep_playing.load()) {
        readChunk(st);
        if (st.port_settings_changed == 0 && sizeIsKnown(st)) {
            st.port_settings_changed = 1;
            if (!completePipeline(st, target, buffers, in_renderer)) {
                st.status = -7;
                return;
            }
        }
        st.bytes_without_picture += st.data_len;
        if (st.data_len == 0 || !submitChunk(st) || noPictureInSight(st))
            return;
    }
}

// A stop that came while every input buffer was with the decoder leaves none
// in hand, and the end of the stream still has to travel in one. A decoder
// held up by a full pipeline keeps them all: flushing its input port (the
// stream is being dropped anyway) hands them back at once. Only a decoder
// that keeps them even then is given up on.
OMX_BUFFERHEADERTYPE* bufferForEndOfStream(COMPONENT_T* decoder)
{
    OMX_BUFFERHEADERTYPE* buf = ilclient_get_input_buffer(decoder, 130, 0);
    if (buf != nullptr)
        return buf;
    OMX_SendCommand(ilclient_get_handle(decoder), OMX_CommandFlush, 130, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
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

PFNEGLCREATESYNCKHRPROC createSyncFunction()
{
    static const auto function =
        reinterpret_cast<PFNEGLCREATESYNCKHRPROC>(eglGetProcAddress("eglCreateSyncKHR"));
    return function;
}

PFNEGLCLIENTWAITSYNCKHRPROC clientWaitSyncFunction()
{
    static const auto function =
        reinterpret_cast<PFNEGLCLIENTWAITSYNCKHRPROC>(eglGetProcAddress("eglClientWaitSyncKHR"));
    return function;
}

PFNEGLDESTROYSYNCKHRPROC destroySyncFunction()
{
    static const auto function =
        reinterpret_cast<PFNEGLDESTROYSYNCKHRPROC>(eglGetProcAddress("eglDestroySyncKHR"));
    return function;
}

bool hasFenceSync(EGLDisplay display)
{
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    return extensions != nullptr && std::strstr(extensions, "EGL_KHR_fence_sync") != nullptr &&
           createSyncFunction() != nullptr && clientWaitSyncFunction() != nullptr &&
           destroySyncFunction() != nullptr;
}

// The hand-over state in one word, so that both sides change it at once:
// the newest undrawn picture and the image the main thread gave up.
constexpr unsigned kNoImage = 3;
constexpr unsigned packHandOver(unsigned ready, unsigned retired) { return ready | retired << 2; }
constexpr unsigned readyOf(unsigned state) { return state & 3; }
constexpr unsigned retiredOf(unsigned state) { return (state >> 2) & 3; }
constexpr auto kLongestFenceWaitNs = 1000000000ull;

} // namespace

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : display(*d), surface(*s), context(*c), fence_sync(hasFenceSync(display))
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

int VideoPlayer::startFreePlayer(std::string filename, GLuint* video_tex_ptr, int width,
                                 int height)
{
    int index = 0;
    while (index < kSlots && !player_is_free[index])
        ++index;
    if (index == kSlots)
        return 0;
    player_is_free[index] = false;
    Slot& slot = slots[index];
    slot.egl_display = display;
    slot.texture_width = width;
    slot.texture_height = height;
    if (!makeImages(slot, *video_tex_ptr))
        failAndExit(numbered("eglCreateImageKHR", slot.number, " failed."));
    slot.filename = filename;
    slot.player_thread = std::thread(&VideoPlayer::video_decode_test, this, &slot);
    return slot.number;
}

EGLImageKHR VideoPlayer::imageOf(GLuint texture) const
{
    const PFNEGLCREATEIMAGEKHRPROC create_image = createImageFunction();
    if (create_image == nullptr)
        return EGL_NO_IMAGE_KHR;
    return create_image(display, context, EGL_GL_TEXTURE_2D_KHR,
                        reinterpret_cast<EGLClientBuffer>(static_cast<uintptr_t>(texture)),
                        nullptr);
}

// The given texture, and with a known size two more like it for the
// hand-over; false when the given texture has no image.
bool VideoPlayer::makeImages(Slot& slot, GLuint given_texture)
{
    slot.textures[0] = given_texture;
    slot.images[0] = imageOf(given_texture);
    slot.image_count = slot.images[0] == EGL_NO_IMAGE_KHR ? 0 : 1;
    if (slot.image_count == 0 || slot.texture_width <= 0 || slot.texture_height <= 0)
        return slot.image_count == 1;
    glGenTextures(kImages - 1, slot.textures + 1);
    for (int i = 1; i < kImages; ++i) {
        glBindTexture(GL_TEXTURE_2D, slot.textures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, slot.texture_width, slot.texture_height, 0,
                     GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        slot.images[i] = imageOf(slot.textures[i]);
    }
    glBindTexture(GL_TEXTURE_2D, given_texture);
    if (slot.images[1] != EGL_NO_IMAGE_KHR && slot.images[2] != EGL_NO_IMAGE_KHR) {
        slot.image_count = kImages;
        // Image 0 is drawn first, 1 is written first, 2 waits.
        slot.front = 0;
        slot.hand_over.store(packHandOver(kNoImage, 2));
    }
    return true;
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

bool VideoPlayer::playbackFailed(int player_id) const
{
    return player_id >= 1 && player_id <= kSlots && slots[player_id - 1].failed.load();
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
    for (int i = 0; i < kImages; ++i) {
        const EGLSyncKHR fence = slot->fences[i].exchange(EGL_NO_SYNC_KHR);
        if (fence != EGL_NO_SYNC_KHR)
            destroySyncFunction()(display, fence);
        if (slot->images[i] != EGL_NO_IMAGE_KHR && destroyImageFunction() != nullptr)
            destroyImageFunction()(display, slot->images[i]);
        slot->images[i] = EGL_NO_IMAGE_KHR;
        // The first texture belongs to whoever started the slot.
        if (i > 0 && slot->textures[i] != 0)
            glDeleteTextures(1, &slot->textures[i]);
        slot->textures[i] = 0;
    }
    slot->image_count = 0;
}
void VideoPlayer::my_fill_buffer_done(void* userdata, COMPONENT_T*)
{
    Slot* slot = static_cast<Slot*>(userdata);
    slot->pictures.fetch_add(1, std::memory_order_relaxed);
    const int next = slot->image_count == kImages ? handOver(slot) : 0;
    slot->in_renderer.store(next);
    if (OMX_FillThisBuffer(ilclient_get_handle(slot->egl_render.load()),
                           slot->buffers[next].load()) != OMX_ErrorNone)
        failAndExit("OMX_FillThisBuffer failed in callback");
}

// The picture just written becomes the newest; the renderer goes on with the
// picture it replaces, if the main thread never took that one, or else with
// the image the main thread gave up, once no drawing reads it any more.
int VideoPlayer::handOver(Slot* slot)
{
    const unsigned written = static_cast<unsigned>(slot->in_renderer.load());
    unsigned state = slot->hand_over.load();
    while (!slot->hand_over.compare_exchange_weak(state, packHandOver(written, kNoImage))) {
    }
    if (readyOf(state) != kNoImage)
        return static_cast<int>(readyOf(state));
    const unsigned retired = retiredOf(state);
    if (retired == kNoImage)
        return static_cast<int>(written); // cannot happen: one of the two is always free
    waitUntilUnused(slot, static_cast<int>(retired));
    return static_cast<int>(retired);
}

void VideoPlayer::waitUntilUnused(Slot* slot, int image)
{
    const EGLSyncKHR fence = slot->fences[image].exchange(EGL_NO_SYNC_KHR);
    if (fence == EGL_NO_SYNC_KHR)
        return;
    clientWaitSyncFunction()(slot->egl_display, fence, 0, kLongestFenceWaitNs);
    destroySyncFunction()(slot->egl_display, fence);
}

// Called where the slot is drawn: takes the newest complete picture, if
// there is one, and gives up the image drawn so far behind a fence.
GLuint VideoPlayer::currentTexture(int player_id, GLuint started_with)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr || slot->image_count != kImages)
        return started_with;
    unsigned state = slot->hand_over.load();
    if (readyOf(state) == kNoImage)
        return slot->textures[slot->front];
    EGLSyncKHR fence = EGL_NO_SYNC_KHR;
    if (fence_sync)
        fence = createSyncFunction()(display, EGL_SYNC_FENCE_KHR, nullptr);
    if (fence != EGL_NO_SYNC_KHR)
        glFlush(); // a fence in an unflushed context might never signal
    else
        glFinish();
    slot->fences[slot->front].store(fence);
    // Only this thread takes the newest picture, so there is one until then.
    while (!slot->hand_over.compare_exchange_weak(
        state, packHandOver(kNoImage, static_cast<unsigned>(slot->front)))) {
    }
    slot->front = static_cast<int>(readyOf(state));
    return slot->textures[slot->front];
}
void VideoPlayer::video_decode_test(Slot* slot)
{
    if (slot->image_count == 0)
        failAndExit(numbered("eglImage", slot->number, " is null."));
    DecodeState st;
    ContainerReader container;
    if (openSource(st, slot->filename, container))
        st.client = ilclient_init();
    if (st.client != nullptr && OMX_Init() != OMX_ErrorNone) {
        ilclient_destroy(st.client);
        st.client = nullptr;
    }
    if (st.client != nullptr) {
        ilclient_set_fill_buffer_done_callback(st.client, my_fill_buffer_done, slot);
        ilclient_set_keep_waiting_flag(st.client, &slot->video_dec_loop);
        createComponents(st, display);
        slot->egl_render.store(st.egl_render);
        setClockWaiting(st);
        createScheduler(st);
        startClock(st);
        if (startInput(st)) {
            const TextureTarget target{slot->images, slot->image_count, slot->texture_width,
                                       slot->texture_height};
            streamFile(st, slot->video_dec_loop, target, slot->buffers, slot->in_renderer);
            endStream(st);
        }
        tearDown(st);
        // The components are gone and no callback can come any more.
        slot->egl_render.store(nullptr);
        for (std::atomic<OMX_BUFFERHEADERTYPE*>& buffer : slot->buffers)
            buffer.store(nullptr);
    }
    closeSource(st);
    // Nothing was ever shown and nobody asked to stop: the stream is no use.
    // Set last, so that whoever reacts finds the thread done.
    slot->failed.store(st.port_settings_changed == 0 && slot->video_dec_loop.load());
}

} // namespace Spectrafox
