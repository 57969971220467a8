#include "base/show_time.h"

#include <utility>

namespace Spectrafox {

namespace {
ShowTime::Source& source()
{
    static ShowTime::Source installed_source;
    return installed_source;
}

ShowTime::Source& day()
{
    static ShowTime::Source installed_day;
    return installed_day;
}
} // namespace

void ShowTime::install(Source new_source, Source new_day)
{
    source() = std::move(new_source);
    day() = std::move(new_day);
}

void ShowTime::remove()
{
    source() = nullptr;
    day() = nullptr;
}

double ShowTime::daySeconds() { return day() ? day()() : 0.0; }

bool ShowTime::cameRound(double before, double after, double day_seconds)
{
    return day_seconds > 0.0 && after - before < -day_seconds / 2.0;
}

bool ShowTime::installed() { return static_cast<bool>(source()); }

double ShowTime::now() { return installed() ? source()() : 0.0; }

} // namespace Spectrafox
