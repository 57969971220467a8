#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include "canvas/canvas_content/content_local_file_texture/slot_prefetcher.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"

namespace Spectrafox {

namespace {
// Decoded pictures allowed to wait for upload: bounds start-up memory.
constexpr int kMaxPicturesAhead = 4;
constexpr GLfloat kUpright[8] = {0, 1, 1, 1, 0, 0, 1, 0};
constexpr GLfloat kFlipped[8] = {0, 0, 1, 0, 0, 1, 1, 1};
} // namespace

ContentLocalFileTexture::ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c)
{
    std::copy(kUpright, kUpright + 8, texCoords);
    std::copy(kFlipped, kFlipped + 8, texCoordsVid);
    glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (Texture*& slot : textures)
        slot = nullptr;
    player = new VideoPlayer(d, s, c);
    loadSlots();
}

// Files are decoded on worker threads; slots are created (and uploaded) here
// in slot order, so the outcome is the same as loading them one by one.
void ContentLocalFileTexture::loadSlots()
{
    SlotPrefetcher prefetcher(
        kSlotCount, [](int slot) { return SlotPicture::load(slot); },
        SlotPrefetcher::defaultWorkerCount(), kMaxPicturesAhead);
    for (int n = 0; n < kSlotCount; ++n)
        textures[n] = new Texture(n, player, texCoords, texCoordsVid, prefetcher.take(n));
}

ContentLocalFileTexture::~ContentLocalFileTexture()
{
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

} // namespace Spectrafox
