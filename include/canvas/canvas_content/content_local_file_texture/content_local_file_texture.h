#pragma once

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_options.h"
#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_picture.h"
#include "canvas/canvas_content/content_local_file_texture/slots/slot_report.h"
#include "canvas/canvas_content/video_cue_options.h"

namespace Spectrafox {

class BandedUpload;
class SlotReloader;
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
    // Loads slot n (0-255) anew from its files, as at start-up, on a worker
    // thread: the slot shows its old picture until a later frame's end puts
    // the new one in its place (a video slot then gives its decoder back and
    // starts on the new file). Render thread.
    void reloadSlot(int n);
    // Loads anew, in the same way, every slot whose file is not the one it
    // was loaded from (after file events were lost). Render thread.
    void rescanSlots();
    // Every slot, in number order (render thread).
    std::vector<SlotReport> slotReports() const;

private:
    void loadSlots();
    void tellLeftOut(int slot, const SlotPicture& picture) const;
    Texture* newSlot(int n, SlotPicture picture);
    SlotReloader& reloader();
    void takeReloadedPictures();
    bool stageNextReloaded();
    void replaceSlot(int n, SlotPicture picture);

    ContentOptions options;
    // Declared before the slots' owner runs its destructor body: it outlives them.
    PictureMemoryBudget budget;
    Texture* textures[kSlotCount];
    VideoPlayer* player;
    const bool video_on_cue;
    // Videos beyond this on either side are refused before decoding.
    const int largest_video_side;
    std::unique_ptr<VideoCueDirector> cue_director; // with VIDEO_ON_CUE=1 only
    // What each slot was loaded from at start-up, until the reloader takes it.
    std::vector<SlotPicture::Source> loaded_from;
    // Made at the first reload (WATCH_TEXTURES=1 only); its worker reads `budget`.
    std::unique_ptr<SlotReloader> slot_reloader;
    // The reloaded picture being uploaded, over as many frames as it takes.
    struct Staged;
    std::unique_ptr<Staged> staged;
    std::atomic<bool> closing{false};
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
};

} // namespace Spectrafox
