#include "canvas/fps_counter.h"

#include <sys/time.h>

namespace Spectrafox {

FPS_Counter::FPS_Counter() : delay_list{}, list_pos(0)
{
    timeval now{};
    gettimeofday(&now, nullptr);
    sec = now.tv_sec;
    usec = now.tv_usec;
}

void FPS_Counter::tick()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tickAt(now.tv_sec, now.tv_usec);
}

void FPS_Counter::tickAt(long now_sec, long now_usec)
{
    const long diff_sec = now_sec - sec;
    const long diff_usec = now_usec - usec;
    sec = now_sec;
    usec = now_usec;
    delay_list[list_pos] = static_cast<float>(diff_sec) + static_cast<float>(diff_usec) / 1000000.0f;
    list_pos = (list_pos + 1) % kDelayCount;
}

float FPS_Counter::getFPS() const
{
    float sum = 0.0f;
    for (float delay : delay_list)
        sum += delay;
    return 1.0f / (sum / kDelayCount);
}

} // namespace Spectrafox
