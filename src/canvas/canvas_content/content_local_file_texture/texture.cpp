#include "canvas/canvas_content/content_local_file_texture/texture.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include <stb_image_resize.h>

#include "base/show_time.h"
#include "platform/fixed_function/texture_limit.h"
#include "platform/media/yuv_frame_upload.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"

namespace Spectrafox {

Texture::Texture(int t_id, VideoPlayer* video_player, GLfloat* coords, GLfloat* coords_video)
    : Texture(t_id, video_player, coords, coords_video, SlotPicture::load(t_id))
{
}

Texture::Texture(int t_id, VideoPlayer* video_player, GLfloat* coords, GLfloat* coords_video,
                 SlotPicture picture, Clock clock_source, VideoStart start)
    : texCoords_ptr(coords), texCoordsVid_ptr(coords_video), texture_id(t_id),
      clock(clock_source), player(video_player), video_start(start)
{
    if (picture.kind == SlotKind::NotLoaded)
        picture = SlotPicture::load(texture_id);
    load(std::move(picture));
}

Texture::~Texture()
{
    switch (texture_type) {
    case SlotKind::NotLoaded: // load() never leaves a slot so
    case SlotKind::Missing:
        glDeleteTextures(1, &none_tex);
        break;
    case SlotKind::Png:
        glDeleteTextures(1, &png_tex);
        break;
    case SlotKind::Gif:
        glDeleteTextures(static_cast<GLsizei>(gif_tex.size()), gif_tex.data());
        break;
    case SlotKind::Video:
        stopVideo();
        first_planes.reset();
        glDeleteTextures(1, &waiting_tex);
        break;
    }
}

void Texture::releaseDecoder()
{
    if (texture_type != SlotKind::Video)
        return;
    player->releasePlayer(player_id);
    player_id = 0; // the destructor's stop then asks nothing
}

double Texture::monotonicSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void Texture::load(SlotPicture picture)
{
    file_name = picture.file_name;
    memory = std::move(picture.memory);
    if (picture.over_budget) {
        makeErrorTexture(kOverMemoryBudget, SlotState::OverMemoryBudget);
        return;
    }
    switch (picture.kind) {
    case SlotKind::Png:
        loadPng(picture);
        break;
    case SlotKind::Gif:
        loadGif(picture);
        break;
    case SlotKind::Video:
        loadVideo(picture);
        break;
    default:
        makeErrorTexture(kMissingFile, SlotState::Empty);
        break;
    }
}

void Texture::loadPng(SlotPicture& picture)
{
    if (!picture.pixels) {
        makeErrorTexture(kBrokenPng, SlotState::BrokenPng);
        return;
    }
    texture_type = SlotKind::Png;
    state = SlotState::Picture;
    size_x = picture.width;
    size_y = picture.height;
    thumbnail = std::move(picture.thumbnail);
    png_tex = std::exchange(picture.uploaded_texture, 0u);
    if (png_tex == 0) {
        glGenTextures(1, &png_tex);
        glBindTexture(GL_TEXTURE_2D, png_tex);
        setNearestFilters();
        uploadFittingPicture(picture.pixels, size_x, size_y);
    }
    picture.releasePixels();
    memory.settle();
}

void Texture::loadGif(SlotPicture& picture)
{
    GifFrames& frames = picture.gif_frames;
    if (!frames) {
        makeErrorTexture(kBrokenGif, SlotState::BrokenGif);
        return;
    }
    texture_type = SlotKind::Gif;
    state = SlotState::Animation;
    size_x = picture.width;
    size_y = picture.height;
    thumbnail = std::move(picture.thumbnail);
    last_clock_reading = clock();
    gif_time = 0.0;
    // Delays become cumulative end times; clamped so that a file of many long
    // frames cannot overflow the sum.
    long long end_time = 0;
    for (int delay : frames.delays()) {
        end_time = std::min<long long>(end_time + delay, INT_MAX);
        gif_end_times.push_back(static_cast<int>(end_time));
    }
    gif_tex.assign(static_cast<size_t>(frames.count()), 0);
    glGenTextures(frames.count(), gif_tex.data());
    for (int k = 0; k < frames.count(); ++k) {
        glBindTexture(GL_TEXTURE_2D, gif_tex[k]);
        setNearestFilters();
        uploadFittingPicture(frames.frame(k), size_x, size_y);
        frames.releaseFrame(k); // only the texture keeps the picture
    }
    memory.settle();
}

void Texture::loadVideo(SlotPicture& picture)
{
    texture_type = SlotKind::Video;
    if (!picture.size_known) {
        makeErrorTexture(kVideoProbeFailed, SlotState::VideoSizeUnknown);
        return;
    }
    if (!picture.decodable) {
        makeErrorTexture(kUndecodableVideo, SlotState::VideoNoPicture);
        return;
    }
    state = SlotState::VideoStarting;
    size_x = picture.width;
    size_y = picture.height;
    video_file = picture.file_name;
    if (video_start == VideoStart::OnCue) {
        loadFirstPicture(picture);
        return;
    }
    // From the start of the clip, since loading; under a show time, since
    // show time 0, so that every node shows the same picture.
    const ClipPosition::Now now = positionNow();
    position.startAt(ShowTime::installed() ? 0.0 : now.seconds, now);
    if (!startVideo())
        makeErrorTexture(kNoVideoDecoder, SlotState::NoDecoderFree);
}

// Uploaded now, so that a call shows it on the very frame it comes; its
// planes count in the picture memory from here on.
void Texture::loadFirstPicture(SlotPicture& picture)
{
    first_planes = std::make_unique<YuvTexture>();
    YuvFrameUpload upload;
    if (!picture.first_picture ||
        !upload.upload(*picture.first_picture, *first_planes, TextureLimit::gpuSide())) {
        first_planes.reset();
        makeErrorTexture(kUndecodableVideo, SlotState::VideoNoPicture);
        return;
    }
    picture.first_picture.reset();
    memory.settle();
}

bool Texture::startVideo()
{
    if (texture_type != SlotKind::Video || player == nullptr || player_id > 0)
        return false;
    player_id = player->startFreePlayer(video_file, position.steering());
    return player_id > 0;
}

void Texture::stopVideo()
{
    if (player_id < 1)
        return;
    player->stopPlayer(player_id);
    player_id = 0;
}

void Texture::cue(const ClipPosition::Channels& channels)
{
    if (texture_type == SlotKind::Gif) {
        gif_time = 0.0;
        last_clock_reading = clock();
        // Nodes that take the call on the same DMX frame start it together.
        show_start_mark = ShowTime::installed() ? ShowTime::now() : 0.0;
        last_show_reading = show_start_mark;
    } else if (texture_type == SlotKind::Video) {
        playback = channels;
        position.cue(channels, positionNow());
        if (playsVideo())
            player->steer(player_id, position.steering());
    }
}

void Texture::park()
{
    if (playsVideo())
        player->steer(player_id, position.park());
}

// The show time where one is installed, else the steady clock; both with
// the steady clock, which the decoders keep time by.
ClipPosition::Now Texture::positionNow() const
{
    ClipPosition::Now now;
    now.steady_ns = PictureQueue::steadyNowNs();
    now.seconds = ShowTime::installed() ? ShowTime::now() : static_cast<double>(now.steady_ns) / 1e9;
    now.day_seconds = ShowTime::daySeconds();
    return now;
}

// The decode thread gave up on a stream that yields no picture and has
// ended; the slot shows that instead of a texture that never changes.
void Texture::endFailedVideo()
{
    stopVideo();
    first_planes.reset();
    makeErrorTexture(kUndecodableVideo, SlotState::VideoNoPicture);
}

void Texture::fitIntoTextureLimit(int width, int height, int max_size, int* fitted_width,
                                  int* fitted_height)
{
    if (max_size <= 0 || (width <= max_size && height <= max_size)) {
        *fitted_width = width;
        *fitted_height = height;
        return;
    }
    const double scale = std::min(static_cast<double>(max_size) / width,
                                  static_cast<double>(max_size) / height);
    *fitted_width = std::clamp(static_cast<int>(width * scale), 1, max_size);
    *fitted_height = std::clamp(static_cast<int>(height * scale), 1, max_size);
}

void Texture::makeErrorTexture(const unsigned char rgba[4], SlotState why)
{
    memory.shrinkTo(0);
    texture_type = SlotKind::Missing;
    state = why;
    if (why != SlotState::Empty)
        thumbnail = SlotThumbnail::of(rgba, 1, 1);
    size_x = size_y = 1;
    glGenTextures(1, &none_tex);
    glBindTexture(GL_TEXTURE_2D, none_tex);
    setNearestFilters();
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
}

void Texture::setNearestFilters()
{
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

// A picture larger than the GPU takes is scaled down to fit rather than lost.
void Texture::uploadFittingPicture(const unsigned char* rgba, int width, int height)
{
    int fitted_width = 0;
    int fitted_height = 0;
    fitIntoTextureLimit(width, height, TextureLimit::gpuSide(), &fitted_width, &fitted_height);
    if (fitted_width == width && fitted_height == height) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return;
    }
    std::vector<unsigned char> fitted(static_cast<size_t>(fitted_width) * fitted_height * 4);
    stbir_resize_uint8(rgba, width, height, 0, fitted.data(), fitted_width, fitted_height, 0, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, fitted_width, fitted_height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, fitted.data());
}

double Texture::getSecondsSinceLastCall()
{
    const double now = clock();
    const double elapsed = now - last_clock_reading;
    last_clock_reading = now;
    return elapsed;
}

double Texture::wrapGifTime(double time, int cycle_length)
{
    if (cycle_length <= 0 || time <= cycle_length)
        return time;
    // The same result as subtracting the cycle until the time is no longer
    // beyond it, without a loop whose length grows with the time elapsed.
    const double rest = std::fmod(time, static_cast<double>(cycle_length));
    return rest == 0.0 ? cycle_length : rest;
}

// The first frame that ends at or after the time (end times never fall),
// found by binary search: a long animation costs no more per draw.
int Texture::chooseGifFrame(const int* end_times, int count, double time)
{
    if (count <= 0)
        return 0;
    const int* last = end_times + count - 1;
    return static_cast<int>(std::lower_bound(end_times, last, time,
                                             [](int end, double t) { return end < t; }) - end_times);
}

void Texture::setTexture()
{
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords_ptr);
    switch (texture_type) {
    case SlotKind::NotLoaded:
    case SlotKind::Missing:
        glBindTexture(GL_TEXTURE_2D, none_tex);
        break;
    case SlotKind::Png:
        glBindTexture(GL_TEXTURE_2D, png_tex);
        break;
    case SlotKind::Gif:
        glBindTexture(GL_TEXTURE_2D, gif_tex[currentGifFrame()]);
        break;
    case SlotKind::Video:
        bindVideo();
        break;
    }
}

