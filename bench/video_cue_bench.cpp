// Clips called onto a canvas as a desk calls them, with VIDEO_ON_CUE=1: the
// headless renderer at 1920x1080, unpaced, draws one full-screen canvas of
// CONTENT_TEXTURE_256 over a textures/ folder of four 1920x1080 clips of
// 4 s at 25 pictures per second with a key picture every second; the
// canvas's content number is set through its setter, as the channel map
// does for an ArtDmx. Every frame one row of the screen is read back; the
// bars of the numbered clips tell which clip and picture it shows.
// Figures, against the render loop's own frame time measured in the same
// run: frames and ms from the call to the first frame that shows the called
// clip (goal: the next frame) and to the first that shows it moving, a
// later picture (goal: within 2 of the clip's pictures, 80 ms; its second
// picture falls due 40 ms after the call, so that much no path can save),
// for calls that take a decoder over from a clip off screen and for calls
// of clips whose decoders rest. Also the decoder's open + close per call
// (raw and .mp4 clips) and the resident memory before and after many calls.
// Faults seen are counted: a frame showing a picture the clip cannot have
// reached yet (one from an earlier call), a clip that does not move within
// 2 s.
#include "numbered_clips.h"

#include "canvas/canvas_manager.h"
#include "platform/fixed_function/gl_fixed_function.h"
#include "platform/media/clip_decoder.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kClips = 4; // slots 1-4; tagged with their slot number
constexpr int kDecoders = 3;
constexpr double kPictureMs = 40.0;
constexpr double kStallMs = 2000.0;
constexpr int kTimedCalls = 24;
constexpr int kMemoryCalls = 120;
constexpr int kOpenRounds = 5;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string clipName(int slot, const char* extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "textures/%03d.%s", slot, extension);
    return name;
}

