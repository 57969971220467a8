#include "support/h264_clip.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace Spectrafox::Test {

bool makeH264Clip(const std::string& path, int width, int height, int fps,
                  const std::vector<ClipSegment>& segments)
{
    return makeClip(path, width, height, fps, segments, "-c:v libx264 -pix_fmt yuv420p -f h264");
}

bool runFfmpeg(const std::string& arguments)
{
    return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
}

bool makeClip(const std::string& path, int width, int height, int fps,
              const std::vector<ClipSegment>& segments, const std::string& output_options)
{
    std::ostringstream command;
    command << "ffmpeg -nostdin -v error -y";
    for (const ClipSegment& s : segments) {
        char colour[16];
        std::snprintf(colour, sizeof colour, "0x%02X%02X%02X", s.r, s.g, s.b);
        command << " -f lavfi -i color=c=" << colour << ":s=" << width << "x" << height
                << ":r=" << fps << ":d=" << static_cast<double>(s.frames) / fps;
    }
    command << " -filter_complex \"";
    for (size_t i = 0; i < segments.size(); ++i)
        command << "[" << i << ":v]";
    command << "concat=n=" << segments.size()
            << ":v=1:a=0,drawbox=x=0:y=0:w=iw:h=ih/4:color=white:t=fill[v]\""
            << " -map \"[v]\" " << output_options << " '" << path << "'";
    return std::system(command.str().c_str()) == 0;
}

long padFileToMultiple(const std::string& path, long multiple)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::ate);
    long length = static_cast<long>(file.tellp());
    const long padding = (multiple - length % multiple) % multiple;
    const std::string zeros(static_cast<size_t>(padding), '\0');
    file.write(zeros.data(), padding);
    return length + padding;
}

bool closeColour(Rgb a, Rgb b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

} // namespace Spectrafox::Test
