#pragma once

#include <EGL/egl.h>
#include "platform/fixed_function/gl_fixed_function.h"
#include <memory>
#include <string>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/video_cue_options.h"

namespace Spectrafox {

class Texture;
class VideoPlayer;
class VideoCueDirector;

// "CONTENT_TEXTURE_256": 256 picture slots filled at start-up from
// ./textures/000.* to ./textures/255.*, selected by content number.
class ContentLocalFileTexture : public ContentInterface {
public:
    static constexpr int kSlotCount = 256;

    ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c,
                            const VideoCueOptions& video = {});
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

private:
    void loadSlots();

    Texture* textures[kSlotCount];
    VideoPlayer* player;
    const bool video_on_cue;
    std::unique_ptr<VideoCueDirector> cue_director; // with VIDEO_ON_CUE=1 only
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
};

} // namespace Spectrafox
