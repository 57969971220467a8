#include "support/h264_clip.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

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

bool writeParameterSetsOnly(const std::string& path, int width, int height)
{
    std::string bits;
    auto put = [&](unsigned value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits += ((value >> i) & 1) ? '1' : '0';
    };
    auto ue = [&](unsigned value) {
        const unsigned coded = value + 1;
        int length = 0;
        while ((coded >> length) > 1)
            ++length;
        put(0, length);
        put(coded, length + 1);
    };
    put(66, 8); put(0xC0, 8); put(51, 8);  // baseline, constraints, level 5.1
    ue(0); ue(0); ue(2); ue(1); put(0, 1); // id, frame_num bits, poc type 2, 1 ref, no gaps
    ue(static_cast<unsigned>(width / 16 - 1)); ue(static_cast<unsigned>(height / 16 - 1));
    put(1, 1); put(1, 1); put(0, 1); put(0, 1); // frame_mbs_only, direct_8x8, no crop, no VUI
    put(1, 1);
    while (bits.size() % 8 != 0)
        bits += '0';
    std::string sps("\x00\x00\x00\x01\x67", 5);
    int zeros = 0;
    for (size_t i = 0; i < bits.size(); i += 8) {
        const auto byte = static_cast<unsigned char>(std::stoi(bits.substr(i, 8), nullptr, 2));
        if (zeros >= 2 && byte <= 3) {
            sps += '\x03';
            zeros = 0;
        }
        sps += static_cast<char>(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    const std::string pps("\x00\x00\x00\x01\x68\xCE\x38\x80", 8);
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 64; ++i)
        out << sps << pps;
    return static_cast<bool>(out);
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