// The decoder's picture of the position now. On cue the first picture
// stands in until the decoder has one of the clip's start; otherwise the
// last picture stays while the decoder looks for the next.
void Texture::bindVideo()
{
    if (player_id > 0 && player->playbackFailed(player_id)) {
        endFailedVideo();
        glBindTexture(GL_TEXTURE_2D, none_tex);
        return;
    }
    VideoPlayer::Shown shown = VideoPlayer::Shown::Nothing;
    if (player_id > 0) {
        player->steer(player_id, position.update(playback, positionNow()));
        glTexCoordPointer(2, GL_FLOAT, 0, texCoordsVid_ptr);
        shown = player->bindDue(player_id);
    }
    const bool from_start = position.steering().origin == 0;
    if (first_planes && (shown == VideoPlayer::Shown::Nothing ||
                         (shown == VideoPlayer::Shown::Earlier && from_start))) {
        glTexCoordPointer(2, GL_FLOAT, 0, texCoordsVid_ptr);
        first_planes->bind();
    } else if (shown == VideoPlayer::Shown::Nothing) {
        bindWaiting();
    }
}

// Before a clip's first picture: nothing (transparent black).
void Texture::bindWaiting()
{
    if (waiting_tex == 0) {
        static const unsigned char kNothing[4] = {0, 0, 0, 0};
        glGenTextures(1, &waiting_tex);
        glBindTexture(GL_TEXTURE_2D, waiting_tex);
        setNearestFilters();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, kNothing);
    }
    glBindTexture(GL_TEXTURE_2D, waiting_tex);
}

