#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include "canvas/canvas_content/content_local_file_texture/slot_prefetcher.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/video_cue_director.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"

namespace Spectrafox {

namespace {
// Decoded pictures allowed to wait for upload: bounds start-up memory.
constexpr int kMaxPicturesAhead = 4;
constexpr GLfloat kUpright[8] = {0, 1, 1, 1, 0, 0, 1, 0};
constexpr GLfloat kFlipped[8] = {0, 0, 1, 0, 0, 1, 1, 1};
} // namespace

ContentLocalFileTexture::ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                                                 const VideoCueOptions& video)
    : video_on_cue(video.on_cue)
{
    std::copy(kUpright, kUpright + 8, texCoords);
    std::copy(kFlipped, kFlipped + 8, texCoordsVid);
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (Texture*& slot : textures)
        slot = nullptr;
    // On cue, decoders come and go; otherwise the first three are kept.
    player = video_on_cue ? new VideoPlayer(d, s, c, video.decoders, true)
                          : new VideoPlayer(d, s, c);
    loadSlots();
    if (video_on_cue)
        cue_director = std::make_unique<VideoCueDirector>(textures, kSlotCount, video.decoders,
                                                          video.notice, &Texture::monotonicSeconds);
}

// Files are decoded on worker threads; slots are created (and uploaded) here
// in slot order, so the outcome is the same as loading them one by one.
void ContentLocalFileTexture::loadSlots()
{
    const bool first_pictures = video_on_cue;
    SlotPrefetcher prefetcher(
        kSlotCount,
        [first_pictures](int slot) { return SlotPicture::load(slot, "./textures/", first_pictures); },
        SlotPrefetcher::defaultWorkerCount(), kMaxPicturesAhead);
    const Texture::VideoStart start =
        video_on_cue ? Texture::VideoStart::OnCue : Texture::VideoStart::AtLoad;
    for (int n = 0; n < kSlotCount; ++n)
        textures[n] = new Texture(n, player, texCoords, texCoordsVid, prefetcher.take(n),
                                  &Texture::monotonicSeconds, start);
}

ContentLocalFileTexture::~ContentLocalFileTexture()
{
    cue_director.reset();
    player->sendStopSignal();
    for (Texture*& slot : textures) {
        delete slot;
        slot = nullptr;
    }
    delete player;
}

std::string ContentLocalFileTexture::getContentTypeName() { return "CONTENT_TEXTURE_256"; }

Texture* ContentLocalFileTexture::getSlot(int content_data) const
{
    if (content_data < 0 || content_data >= kSlotCount)
        content_data = 0;
    return textures[content_data];
}

void ContentLocalFileTexture::getContentRatio(int content_data, float* ratio)
{
    *ratio = getSlot(content_data)->getTextureRatio();
}

void ContentLocalFileTexture::setContent(int content_data) { getSlot(content_data)->setTexture(); }

void ContentLocalFileTexture::setContentFor(int content_data, const CanvasCue& cue)
{
    if (cue_director)
        cue_director->note(content_data < 0 || content_data >= kSlotCount ? 0 : content_data, cue);
    setContent(content_data);
}

void ContentLocalFileTexture::frameDone()
{
    if (cue_director)
        cue_director->frameDone();
}

} // namespace Spectrafox
