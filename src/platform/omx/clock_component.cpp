#include "platform/omx/clock_component.h"

#include <cstring>

namespace Spectrafox {

ClockComponent::ClockComponent() : OmxComponent(std::string("OMX.spectrafox.clock"))
{
    addPort({kOutputPort, OMX_DirOutput, OMX_PortDomainOther});
}

void ClockComponent::reportStartTime()
{
    std::lock_guard<std::mutex> lock(clock_mutex);
    if (clock_state != OMX_TIME_ClockStateWaitingForStartTime || (wait_mask & 1u) == 0)
        return;
    clock_state = OMX_TIME_ClockStateRunning;
    start_time = Clock::now();
}

bool ClockComponent::mediaTime(int64_t* now_us)
{
    if (currentState() != OMX_StateExecuting)
        return false;
    std::lock_guard<std::mutex> lock(clock_mutex);
    if (clock_state != OMX_TIME_ClockStateRunning)
        return false;
    *now_us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_time)
                  .count();
    return true;
}

OMX_ERRORTYPE ClockComponent::getComponentParameter(OMX_INDEXTYPE index, OMX_PTR data)
{
    if (index != OMX_IndexConfigTimeClockState)
        return OMX_ErrorUnsupportedIndex;
    if (!recordFits(data, sizeof(OMX_TIME_CONFIG_CLOCKSTATETYPE)))
        return OMX_ErrorBadParameter;
    auto* record = static_cast<OMX_TIME_CONFIG_CLOCKSTATETYPE*>(data);
    std::lock_guard<std::mutex> lock(clock_mutex);
    record->eState = clock_state;
    record->nWaitMask = wait_mask;
    record->nStartTime = toOmxTicks(0);
    record->nOffset = toOmxTicks(0);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE ClockComponent::setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data)
{
    if (index != OMX_IndexConfigTimeClockState)
        return OMX_ErrorUnsupportedIndex;
    if (!recordFits(data, sizeof(OMX_TIME_CONFIG_CLOCKSTATETYPE)))
        return OMX_ErrorBadParameter;
    const auto* record = static_cast<const OMX_TIME_CONFIG_CLOCKSTATETYPE*>(data);
    if (record->eState != OMX_TIME_ClockStateRunning &&
        record->eState != OMX_TIME_ClockStateWaitingForStartTime &&
        record->eState != OMX_TIME_ClockStateStopped)
        return OMX_ErrorBadParameter;
    std::lock_guard<std::mutex> lock(clock_mutex);
    clock_state = record->eState;
    wait_mask = record->nWaitMask;
    start_time = Clock::now();
    return OMX_ErrorNone;
}

} // namespace Spectrafox