bool makeClips()
{
    std::error_code failed;
    if (!std::filesystem::create_directories("textures", failed) ||
        !std::filesystem::create_directories("raw", failed))
        return false;
    for (int slot = 1; slot <= kClips; ++slot) {
        NumberedClips::Recipe recipe;
        recipe.tag = slot;
        recipe.format = "mp4";
        const std::string mp4 = clipName(slot, "mp4");
        const std::string raw = "raw/" + std::to_string(slot) + ".h264";
        const std::string extract =
            "ffmpeg -nostdin -v error -y -i " + mp4 + " -c copy -f h264 " + raw;
        if (!NumberedClips::makeClip(mp4, recipe) || std::system(extract.c_str()) != 0)
            return false;
    }
    return true;
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// ClipDecoder open + close, ms each, over the clips in turn.
double openCloseMs(const std::vector<std::string>& clips)
{
    ClipDecoder decoder;
    const Clock::time_point start = Clock::now();
    int opened = 0;
    for (int round = 0; round < kOpenRounds; ++round)
        for (const std::string& clip : clips) {
            opened += decoder.open(clip, ClipDecoder::Options{}) ? 1 : 0;
            decoder.close();
        }
    return opened > 0 ? msSince(start) / opened : 0.0;
}

void printOpenClose()
{
    std::vector<std::string> mp4;
    std::vector<std::string> raw;
    for (int slot = 1; slot <= kClips; ++slot) {
        mp4.push_back(clipName(slot, "mp4"));
        raw.push_back("raw/" + std::to_string(slot) + ".h264");
    }
    std::printf("decoder open + close per call: .mp4 %.2f ms, raw .h264 %.2f ms (4 s clips)\n",
                openCloseMs(mp4), openCloseMs(raw));
}

// The renderer, its one canvas, and what the last frame showed.
class Stage {
public:
    Stage() : manager(displayOptions(this), contentOptions())
    {
        manager.generateCanvasGroup(1, "CONTENT_TEXTURE_256");
        canvas = manager.getAllCanvases().front();
        canvas->setScalingY(1.0f / manager.getScreenRatio()); // the clip fills the screen
    }

    void call(int slot) { canvas->setContentData(slot); }
    void frame() { manager.renderFrame(); }
    const NumberedClips::Reading& seen() const { return reading; }
    bool readable() const { return read_ok; }

private:
    static DisplayOptions displayOptions(Stage* stage)
    {
        DisplayOptions options = DisplayOptions::headless(kWidth, kHeight);
        options.offscreen_fps_cap = 0;
        options.before_swap = [stage](int width, int height) { stage->readRow(width, height); };
        return options;
    }
    static ContentOptions contentOptions()
    {
        ContentOptions options;
        options.video.on_cue = true;
        options.video.decoders = kDecoders;
        return options;
    }
    void readRow(int width, int height)
    {
        row.resize(static_cast<size_t>(width) * 4);
        Spectrafox::glReadPixels(0, height / 2, width, 1, GL_RGBA, GL_UNSIGNED_BYTE, row.data());
        read_ok = NumberedClips::readRow(row.data(), width, 4, &reading);
    }

    // Declared before the manager: the renderer's last frame, drawn as it
    // goes, is read back too.
    std::vector<uint8_t> row;
    NumberedClips::Reading reading;
    bool read_ok = false;
    CanvasManager manager;
    Canvas* canvas = nullptr;
};

double frameMs(Stage& stage, double seconds)
{
    const Clock::time_point start = Clock::now();
    int frames = 0;
    while (msSince(start) < seconds * 1000.0) {
        stage.frame();
        ++frames;
    }
    return msSince(start) / frames;
}

struct Reached {
    int frames = 0;
    double ms = 0.0;
};

struct Call {
    Reached shown;
    Reached moving;
    bool stalled = false;
    int wrong_frames = 0;
};

// A picture the clip cannot have reached yet since the call came from
// before it; so does a picture number that falls while the clip plays on.
bool impossible(const NumberedClips::Reading& seen, double ms, int last_picture)
{
    return seen.picture * kPictureMs > ms + 1.0 || seen.picture < last_picture;
}

// Calls the slot, then draws until it moves and `hold` frames after.
Call callClip(Stage& stage, int slot, int hold)
{
    Call call;
    stage.call(slot);
    const Clock::time_point start = Clock::now();
    int last_picture = -1;
    for (int frame = 1; hold > 0 || call.moving.frames == 0; ++frame) {
        stage.frame();
        const double ms = msSince(start);
        const NumberedClips::Reading& seen = stage.seen();
        if (stage.readable() && seen.tag == slot) {
            if (impossible(seen, ms, last_picture))
                ++call.wrong_frames;
            if (call.shown.frames == 0)
                call.shown = {frame, ms};
            else if (call.moving.frames == 0 && seen.picture != last_picture)
                call.moving = {frame, ms};
            last_picture = std::max(last_picture, seen.picture);
        }
        if (call.moving.frames > 0)
            --hold;
        if (call.moving.frames == 0 && ms > kStallMs) {
            call.stalled = true;
            break;
        }
    }
    return call;
}

struct Summary {
    std::vector<double> shown_frames, shown_ms, moving_frames, moving_ms;
    int stalls = 0;
    int wrong_frames = 0;

    void add(const Call& call)
    {
        stalls += call.stalled ? 1 : 0;
        wrong_frames += call.wrong_frames;
        if (call.shown.frames == 0 || call.moving.frames == 0)
            return;
        shown_frames.push_back(call.shown.frames);
        shown_ms.push_back(call.shown.ms);
        moving_frames.push_back(call.moving.frames);
        moving_ms.push_back(call.moving.ms);
    }
};

std::string spread(std::vector<double> values, const char* format)
{
    if (values.empty())
        return "-";
    std::sort(values.begin(), values.end());
    double sum = 0.0;
    for (double v : values)
        sum += v;
    const double p95 = values[std::min(values.size() - 1, values.size() * 95 / 100)];
    char text[96];
    std::snprintf(text, sizeof text, format, sum / static_cast<double>(values.size()), p95,
                  values.back());
    return text;
}

void printSummary(const char* what, const Summary& s, double frame_ms)
{
    std::printf("%s (%zu calls):\n", what, s.shown_ms.size());
    std::printf("  to the called clip:  frames %s | ms %s\n",
                spread(s.shown_frames, "mean %.1f p95 %.0f worst %.0f").c_str(),
                spread(s.shown_ms, "mean %.1f p95 %.1f worst %.1f").c_str());
    std::printf("  to it moving:        frames %s | ms %s\n",
                spread(s.moving_frames, "mean %.1f p95 %.0f worst %.0f").c_str(),
                spread(s.moving_ms, "mean %.1f p95 %.1f worst %.1f").c_str());
    std::vector<double> pictures;
    std::vector<double> late;
    for (double ms : s.moving_ms) {
        pictures.push_back(ms / kPictureMs);
        late.push_back((ms - kPictureMs) / frame_ms);
    }
    std::printf("  to it moving, in clip pictures (40 ms): %s (goal <= 2)\n",
                spread(pictures, "mean %.2f p95 %.2f worst %.2f").c_str());
    std::printf("  to it moving, in render frames after its second picture fell due: %s\n",
                spread(late, "mean %.1f p95 %.1f worst %.1f").c_str());
    std::printf("  stalls (not moving after %.0f s): %d | frames showing an impossible picture: %d\n",
                kStallMs / 1000.0, s.stalls, s.wrong_frames);
}

// Calls `count` clips from `next_slot`, holding each a few frames once it moves.
Summary callRound(Stage& stage, int count, int skip, int (*next_slot)(int), std::mt19937& random,
                  int most_hold)
{
    std::uniform_int_distribution<int> hold(1, most_hold);
    Summary summary;
    for (int i = 0; i < count; ++i) {
        const Call call = callClip(stage, next_slot(i), hold(random));
        if (i >= skip)
            summary.add(call);
    }
    return summary;
}

// Four clips in turn with three decoders: each call takes over the decoder
// of the clip off screen longest. Two in turn: both keep theirs, resting.
// Each round starts with a clip other than the one the last left on screen
// (a number sent again does not call the clip again).
int everyClipInTurn(int i) { return 1 + (i + 1) % kClips; }
int twoClipsInTurn(int i) { return 1 + (i + 1) % 2; }

} // namespace

