#include "base/show_time.h"

#include <utility>

namespace Spectrafox {

namespace {
ShowTime::Source& source()
{
    static ShowTime::Source installed_source;
    return installed_source;
}
} // namespace

void ShowTime::install(Source new_source) { source() = std::move(new_source); }

void ShowTime::remove() { source() = nullptr; }

bool ShowTime::installed() { return static_cast<bool>(source()); }

double ShowTime::now() { return installed() ? source()() : 0.0; }

} // namespace Spectrafox