// The animation clock runs on wall time since loading, whoever draws the
// slot; with a show time, on the show time since the slot's start mark (0:
// started at start-up), so nodes sharing the show time show the same frame.
// Past the show time's midnight a called GIF goes on; one started at
// start-up comes round with the show time.
int Texture::currentGifFrame()
{
    if (ShowTime::installed()) {
        const double show = ShowTime::now();
        const double day = ShowTime::daySeconds();
        if (show_start_mark != 0.0 && ShowTime::cameRound(last_show_reading, show, day))
            show_start_mark -= day;
        last_show_reading = show;
        gif_time = (show - show_start_mark) * 100.0;
    } else
        gif_time += getSecondsSinceLastCall() * 100.0;
    gif_time = wrapGifTime(gif_time, gif_end_times.back());
    return chooseGifFrame(gif_end_times.data(), static_cast<int>(gif_end_times.size()), gif_time);
}

SlotReport Texture::report() const
{
    SlotReport report;
    report.slot = texture_id;
    report.state = state;
    // A failed stream shows as such once drawn; say so before that too.
    if (state == SlotState::VideoStarting && player && player->playbackFailed(player_id))
        report.state = SlotState::VideoNoPicture;
    else if (state == SlotState::VideoStarting && player && player->getPictureCount(player_id) > 0)
        report.state = SlotState::VideoPlaying;
    report.file = file_name;
    report.width = size_x;
    report.height = size_y;
    report.frames = static_cast<int>(gif_tex.size());
    report.thumbnail = thumbnail;
    if (playsVideo()) {
        const int64_t shown_us = player->shownTime(player_id);
        report.playback.playing = true;
        report.playback.mode = ClipPosition::nameOf(position.currentMode());
        report.playback.rate = position.steering().rate;
        report.playback.position_s = shown_us < 0 ? -1.0 : static_cast<double>(shown_us) / 1e6;
        report.playback.length_s = static_cast<double>(player->timing(player_id).duration_us) / 1e6;
        report.playback.resting = position.steering().parked;
    }
    return report;
}

float Texture::getTextureRatio() const
{
    if (size_x > 0 && size_y > 0)
        return static_cast<float>(size_y) / static_cast<float>(size_x);
    return 0.0f;
}

} // namespace Spectrafox