int main()
{
    char dir[] = "/tmp/spectrafox-cue-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0)
        return 1;
    if (!makeClips()) {
        std::fprintf(stderr, "ffmpeg could not make the clips\n");
        return 1;
    }
    printOpenClose();
    {
        Stage stage;
        std::mt19937 random(7);
        stage.call(1);
        const double frame_ms = frameMs(stage, 3.0);
        std::printf("render loop at %dx%d, a clip playing, unpaced: %.1f ms a frame\n", kWidth,
                    kHeight, frame_ms);
        const long before_kb = residentKb();
        const Summary taking = callRound(stage, kTimedCalls, 0, everyClipInTurn, random, 15);
        printSummary("calls taking a decoder over (4 clips, 3 decoders)", taking, frame_ms);
        const Summary resting = callRound(stage, kTimedCalls + 2, 2, twoClipsInTurn, random, 15);
        printSummary("calls of clips whose decoders rest (2 clips)", resting, frame_ms);
        const long timed_kb = residentKb();
        const Summary quick = callRound(stage, kMemoryCalls, 0, everyClipInTurn, random, 3);
        std::printf("resident memory: %ld MB before the calls, %ld MB after %d, %ld MB after %d "
                    "(stalls %d, impossible pictures %d in the last %d)\n",
                    before_kb / 1024, timed_kb / 1024, 2 * kTimedCalls + 2,
                    residentKb() / 1024, 2 * kTimedCalls + 2 + kMemoryCalls, quick.stalls,
                    quick.wrong_frames, kMemoryCalls);
    }
    std::filesystem::remove_all(dir);
    return 0;
}
