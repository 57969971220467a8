#pragma once

#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/fixed_function/yuv_texture.h"
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/video/clip_position.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_kind.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"

namespace Spectrafox {

class VideoPlayer;

// The slot's kind under the names its four final states go by: an error
// picture (TEX_NONE), a still image, an animation or a video.
using TEXTURE_TYPE = SlotKind;
constexpr TEXTURE_TYPE TEX_NONE = SlotKind::Missing;
constexpr TEXTURE_TYPE TEX_PNG = SlotKind::Png;
constexpr TEXTURE_TYPE TEX_GIF = SlotKind::Gif;
constexpr TEXTURE_TYPE TEX_VIDEO = SlotKind::Video;

// One numbered picture slot of the file texture plug-in: a still image, a GIF
// animation, a video, or a one-texel error picture whose colour tells what
// went wrong. Everything runs on the render thread with the GL context current.
class Texture {
public:
    // Seconds on a clock that never jumps (the GIF animation clock).
    using Clock = double (*)();
    // When a video slot asks for a decoder: as it loads (taken for good), or
    // when startVideo is called, showing its first picture until then.
    enum class VideoStart { AtLoad, OnCue };

    // Finds and decodes ./textures/NNN.* itself.
    Texture(int t_id, VideoPlayer* player, GLfloat* texCoords_ptr, GLfloat* texCoordsVid_ptr);
    // Takes a picture decoded beforehand (possibly on another thread).
    Texture(int t_id, VideoPlayer* player, GLfloat* texCoords_ptr, GLfloat* texCoordsVid_ptr,
            SlotPicture picture, Clock clock = &monotonicSeconds,
            VideoStart video_start = VideoStart::AtLoad);
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Gives a video slot's decoder back to the player before the slot is
    // deleted to be loaded anew; other slots hold nothing to give back.
    void releaseDecoder();
    // The picture memory the slot holds now.
    std::uint64_t memoryHeld() const { return memory.bytes(); }

    void setTexture();
    float getTextureRatio() const;
    SlotKind getTextureType() const { return texture_type; }
    // What the slot shows now, for the status page and the console.
    SlotReport report() const;

    // A video slot takes a decoder and plays from where its position says;
    // false when none is free (or the slot plays no video).
    bool startVideo();
    // Gives the decoder back; the slot shows its first picture again.
    void stopVideo();
    bool playsVideo() const { return player_id > 0; }
    // The slot was called onto a canvas: an animation starts at its first
    // frame, a video at its in-point (channels 19/20 of the calling canvas).
    void cue(const ClipPosition::Channels& channels = ClipPosition::Channels());
    // The playback channels of the canvas that decides for the slot this
    // frame (the lowest that shows it).
    void setPlayback(const ClipPosition::Channels& channels) { playback = channels; }
    // Not on screen: a video's decoder rests until the slot is called again.
    void park();

    // The GIF frame shown at gif_time (hundredths of a second into the cycle),
    // given each frame's cumulative end time.
    static int chooseGifFrame(const int* end_times, int count, double gif_time);
    // Brings a growing clock back into (0, cycle_length]; a zero cycle is left alone.
    static double wrapGifTime(double gif_time, int cycle_length);
    static double monotonicSeconds();

    // Error pictures, red, green, blue, alpha.
    static constexpr unsigned char kMissingFile[4] = {255, 0, 0, 0};
    static constexpr unsigned char kVideoProbeFailed[4] = {255, 255, 0, 63};
    static constexpr unsigned char kNoVideoDecoder[4] = {255, 0, 0, 63};
    static constexpr unsigned char kBrokenPng[4] = {255, 0, 255, 63};
    static constexpr unsigned char kBrokenGif[4] = {0, 255, 255, 63};
    // A video that gives no picture: not H.264, or not a video at all.
    static constexpr unsigned char kUndecodableVideo[4] = {0, 0, 255, 63};
    // A PNG or GIF left out: it would not fit the picture memory.
    static constexpr unsigned char kOverMemoryBudget[4] = {255, 128, 0, 63};

    // The largest size within max_size on both sides with the same
    // proportions (at least 1 x 1); sizes that fit are kept.
    static void fitIntoTextureLimit(int width, int height, int max_size, int* fitted_width,
                                    int* fitted_height);

private:
    void load(SlotPicture picture);
    void loadPng(SlotPicture& picture);
    void loadGif(SlotPicture& picture);
    void loadVideo(SlotPicture& picture);
    void makeErrorTexture(const unsigned char rgba[4], SlotState why);
    void endFailedVideo();
    void loadFirstPicture(SlotPicture& picture);
    void bindVideo();
    void bindWaiting();
    ClipPosition::Now positionNow() const;
    double getSecondsSinceLastCall();
    int currentGifFrame();
    static void uploadFittingPicture(const unsigned char* rgba, int width, int height);
    static void setNearestFilters();

    GLfloat* texCoords_ptr;
    GLfloat* texCoordsVid_ptr;
    int texture_id;
    SlotKind texture_type = SlotKind::Missing;
    int size_x = 0;
    int size_y = 0;
    GLuint none_tex = 0;
    GLuint png_tex = 0;
    // Each frame's cumulative end time, hundredths of a second into the cycle.
    std::vector<int> gif_end_times;
    double gif_time = 0.0;
    // The show time a cue started the animation at (0: at start-up), moved
    // a day back when the show time comes round.
    double show_start_mark = 0.0;
    double last_show_reading = 0.0;
    double last_clock_reading = 0.0;
    Clock clock;
    std::vector<GLuint> gif_tex;
    VideoPlayer* player;
    int player_id = 0;
    // The picture memory the slot's textures take, given back with the slot.
    PictureMemoryBudget::Reservation memory;
    // Kept for report().
    SlotState state = SlotState::Empty;
    std::string file_name;
    std::shared_ptr<const SlotThumbnail> thumbnail;
    VideoStart video_start;
    std::string video_file;
    // Where in the clip the slot should be, and the channels that steer it.
    ClipPosition position;
    ClipPosition::Channels playback;
    // On cue: the first picture, shown until the decoder has one of the
    // clip's start; luma and chroma, as the decoder's pictures are.
    std::unique_ptr<YuvTexture> first_planes;
    // Shown before the first picture when there is no first picture.
    GLuint waiting_tex = 0;
};

} // namespace Spectrafox
