#include "status/status_board.h"

namespace Spectrafox {

namespace {

long long steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

void StatusBoard::publishRenderState(RenderState state)
{
    auto shared = std::make_shared<const RenderState>(std::move(state));
    std::lock_guard<std::mutex> lock(mutex);
    render_state.swap(shared);
    // The old copy is released after the lock, by `shared`.
}

void StatusBoard::publishPreview(PreviewPicture picture)
{
    auto shared = std::make_shared<const PreviewPicture>(std::move(picture));
    std::lock_guard<std::mutex> lock(mutex);
    preview_picture.swap(shared);
}

std::shared_ptr<const RenderState> StatusBoard::renderState() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return render_state;
}

std::shared_ptr<const PreviewPicture> StatusBoard::preview() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return preview_picture;
}

void StatusBoard::previewAsked()
{
    preview_asked_ms.store(steadyMilliseconds(), std::memory_order_relaxed);
}

bool StatusBoard::previewWanted() const
{
    const long long asked = preview_asked_ms.load(std::memory_order_relaxed);
    return steadyMilliseconds() - asked <= std::chrono::milliseconds(kPreviewInterest).count();
}

} // namespace Spectrafox
