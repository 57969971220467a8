#include "canvas/canvas_content/content_local_file_texture/video_size_probe.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace Spectrafox {

namespace {

constexpr const char* kReplyPrefix = "info4spectrafox|";
constexpr size_t kReplyPrefixLength = 16;
constexpr int kReplyBufferSize = 200;

// Reads a decimal int from the front of text (leading blanks and a sign
// allowed) and drops it together with the one separator after it.
bool takeNumber(std::string& text, int* value)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    *value = static_cast<int>(number);
    text.erase(0, std::min(text.size(), static_cast<size_t>(end - begin) + 1));
    return true;
}

} // namespace

std::string VideoSizeProbe::commandLine(const std::string& filename)
{
    return "mediainfo --Inform=\"Video;info4spectrafox|%Width%|%Height%|\" " + filename;
}

bool VideoSizeProbe::parseReply(const std::string& reply, int* size_x, int* size_y)
{
    if (reply.compare(0, kReplyPrefixLength, kReplyPrefix) != 0)
        return false;
    std::string rest = reply.substr(kReplyPrefixLength);
    int width = 0;
    int height = 0;
    if (!takeNumber(rest, &width) || !takeNumber(rest, &height))
        return false;
    if (width <= 0 || height <= 0)
        return false;
    *size_x = width;
    *size_y = height;
    return true;
}

bool VideoSizeProbe::probe(const std::string& filename, int* size_x, int* size_y)
{
    FILE* pipe = popen(commandLine(filename).c_str(), "r");
    if (!pipe)
        return false;
    char line[kReplyBufferSize];
    const bool got_line = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    return got_line && parseReply(line, size_x, size_y);
}

} // namespace Spectrafox
