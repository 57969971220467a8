#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include <cstdint>
#include <string>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/slots/slot_prefetcher.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_turns.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/video/video_cue_director.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"

namespace Spectrafox {

namespace {
// Decoded pictures allowed to wait for upload: bounds start-up memory.
constexpr int kMaxPicturesAhead = 4;
constexpr GLfloat kUpright[8] = {0, 1, 1, 1, 0, 0, 1, 0};
constexpr GLfloat kFlipped[8] = {0, 0, 1, 0, 0, 1, 1, 1};
} // namespace

ContentLocalFileTexture::ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                                                 const ContentOptions& content_options)
    : options(content_options),
      budget(content_options.picture_memory_bytes > 0 ? content_options.picture_memory_bytes
                                                       : PictureMemoryBudget::defaultLimit()),
      video_on_cue(content_options.video.on_cue)
{
    std::copy(kUpright, kUpright + 8, texCoords);
    std::copy(kFlipped, kFlipped + 8, texCoordsVid);
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (Texture*& slot : textures)
        slot = nullptr;
    // On cue, decoders come and go; otherwise the first three are kept.
    player = video_on_cue ? new VideoPlayer(d, s, c, options.video.decoders, true, options.notice)
                          : new VideoPlayer(d, s, c, VideoPlayer::kDefaultSlots, false,
                                            options.notice);
    loadSlots();
    if (video_on_cue)
        cue_director = std::make_unique<VideoCueDirector>(textures, kSlotCount, options.video.decoders,
                                                          options.video.notice, &Texture::monotonicSeconds);
}

// Files are decoded on worker threads; slots are created (and uploaded) here
// in slot order. Memory is granted in slot order too, so the outcome is the
// same as loading them one by one: when the budget runs out, the lower slots
// keep their pictures.
void ContentLocalFileTexture::loadSlots()
{
    SlotTurns turns;
    // On cue, every video's first picture is ready before its first call.
    const bool first_pictures = video_on_cue;
    auto decode = [this, &turns, first_pictures](int slot) {
        SlotPicture picture = SlotPicture::load(
            slot, "./textures/",
            [&](std::uint64_t peak, std::uint64_t kept, PictureMemoryBudget::Reservation* out) {
                return turns.inTurn(slot, [&] { return budget.admit(peak, kept, out); });
            },
            first_pictures);
        turns.pass(slot);
        if (options.thumbnails)
            picture.makeThumbnail();
        return picture;
    };
    SlotPrefetcher prefetcher(kSlotCount, decode, SlotPrefetcher::defaultWorkerCount(), kMaxPicturesAhead);
    for (int n = 0; n < kSlotCount; ++n) {
        SlotPicture picture = prefetcher.take(n);
        tellLeftOut(n, picture);
        textures[n] = newSlot(n, std::move(picture));
    }
}

void ContentLocalFileTexture::tellLeftOut(int slot, const SlotPicture& picture) const
{
    if (!picture.over_budget || !options.notice)
        return;
    options.notice("Slot " + std::to_string(slot) + " left out: " + picture.file_name + " " +
                   picture.refusal + " (picture memory " + std::to_string(budget.limit() >> 20) +
                   " MB, TEXTURE_MEMORY_MB=)");
}

void ContentLocalFileTexture::reloadSlot(int n)
{
    if (n < 0 || n >= kSlotCount)
        return;
    // The old picture gives its memory back before the new one asks for it.
    textures[n]->releaseDecoder();
    delete textures[n];
    textures[n] = nullptr;
    SlotPicture picture = SlotPicture::load(
        n, "./textures/",
        [this](std::uint64_t peak, std::uint64_t kept, PictureMemoryBudget::Reservation* out) {
            return budget.admit(peak, kept, out);
        },
        video_on_cue);
    if (options.thumbnails)
        picture.makeThumbnail();
    tellLeftOut(n, picture);
    textures[n] = newSlot(n, std::move(picture));
}

Texture* ContentLocalFileTexture::newSlot(int n, SlotPicture picture)
{
    const Texture::VideoStart start = video_on_cue ? Texture::VideoStart::OnCue : Texture::VideoStart::AtLoad;
    return new Texture(n, player, texCoords, texCoordsVid, std::move(picture), &Texture::monotonicSeconds, start);
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

std::vector<SlotReport> ContentLocalFileTexture::slotReports() const
{
    std::vector<SlotReport> reports;
    reports.reserve(kSlotCount);
    for (const Texture* slot : textures)
        reports.push_back(slot->report());
    return reports;
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
