#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/slots/banded_upload.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_prefetcher.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_reloader.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_turns.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/video/video_cue_director.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "platform/fixed_function/texture_limit.h"

namespace Spectrafox {

namespace {
// Decoded pictures allowed to wait for upload: bounds start-up memory.
constexpr int kMaxPicturesAhead = 4;
// Reloaded pictures decoded and waiting for their frame.
constexpr int kMaxReloadedWaiting = 2;
// Texture bytes a frame uploads for reloaded slots (a full-HD picture's
// worth): a larger PNG is uploaded in bands over several frames.
constexpr std::uint64_t kUploadBytesPerFrame = std::uint64_t{8} << 20;
const char* const kFolder = "./textures/";
constexpr GLfloat kUpright[8] = {0, 1, 1, 1, 0, 0, 1, 0};
constexpr GLfloat kFlipped[8] = {0, 0, 1, 0, 0, 1, 1, 1};
} // namespace

ContentLocalFileTexture::ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                                                 const ContentOptions& content_options)
    : options(content_options),
      budget(content_options.picture_memory_bytes > 0 ? content_options.picture_memory_bytes
                                                       : PictureMemoryBudget::defaultLimit()),
      video_on_cue(content_options.video.on_cue), largest_video_side(TextureLimit::videoSide())
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
            slot, kFolder,
            [&](std::uint64_t peak, std::uint64_t kept, PictureMemoryBudget::Reservation* out) {
                return turns.inTurn(slot, [&] { return budget.admit(peak, kept, out); });
            },
            first_pictures, largest_video_side);
        turns.pass(slot);
        if (options.thumbnails)
            picture.makeThumbnail();
        return picture;
    };
    SlotPrefetcher prefetcher(kSlotCount, decode, SlotPrefetcher::defaultWorkerCount(), kMaxPicturesAhead);
    loaded_from.resize(kSlotCount);
    for (int n = 0; n < kSlotCount; ++n) {
        SlotPicture picture = prefetcher.take(n);
        loaded_from[static_cast<size_t>(n)] = picture.source;
        tellLeftOut(n, picture);
        textures[n] = newSlot(n, std::move(picture));
    }
}

void ContentLocalFileTexture::tellLeftOut(int slot, const SlotPicture& picture) const
{
    if (picture.refusal.empty() || !options.notice)
        return;
    const std::string limit = picture.too_large ? ", the largest video played here"
                                                : " (picture memory " + std::to_string(budget.limit() >> 20) +
                                                      " MB, TEXTURE_MEMORY_MB=)";
    options.notice("Slot " + std::to_string(slot) + " left out: " + picture.file_name + " " +
                   picture.refusal + limit);
}

void ContentLocalFileTexture::reloadSlot(int n) { reloader().reload(n); }

void ContentLocalFileTexture::rescanSlots() { reloader().rescan(); }

SlotReloader& ContentLocalFileTexture::reloader()
{
    if (slot_reloader)
        return *slot_reloader;
    auto load = [this](int slot) {
        SlotPicture picture = SlotPicture::load(
            slot, kFolder,
            [this](std::uint64_t peak, std::uint64_t kept, PictureMemoryBudget::Reservation* out) {
                return !closing.load() && budget.admit(peak, kept, out);
            },
            video_on_cue, largest_video_side);
        if (options.thumbnails)
            picture.makeThumbnail();
        return picture;
    };
    auto find = [](int slot) { return SlotPicture::sourceOf(slot, kFolder); };
    slot_reloader = std::make_unique<SlotReloader>(std::move(loaded_from), load, find, kMaxReloadedWaiting);
    return *slot_reloader;
}

namespace {
std::uint64_t uploadBytes(const SlotPicture& picture)
{
    if (picture.kind == SlotKind::Png && picture.pixels)
        return PictureMemoryBudget::textureBytes(picture.width, picture.height, 1);
    if (picture.kind == SlotKind::Gif && picture.gif_frames)
        return PictureMemoryBudget::textureBytes(picture.width, picture.height, picture.gif_frames.count());
    if (picture.kind == SlotKind::Video && picture.first_picture) // 4:2:0 planes
        return static_cast<std::uint64_t>(picture.width) * static_cast<std::uint64_t>(picture.height) * 3 / 2;
    return 0;
}
} // namespace

struct ContentLocalFileTexture::Staged {
    int slot = 0;
    SlotPicture picture;
    std::unique_ptr<BandedUpload> upload; // null: uploaded whole by its Texture
};

// At a frame's end: what the reloader has decoded replaces the old pictures,
// within the frame's upload budget; the rest waits for the next frames.
void ContentLocalFileTexture::takeReloadedPictures()
{
    std::uint64_t budget = kUploadBytesPerFrame;
    while (budget > 0 && (staged || stageNextReloaded())) {
        if (staged->upload && !staged->upload->uploadWithin(&budget))
            return;
        if (staged->upload)
            staged->picture.uploaded_texture = staged->upload->take();
        else
            budget -= std::min(budget, uploadBytes(staged->picture));
        replaceSlot(staged->slot, std::move(staged->picture));
        staged.reset();
    }
}

bool ContentLocalFileTexture::stageNextReloaded()
{
    // Frames without a reloaded picture allocate nothing.
    int slot = 0;
    SlotPicture taken;
    if (!slot_reloader || !slot_reloader->takeReady(&slot, &taken))
        return false;
    auto next = std::make_unique<Staged>();
    next->slot = slot;
    next->picture = std::move(taken);
    const SlotPicture& picture = next->picture;
    if (picture.kind == SlotKind::Png && picture.pixels && BandedUpload::fits(picture.width, picture.height))
        next->upload = std::make_unique<BandedUpload>(picture.pixels, picture.width, picture.height);
    staged = std::move(next);
    return true;
}

void ContentLocalFileTexture::replaceSlot(int n, SlotPicture picture)
{
    // Refused while the old picture held its memory: the old one goes first,
    // and the file is read again into the memory it gave back.
    if (picture.over_budget && textures[n]->memoryHeld() > 0) {
        picture = SlotPicture();
        picture.kind = SlotKind::Missing;
        slot_reloader->reload(n);
    }
    tellLeftOut(n, picture);
    textures[n]->releaseDecoder();
    delete textures[n];
    textures[n] = newSlot(n, std::move(picture));
}

Texture* ContentLocalFileTexture::newSlot(int n, SlotPicture picture)
{
    const Texture::VideoStart start = video_on_cue ? Texture::VideoStart::OnCue : Texture::VideoStart::AtLoad;
    return new Texture(n, player, texCoords, texCoordsVid, std::move(picture), &Texture::monotonicSeconds, start);
}

ContentLocalFileTexture::~ContentLocalFileTexture()
{
    // A reload not yet granted its memory gives up; one waiting for the
    // memory of pictures not yet shown gets it as they go.
    closing.store(true);
    staged.reset();
    slot_reloader.reset();
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
    takeReloadedPictures();
}

} // namespace Spectrafox
