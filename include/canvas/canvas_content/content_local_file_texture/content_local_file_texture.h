#pragma once

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_options.h"
#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"
#include "canvas/canvas_content/video_cue_options.h"

namespace Spectrafox {

class SlotPicture;
class Texture;
class VideoPlayer;
class VideoCueDirector;

// "CONTENT_TEXTURE_256": 256 picture slots filled at start-up from
// ./textures/000.* to ./textures/255.*, selected by content number.
class ContentLocalFileTexture : public ContentInterface {
public:
    static constexpr int kSlotCount = 256;

    ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                            const ContentOptions& options = ContentOptions());
    ~ContentLocalFileTexture() override;
    ContentLocalFileTexture(const ContentLocalFileTexture&) = delete;
    ContentLocalFileTexture& operator=(const ContentLocalFileTexture&) = delete;

    std::string getContentTypeName() override;
    void getContentRatio(int content_data, float* ratio) override;
    void setContent(int content_data) override;
    void setContentFor(int content_data, const CanvasCue& cue) override;
    void frameDone() override;

    // The slot a content number selects (numbers outside 0-255 select slot 0).
    Texture* getSlot(int content_data) const;
    // Loads slot n (0-255) anew from its files, as at start-up; a video slot
    // gives its decoder back first and starts on the new file. Render thread.
    void reloadSlot(int n);
    // Every slot, in number order (render thread).
    std::vector<SlotReport> slotReports() const;

private:
    void loadSlots();
    void tellLeftOut(int slot, const SlotPicture& picture) const;
    Texture* newSlot(int n, SlotPicture picture);

    ContentOptions options;
    // Declared before the slots' owner runs its destructor body: it outlives them.
    PictureMemoryBudget budget;
    Texture* textures[kSlotCount];
    VideoPlayer* player;
    const bool video_on_cue;
    // Videos beyond this on either side are refused before decoding.
    const int largest_video_side;
    std::unique_ptr<VideoCueDirector> cue_director; // with VIDEO_ON_CUE=1 only
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
};

} // namespace Spectrafox
