#include "platform/omx/video_scheduler_component.h"

#include "platform/omx/clock_component.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace Spectrafox {

namespace {
// How often a picture waiting for a stopped clock looks again.
constexpr auto kClockPoll = std::chrono::milliseconds(10);
// Further behind than this, the timeline restarts rather than catching up.
constexpr int64_t kLongestLagUs = 200000;
} // namespace

VideoSchedulerComponent::VideoSchedulerComponent()
    : OmxComponent(std::string("OMX.spectrafox.video_scheduler"))
{
    addPort({kInputPort, OMX_DirInput, OMX_PortDomainVideo, 0, 0, 2});
    addPort({kOutputPort, OMX_DirOutput, OMX_PortDomainVideo});
    addPort({kClockPort, OMX_DirInput, OMX_PortDomainOther});
}

bool VideoSchedulerComponent::process()
{
    deadline = Clock::time_point::max();
    OmxPicture picture;
    if (!peekPicture(kInputPort, &picture))
        return false;
    const bool announced = announceSize(picture);
    int64_t now_us = 0;
    if (!mediaTime(&now_us)) {
        deadline = Clock::now() + kClockPoll;
        return announced;
    }
    if (timeline_started && !picture.endOfStream() && now_us < next_release_us) {
        deadline = Clock::now() + std::chrono::microseconds(next_release_us - now_us);
        return announced;
    }
    // A refused picture stays; the renderer wakes this thread when it has room.
    if (!sendPicture(kOutputPort, picture))
        return announced;
    popPicture(kInputPort);
    noteReleased(picture, now_us);
    return true;
}

void VideoSchedulerComponent::noteReleased(const OmxPicture& picture, int64_t now_us)
{
    if (picture.endOfStream()) {
        timeline_started = false;
        return;
    }
    if (!timeline_started || now_us - next_release_us > kLongestLagUs)
        next_release_us = now_us;
    timeline_started = true;
    next_release_us += picture.duration_us;
}

bool VideoSchedulerComponent::announceSize(const OmxPicture& picture)
{
    if (picture.endOfStream() ||
        (picture.frame->width == announced_width && picture.frame->height == announced_height))
        return false;
    announced_width = picture.frame->width;
    announced_height = picture.frame->height;
    setFrameSize(kInputPort, announced_width, announced_height);
    setFrameSize(kOutputPort, announced_width, announced_height);
    raiseEvent(OMX_EventPortSettingsChanged, kOutputPort, OMX_IndexParamPortDefinition);
    return true;
}

bool VideoSchedulerComponent::mediaTime(int64_t* now_us)
{
    bool running = false;
    withPeer(kClockPort, [&](OmxComponent* peer, OMX_U32) {
        auto* clock = dynamic_cast<ClockComponent*>(peer);
        if (clock == nullptr)
            return;
        clock->reportStartTime();
        running = clock->mediaTime(now_us);
    });
    return running;
}

void VideoSchedulerComponent::onFlush(OMX_U32) { timeline_started = false; }

} // namespace Spectrafox
