#pragma once

#include "platform/omx/omx_component.h"

namespace Spectrafox {

// "clock": the media clock of a pipeline, on output port 80 (domain other).
// Set to OMX_TIME_ClockStateWaitingForStartTime it starts running when the
// client on port 80 reports its start time; media time then counts from 0 in
// microseconds while the component executes.
class ClockComponent : public OmxComponent {
public:
    static constexpr OMX_U32 kOutputPort = 80;

    ClockComponent();

    // Called by the tunnelled client (the scheduler) under the tunnel lock.
    void reportStartTime();
    // Media time in microseconds; false while the clock does not run.
    bool mediaTime(int64_t* now_us);

protected:
    OMX_ERRORTYPE getComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override;
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override;

private:
    std::mutex clock_mutex;
    OMX_TIME_CLOCKSTATE clock_state = OMX_TIME_ClockStateStopped;
    OMX_U32 wait_mask = 0;
    Clock::time_point start_time;
};

} // namespace Spectrafox
