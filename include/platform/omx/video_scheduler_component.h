#pragma once

#include "platform/omx/omx_component.h"

namespace Spectrafox {

// "video_scheduler": takes decoded pictures on port 10 and releases them on
// port 11 at the stream's own pace, one picture duration after the other,
// against the media time of the clock tunnelled to port 12. No picture is
// dropped: a renderer that cannot keep up delays the following pictures, and
// after a long stall the timeline starts afresh instead of rushing.
class VideoSchedulerComponent : public OmxComponent {
public:
    static constexpr OMX_U32 kInputPort = 10;
    static constexpr OMX_U32 kOutputPort = 11;
    static constexpr OMX_U32 kClockPort = 12;

    VideoSchedulerComponent();

protected:
    bool process() override;
    Clock::time_point nextDeadline() override { return deadline; }
    void onFlush(OMX_U32 port) override;

private:
    bool announceSize(const OmxPicture& picture);
    bool mediaTime(int64_t* now_us);
    void noteReleased(const OmxPicture& picture, int64_t now_us);

    // Touched by the component's thread only.
    Clock::time_point deadline = Clock::time_point::max();
    bool timeline_started = false;
    int64_t next_release_us = 0;
    int announced_width = 0;
    int announced_height = 0;
};

} // namespace Spectrafox
