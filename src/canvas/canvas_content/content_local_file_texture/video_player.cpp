#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include "base/fatal_error.h"
#include "platform/fixed_function/fixed_function_pipeline.h"
#include "platform/media/container_reader.h"
#include "platform/omx/video_pipeline.h"
#include "base/regular_file.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Spectrafox {

namespace {

// A broken video pipeline ends the process.
[[noreturn]] void failAndExit(const std::string& message)
{
    exitWithMessage("%s\n", message.c_str());
}

std::string numbered(const char* before, int number, const char* after)
{
    return before + std::to_string(number) + after;
}

// The failures of a pipeline that has begun to play end the process; any
// other only ends the stream, silently.
const char* fatalMessage(VideoPipeline::Error error)
{
    switch (error) {
    case VideoPipeline::Error::PortEnable:
        return "OMX_CommandPortEnable failed.";
    case VideoPipeline::Error::UseEGLImage:
        return "OMX_UseEGLImage failed.";
    case VideoPipeline::Error::Fill:
        return "OMX_FillThisBuffer failed.";
    default:
        return nullptr;
    }
}

using SteadyClock = std::chrono::steady_clock;

// Working state of one decode thread.
struct DecodeState {
    std::string filename;
    FILE* in = nullptr;                    // a raw stream, or
    RegularFile::Version opened;           // (its version when opened)
    ContainerReader* container = nullptr;  // the video of a container file
    bool size_known = false;               // the decoder showed a picture size
    // Until the first picture: how much was fed since when.
    long bytes_without_picture = 0;
    SteadyClock::time_point streaming_since{};
};

bool openRaw(DecodeState& st)
{
    const int fd = RegularFile::openForReading(st.filename);
    if (fd < 0)
        return false;
    st.opened = RegularFile::versionOf(fd);
    st.in = fdopen(fd, "rb");
    if (st.in == nullptr)
        close(fd);
    return st.in != nullptr;
}

// A container is read through libavformat, anything else as a raw stream;
// either way only a regular file, opened without blocking.
bool openSource(DecodeState& st, const std::string& filename, ContainerReader& container)
{
    st.filename = filename;
    if (ContainerReader::isContainerName(filename)) {
        if (!container.open(filename))
            return false;
        st.container = &container;
        return true;
    }
    return openRaw(st);
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

void reopenRaw(DecodeState& st)
{
    if (st.in != nullptr)
        std::fclose(st.in);
    st.in = nullptr;
    (void)openRaw(st);
}

// A container reopens itself at its loop when its file changed; this is for
// a file that gave nothing at all.
void reopenSource(DecodeState& st)
{
    if (st.container != nullptr)
        (void)st.container->open(st.filename);
    else
        reopenRaw(st);
}

// At the end of a raw stream: the same file again from its start, or the
// file now under its name when it was copied over or rewritten (or failed
// to read), so the new clip follows. A file removed plays on.
void loopRaw(DecodeState& st)
{
    const RegularFile::Version now = RegularFile::versionAt(st.filename);
    if (std::ferror(st.in) || (now.size >= 0 && now != st.opened))
        reopenRaw(st);
    else
        std::rewind(st.in);
}

// Feeding a stream that gives no picture (another codec, a container under
// a raw stream's name, noise) would go on for ever.
bool noPictureInSight(const DecodeState& st)
{
    if (st.size_known)
        return false;
    return st.bytes_without_picture > VideoPlayer::kMostBytesWithoutPicture ||
           SteadyClock::now() - st.streaming_since >
               std::chrono::milliseconds(VideoPlayer::kLongestWaitForPictureMs);
}

// Fills `room` bytes at `data` from the file, which repeats without end. A
// read of 0 bytes at the end of the file loops and reads again, so a file
// whose length is a whole number of buffers repeats too; only an empty (or
// unreadable) file gives 0 bytes.
size_t readChunk(DecodeState& st, uint8_t* data, size_t room)
{
    if (st.container != nullptr) {
        // The container repeats itself; 0 only when it has no video left.
        return st.container->read(data, room);
    }
    for (int pass = 0; pass < 2 && st.in != nullptr; ++pass) {
        if (std::feof(st.in) || std::ferror(st.in))
            loopRaw(st);
        const size_t got = st.in != nullptr ? std::fread(data, 1, room, st.in) : 0;
        if (got > 0)
            return got;
    }
    return 0;
}

void sleepUnlessStopped(std::chrono::milliseconds pause, const std::atomic<bool>& keep_playing)
{
    const auto until = SteadyClock::now() + pause;
    while (keep_playing.load() && SteadyClock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// A clip that played and then reads nothing was truncated, is being copied
// over, or its medium failed: it is opened again, less and less often (at
// least once a second), until it gives data or the slot is stopped; the last
// picture stays meanwhile. A stream that never showed a picture is given up.
size_t readFollowingFile(DecodeState& st, uint8_t* data, size_t room, const std::atomic<bool>& keep_playing)
{
    size_t got = readChunk(st, data, room);
    std::chrono::milliseconds pause = VideoPlayer::kFirstReopenPause;
    while (got == 0 && st.size_known && keep_playing.load()) {
        sleepUnlessStopped(pause, keep_playing);
        pause = std::min(pause * 2, VideoPlayer::kLongestReopenPause);
        reopenSource(st);
        got = readChunk(st, data, room);
    }
    return got;
}

struct TextureTarget {
    const EGLImageKHR* images;
    int count;
    int width;
    int height;
};

// The rest of the pipeline, once the decoder knows the picture size; false
// when the stream cannot go on.
bool completePipeline(VideoPipeline& pipeline, const TextureTarget& target,
                      std::atomic<int>& in_renderer)
{
    // With a hand-over the renderer starts on image 1: image 0 is drawn.
    const int first = target.count > 1 ? 1 : 0;
    in_renderer.store(first);
    const VideoPipeline::Error error =
        pipeline.complete(target.images, target.count, target.width, target.height, first);
    if (const char* message = fatalMessage(error))
        failAndExit(message);
    return error == VideoPipeline::Error::None;
}

// Feeds the file until told to stop, a read gives nothing, the stream shows
// no picture in time, or the pipeline fails.
void streamFile(DecodeState& st, VideoPipeline& pipeline, const std::atomic<bool>& keep_playing,
                const TextureTarget& target, std::atomic<int>& in_renderer)
{
    st.size_known = false;
    st.streaming_since = SteadyClock::now();
    pipeline.startStreaming();
    while (pipeline.takeInputBuffer() && keep_playing.load()) {
        const size_t got = readFollowingFile(st, pipeline.inputData(), pipeline.inputRoom(), keep_playing);
        if (!st.size_known && pipeline.pictureSizeKnown(got == 0)) {
            st.size_known = true;
            if (!completePipeline(pipeline, target, in_renderer))
                return;
        }
        st.bytes_without_picture += static_cast<long>(got);
        if (got == 0 || pipeline.submitInput(got) != VideoPipeline::Error::None ||
            noPictureInSight(st))
            return;
    }
}

template <typename Function> Function entryPoint(const char* name)
{
    return reinterpret_cast<Function>(eglGetProcAddress(name));
}

// The EGL extension calls the player makes, looked up once.
struct EglExtensions {
    PFNEGLCREATEIMAGEKHRPROC create_image = entryPoint<PFNEGLCREATEIMAGEKHRPROC>("eglCreateImageKHR");
    PFNEGLDESTROYIMAGEKHRPROC destroy_image = entryPoint<PFNEGLDESTROYIMAGEKHRPROC>("eglDestroyImageKHR");
    PFNEGLCREATESYNCKHRPROC create_sync = entryPoint<PFNEGLCREATESYNCKHRPROC>("eglCreateSyncKHR");
    PFNEGLCLIENTWAITSYNCKHRPROC client_wait_sync =
        entryPoint<PFNEGLCLIENTWAITSYNCKHRPROC>("eglClientWaitSyncKHR");
    PFNEGLDESTROYSYNCKHRPROC destroy_sync = entryPoint<PFNEGLDESTROYSYNCKHRPROC>("eglDestroySyncKHR");
};

const EglExtensions& egl()
{
    static const EglExtensions extensions;
    return extensions;
}

bool hasFenceSync(EGLDisplay display)
{
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    return extensions != nullptr && std::strstr(extensions, "EGL_KHR_fence_sync") != nullptr &&
           egl().create_sync != nullptr && egl().client_wait_sync != nullptr &&
           egl().destroy_sync != nullptr;
}

// The hand-over state in one word, so that both sides change it at once:
// the newest undrawn picture and the image the main thread gave up.
constexpr unsigned kNoImage = 3;
constexpr unsigned packHandOver(unsigned ready, unsigned retired) { return ready | retired << 2; }
constexpr unsigned readyOf(unsigned state) { return state & 3; }
constexpr unsigned retiredOf(unsigned state) { return (state >> 2) & 3; }
constexpr auto kLongestFenceWaitNs = 1000000000ull;

} // namespace

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c, int slots_wanted,
                         bool give_back_stopped)
    : slot_count(std::clamp(slots_wanted, 1, kMostSlots)), give_back(give_back_stopped),
      display(*d), surface(*s), context(*c), fence_sync(hasFenceSync(display))
{
    for (int i = 0; i < kMostSlots; ++i) {
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
    while (index < slot_count && !player_is_free[index])
        ++index;
    if (index == slot_count)
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
    const PFNEGLCREATEIMAGEKHRPROC create_image = egl().create_image;
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
    return player_id >= 1 && player_id <= slot_count ? &slots[player_id - 1] : nullptr;
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
    if (give_back && !player_is_free[slot->number - 1]) {
        resetForReuse(*slot);
        player_is_free[slot->number - 1] = true;
    }
}

// The thread has ended and the images are released: the slot is as new.
void VideoPlayer::resetForReuse(Slot& slot)
{
    slot.video_dec_loop.store(true);
    slot.in_renderer.store(0);
    slot.hand_over.store(0);
    slot.front = 0;
    slot.pictures.store(0);
    slot.failed.store(false);
}

void VideoPlayer::releasePlayer(int player_id)
{
    Slot* slot = slotFor(player_id);
    if (slot == nullptr || player_is_free[player_id - 1])
        return;
    stopPlayer(player_id);
    slot->filename.clear();
    slot->texture_width = slot->texture_height = 0;
    slot->image_count = 0;
    slot->video_dec_loop.store(true);
    slot->in_renderer.store(0);
    slot->hand_over.store(0);
    slot->front = 0;
    slot->pictures.store(0);
    slot->failed.store(false);
    player_is_free[player_id - 1] = true;
}

void VideoPlayer::sendStopSignal()
{
    for (Slot& slot : slots)
        slot.video_dec_loop.store(false);
}

bool VideoPlayer::playbackFailed(int player_id) const
{
    return player_id >= 1 && player_id <= slot_count && slots[player_id - 1].failed.load();
}

long VideoPlayer::getPictureCount(int player_id) const
{
    if (player_id < 1 || player_id > slot_count)
        return 0;
    return slots[player_id - 1].pictures.load(std::memory_order_relaxed);
}

// Only after the slot's thread has ended: nothing writes into the image then.
void VideoPlayer::releaseImage(Slot* slot)
{
    for (int i = 0; i < kImages; ++i) {
        const EGLSyncKHR fence = slot->fences[i].exchange(EGL_NO_SYNC_KHR);
        if (fence != EGL_NO_SYNC_KHR)
            egl().destroy_sync(display, fence);
        if (slot->images[i] != EGL_NO_IMAGE_KHR && egl().destroy_image != nullptr)
            egl().destroy_image(display, slot->images[i]);
        slot->images[i] = EGL_NO_IMAGE_KHR;
        // The first texture belongs to whoever started the slot.
        if (i > 0 && slot->textures[i] != 0)
            glDeleteTextures(1, &slot->textures[i]);
        slot->textures[i] = 0;
    }
    slot->image_count = 0;
}
void VideoPlayer::my_fill_buffer_done(void* userdata, VideoPipeline& pipeline)
{
    Slot* slot = static_cast<Slot*>(userdata);
    slot->pictures.fetch_add(1, std::memory_order_relaxed);
    const int next = slot->image_count == kImages ? handOver(slot) : 0;
    slot->in_renderer.store(next);
    if (pipeline.fill(next) != VideoPipeline::Error::None)
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
    egl().client_wait_sync(slot->egl_display, fence, 0, kLongestFenceWaitNs);
    egl().destroy_sync(slot->egl_display, fence);
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
    // The fence must follow the draws of the image that it gives up, some
    // of which may still wait in the draw batch.
    FixedFunctionPipeline::instance().flush();
    EGLSyncKHR fence = EGL_NO_SYNC_KHR;
    if (fence_sync)
        fence = egl().create_sync(display, EGL_SYNC_FENCE_KHR, nullptr);
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
    if (openSource(st, slot->filename, container)) {
        // Torn down at the end of this block: no callback comes after it.
        VideoPipeline pipeline(display, my_fill_buffer_done, slot, &slot->video_dec_loop);
        if (pipeline.build() == VideoPipeline::Error::None) {
            const TextureTarget target{slot->images, slot->image_count, slot->texture_width,
                                       slot->texture_height};
            streamFile(st, pipeline, slot->video_dec_loop, target, slot->in_renderer);
            pipeline.endStream();
        }
    }
    closeSource(st);
    // Nothing was ever shown and nobody asked to stop: the stream is no use.
    // Set last, so that whoever reacts finds the thread done.
    slot->failed.store(!st.size_known && slot->video_dec_loop.load());
}

} // namespace Spectrafox
