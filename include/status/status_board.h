#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "status/node_status.h"

namespace Spectrafox {

// The one place the render thread and the web server meet. The render thread
// publishes whole copies; readers take a shared pointer, so the lock is held
// only for a pointer copy and never while either side works.
class StatusBoard {
public:
    void publishRenderState(RenderState state);
    void publishPreview(PreviewPicture picture);
    std::shared_ptr<const RenderState> renderState() const;
    std::shared_ptr<const PreviewPicture> preview() const;

    // A page asked for the preview; the screen is read back only while one
    // was asked for lately.
    void previewAsked();
    bool previewWanted() const;

    static constexpr std::chrono::seconds kPreviewInterest{5};

private:
    mutable std::mutex mutex;
    std::shared_ptr<const RenderState> render_state = std::make_shared<RenderState>();
    std::shared_ptr<const PreviewPicture> preview_picture;
    std::atomic<long long> preview_asked_ms{-1000000};
};

} // namespace Spectrafox
