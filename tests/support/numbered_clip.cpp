#include "support/numbered_clip.h"

#include "support/h264_clip.h"

#include <sstream>

namespace Spectrafox::Test {

namespace {
constexpr int kBars = 10;
}

bool makeNumberedClip(const std::string& path, const NumberedClip& clip)
{
    std::ostringstream arguments;
    arguments << "-f lavfi -i nullsrc=s=" << clip.width << "x" << clip.height << ":r=" << clip.fps
              << " -frames:v " << clip.pictures
              << " -vf \"geq=lum='if(lt(Y\\,H/8)\\,255\\,255*bitand(floor((N+" << clip.first << ")/pow(2\\,floor(X*" << kBars
              << "/W)))\\,1))':cb=128:cr=128\" -c:v libx264 -pix_fmt yuv420p -crf 12 -g " << clip.gop
              << " -keyint_min " << clip.gop << " -sc_threshold 0 -bf " << clip.b_frames << " -f "
              << clip.format << " '" << path << "'";
    return runFfmpeg(arguments.str());
}

int numberInRow(const uint8_t* row, int width, int step)
{
    int number = 0;
    for (int bar = 0; bar < kBars; ++bar) {
        const int sample = row[(width * (2 * bar + 1) / (2 * kBars)) * step];
        if (sample > 160)
            number |= 1 << bar;
        else if (sample > 96)
            return -1;
    }
    return number;
}

} // namespace Spectrafox::Test
