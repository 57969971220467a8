#include "base/timecode.h"

#include <cmath>
#include <cstdio>

namespace Spectrafox {

std::string Timecode::text() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%c%02d", hours % 100, minutes % 100, seconds % 100,
                  type == DropFrame2997 ? ';' : ':', frames % 100);
    return text;
}

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr long kTenMinutesPerDay = 144;
// Drop-frame: labels 0 and 1 are skipped at the start of every minute but
// every tenth, so 30-label time keeps pace with 29.97 frames a second.
constexpr long kDroppedPerMinute = 2;
constexpr long kFramesPerTenMinutes = 17982;   // 10 x 60 x 30 - 9 x 2
constexpr long kFramesPerDroppedMinute = 1798; // 60 x 30 - 2

long dropFrameCount(const Timecode& tc)
{
    const long minutes = tc.hours * 60L + tc.minutes;
    const long labels = ((minutes * 60L) + tc.seconds) * 30L + tc.frames;
    return labels - kDroppedPerMinute * (minutes - minutes / 10);
}

Timecode dropFrameLabel(long count)
{
    const long tens = count / kFramesPerTenMinutes;
    long rest = count % kFramesPerTenMinutes;
    long labels = count + 9 * kDroppedPerMinute * tens;
    if (rest >= kDroppedPerMinute)
        labels += kDroppedPerMinute * ((rest - kDroppedPerMinute) / kFramesPerDroppedMinute);
    Timecode tc;
    tc.type = Timecode::DropFrame2997;
    tc.frames = static_cast<int>(labels % 30);
    tc.seconds = static_cast<int>(labels / 30 % 60);
    tc.minutes = static_cast<int>(labels / 1800 % 60);
    tc.hours = static_cast<int>(labels / 108000 % 24);
    return tc;
}

} // namespace

int Timecode::nominalRate(Type type)
{
    static constexpr int kRates[kTypeCount] = {24, 25, 30, 30};
    return kRates[type];
}

double Timecode::frameRate(Type type)
{
    return type == DropFrame2997 ? 30000.0 / 1001.0 : nominalRate(type);
}

bool Timecode::typeForRate(double rate, Type* type)
{
    static constexpr double kRates[kTypeCount] = {24.0, 25.0, 29.97, 30.0};
    for (int t = 0; t < kTypeCount; ++t) {
        if (std::fabs(rate - kRates[t]) < 0.001) {
            *type = static_cast<Type>(t);
            return true;
        }
    }
    return false;
}

bool Timecode::valid() const
{
    return type >= Film24 && type <= Smpte30 && hours >= 0 && hours <= 23 && minutes >= 0 &&
           minutes <= 59 && seconds >= 0 && seconds <= 59 && frames >= 0 && frames < nominalRate(type);
}

double Timecode::toSeconds() const
{
    if (type == DropFrame2997)
        return static_cast<double>(dropFrameCount(*this)) / frameRate(type);
    return (hours * 3600.0 + minutes * 60.0 + seconds) + static_cast<double>(frames) / nominalRate(type);
}

double Timecode::daySeconds(Type type)
{
    if (type == DropFrame2997)
        return static_cast<double>(kFramesPerTenMinutes * kTenMinutesPerDay) / frameRate(type);
    return kSecondsPerDay;
}

Timecode Timecode::fromSeconds(double seconds, Type type)
{
    const double day = daySeconds(type);
    double day_seconds = std::fmod(seconds, day);
    if (day_seconds < 0)
        day_seconds += day;
    // A hair over the boundary so that a time computed as n / rate names frame n.
    const long count = static_cast<long>(std::floor(day_seconds * frameRate(type) + 1e-6));
    if (type == DropFrame2997)
        return dropFrameLabel(count);
    const int rate = nominalRate(type);
    Timecode tc;
    tc.type = type;
    tc.frames = static_cast<int>(count % rate);
    tc.seconds = static_cast<int>(count / rate % 60);
    tc.minutes = static_cast<int>(count / rate / 60 % 60);
    tc.hours = static_cast<int>(count / rate / 3600 % 24);
    return tc;
}

} // namespace Spectrafox
