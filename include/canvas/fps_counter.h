#pragma once

namespace Spectrafox {

// Frame rate averaged over the last ten frame-to-frame delays.
class FPS_Counter {
public:
    FPS_Counter();

    void tick();
    // The same step with a given wall-clock reading.
    void tickAt(long now_sec, long now_usec);
    float getFPS() const;

private:
    static constexpr int kDelayCount = 10;

    long int sec;
    long int usec;
    float delay_list[kDelayCount];
    int list_pos;
};

} // namespace Spectrafox
