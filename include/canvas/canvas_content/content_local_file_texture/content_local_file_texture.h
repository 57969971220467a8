#pragma once

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_local_file_texture/slot_report.h"

namespace Spectrafox {

class Texture;
class VideoPlayer;

// "CONTENT_TEXTURE_256": 256 picture slots filled at start-up from
// ./textures/000.* to ./textures/255.*, selected by content number.
class ContentLocalFileTexture : public ContentInterface {
public:
    static constexpr int kSlotCount = 256;

    ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~ContentLocalFileTexture() override;
    ContentLocalFileTexture(const ContentLocalFileTexture&) = delete;
    ContentLocalFileTexture& operator=(const ContentLocalFileTexture&) = delete;

    std::string getContentTypeName() override;
    void getContentRatio(int content_data, float* ratio) override;
    void setContent(int content_data) override;

    // The slot a content number selects (numbers outside 0-255 select slot 0).
    Texture* getSlot(int content_data) const;
    // Every slot, in number order (render thread).
    std::vector<SlotReport> slotReports() const;

private:
    void loadSlots();

    Texture* textures[kSlotCount];
    VideoPlayer* player;
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
};

} // namespace Spectrafox
