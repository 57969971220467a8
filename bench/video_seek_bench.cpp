// How long a clip decoder takes to land exactly on a picture: seek(t), then
// next() until the picture showing at t comes, for random targets (the same
// ones every run), one after another, the way scrubbing and calls from a
// desk come.
// Three 1920x1080 clips of 20 s at 25 pictures per second: all-intra, a key
// picture every second and one every ten seconds (libx264, B pictures as it
// places them), each as a raw .h264 stream and as an .mp4 file. Per clip:
// the mean, 95th percentile and worst time to the picture, against one
// picture's decode time (decoding on, measured in the same run), and their
// ratio: about how many pictures a seek costs. Every picture a seek gives
// is checked by its time and by the number its bars carry; misses are
// counted.
#include "numbered_clips.h"
#include "platform/media/clip_decoder.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kClipSeconds = 20;
constexpr int kPicturesDecodedOn = 100;

struct ClipKind {
    const char* name;
    int gop;
    int seeks; // fewer where each costs many pictures: the run stays short
};

constexpr ClipKind kKinds[] = {
    {"all-intra", 1, 60},
    {"1 s GOP", 25, 40},
    {"10 s GOP", 250, 16},
};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// True when the picture is the one showing at `target_us`, by time and bars.
bool isPictureFor(const DecodedPicture& picture, int64_t target_us, const ClipTiming& timing)
{
    const int64_t expected = timing.pictureShowingAt(target_us);
    NumberedClips::Reading reading;
    const uint8_t* row = picture->data[0] + picture->linesize[0] * (picture->height / 2);
    return std::llabs(picture->pts - expected) < timing.frame_us / 2 &&
           NumberedClips::readRow(row, picture->width, 1, &reading) && reading.tag == 0 &&
           reading.picture == expected / timing.frame_us;
}

// Wall time of one picture, decoding on from the start.
double msPerPictureDecodedOn(ClipDecoder& decoder)
{
    decoder.seek(0);
    DecodedPicture picture;
    decoder.next(&picture); // the decoder's pipeline fills
    const Clock::time_point start = Clock::now();
    int pictures = 0;
    while (pictures < kPicturesDecodedOn && decoder.next(&picture) == ClipDecoder::Step::Picture)
        ++pictures;
    return pictures > 0 ? msSince(start) / pictures : 0.0;
}

struct Seeks {
    std::vector<double> ms;
    int wrong = 0;
};

Seeks timeSeeks(ClipDecoder& decoder, int count)
{
    std::mt19937_64 random(20240611);
    std::uniform_int_distribution<int64_t> anywhere(0, decoder.timing().duration_us - 1);
    Seeks seeks;
    for (int i = 0; i < count; ++i) {
        const int64_t target = anywhere(random);
        DecodedPicture picture;
        const Clock::time_point start = Clock::now();
        decoder.seek(target);
        const ClipDecoder::Step step = decoder.next(&picture);
        seeks.ms.push_back(msSince(start));
        if (step != ClipDecoder::Step::Picture || !isPictureFor(picture, target, decoder.timing()))
            ++seeks.wrong;
    }
    std::sort(seeks.ms.begin(), seeks.ms.end());
    return seeks;
}

double mean(const std::vector<double>& values)
{
    double sum = 0.0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

double percentile95(const std::vector<double>& sorted)
{
    if (sorted.empty())
        return 0.0;
    return sorted[std::min(sorted.size() - 1, sorted.size() * 95 / 100)];
}

void measureClip(const std::string& path, const ClipKind& kind, const char* container)
{
    ClipDecoder decoder;
    if (!decoder.open(path, ClipDecoder::Options{})) {
        std::printf("%-10s %-5s: could not be opened\n", kind.name, container);
        return;
    }
    const int threads = ClipDecoder::decodingThreadsInUse();
    const double picture_ms = msPerPictureDecodedOn(decoder);
    const Seeks seeks = timeSeeks(decoder, kind.seeks);
    const double seek_ms = mean(seeks.ms);
    std::printf("%-10s %-5s %3d seeks: mean %7.1f  p95 %7.1f  worst %7.1f ms | one picture %5.2f ms "
                "(decoding threads: %d) | seek / picture %6.1f | wrong pictures: %d\n",
                kind.name, container, kind.seeks, seek_ms, percentile95(seeks.ms), seeks.ms.back(),
                picture_ms, threads, picture_ms > 0.0 ? seek_ms / picture_ms : 0.0, seeks.wrong);
}

bool makeClips(const std::string& dir, const ClipKind& kind, std::string* raw, std::string* mp4)
{
    NumberedClips::Recipe recipe;
    recipe.seconds = kClipSeconds;
    recipe.gop = kind.gop;
    recipe.fixed_gop = true;
    recipe.format = "mp4";
    *mp4 = dir + "/gop" + std::to_string(kind.gop) + ".mp4";
    *raw = dir + "/gop" + std::to_string(kind.gop) + ".h264";
    const std::string extract =
        "ffmpeg -nostdin -v error -y -i '" + *mp4 + "' -c copy -f h264 '" + *raw + "'";
    return NumberedClips::makeClip(*mp4, recipe) && std::system(extract.c_str()) == 0;
}

} // namespace

int main()
{
    char dir[] = "/tmp/spectrafox-seek-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return 1;
    std::printf("1920x1080, %d s at 25 pictures/s, random targets anywhere in the clip\n",
                kClipSeconds);
    for (const ClipKind& kind : kKinds) {
        std::string raw;
        std::string mp4;
        if (!makeClips(dir, kind, &raw, &mp4)) {
            std::fprintf(stderr, "ffmpeg could not make the %s clip\n", kind.name);
            return 1;
        }
        measureClip(raw, kind, ".h264");
        measureClip(mp4, kind, ".mp4");
        std::remove(raw.c_str());
        std::remove(mp4.c_str());
    }
    rmdir(dir);
    return 0;
}
