#include "platform/graphics/display_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace Spectrafox {

namespace {

// Whole decimal number in [lo, hi], nothing after it but `stop` (or the end).
bool parseNumber(const char* text, int lo, int hi, char stop, const char** rest)
{
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno == ERANGE || value < lo || value > hi || *end != stop)
        return false;
    *rest = end;
    return true;
}

bool parseInt(const char* text, int lo, int hi, int* out)
{
    const char* rest = nullptr;
    if (!parseNumber(text, lo, hi, '\0', &rest))
        return false;
    *out = static_cast<int>(std::strtol(text, nullptr, 10));
    return true;
}

// "WIDTHxHEIGHT", each 1 to DisplayOptions::kMaxSize.
bool parseSize(const char* text, int* width, int* height)
{
    const char* rest = nullptr;
    if (!parseNumber(text, 1, DisplayOptions::kMaxSize, 'x', &rest))
        return false;
    int h = 0;
    if (!parseInt(rest + 1, 1, DisplayOptions::kMaxSize, &h))
        return false;
    *width = static_cast<int>(std::strtol(text, nullptr, 10));
    *height = h;
    return true;
}

bool parsePath(const char* text, std::string* out)
{
    if (*text == '\0')
        return false;
    *out = text;
    return true;
}

const char* valueOf(const char* argument, const char* name)
{
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0 || argument[length] != '=')
        return nullptr;
    return argument + length + 1;
}

} // namespace

DisplayOptions DisplayOptions::headless(int width, int height)
{
    DisplayOptions options;
    options.headless_width = width;
    options.headless_height = height;
    return options;
}

DisplayOptions::Parse DisplayOptions::applyArgument(const char* argument)
{
    bool ok = false;
    if (const char* v = valueOf(argument, "--headless"))
        ok = parseSize(v, &headless_width, &headless_height);
    else if (const char* v = valueOf(argument, "--window"))
        ok = parseSize(v, &window_width, &window_height);
    else if (const char* v = valueOf(argument, "--snapshot-frame"))
        ok = parseInt(v, 1, INT_MAX, &snapshot_frame);
    else if (const char* v = valueOf(argument, "--snapshot-every"))
        ok = parseInt(v, 1, INT_MAX, &snapshot_every_ms);
    else if (const char* v = valueOf(argument, "--snapshot"))
        ok = parsePath(v, &snapshot_path);
    else if (const char* v = valueOf(argument, "--fps-cap"))
        ok = parseInt(v, 0, 10000, &offscreen_fps_cap);
    else
        return Parse::NotOurs;
    return ok ? Parse::Applied : Parse::Malformed;
}

const char* DisplayOptions::usage()
{
    return "  --headless=WIDTHxHEIGHT  render offscreen at this size\n"
           "  --window=WIDTHxHEIGHT    desktop window of this size instead of full screen\n"
           "  --snapshot=FILE.png      where snapshots go (default snapshot.png)\n"
           "  --snapshot-frame=N       write frame N to the snapshot file\n"
           "  --snapshot-every=MS      write a numbered snapshot every MS ms of the system clock\n"
           "  --fps-cap=N              offscreen frame-rate cap, 0 for none (default 60)\n";
}

} // namespace Spectrafox
