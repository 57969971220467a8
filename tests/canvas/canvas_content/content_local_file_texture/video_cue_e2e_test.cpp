// The real program with VIDEO_ON_CUE=1 on twelve clips whose every picture
// names its clip and itself (picture f of clip k carries k x 80 + f), driven
// by a desk over ArtDmx and watched through a snapshot every 40 ms of the
// system clock: a run of cues on one canvas, each checked against what the
// projector showed while it stood.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/eventually.h"
#include "support/net_namespace.h"
#include "support/numbered_clip.h"
#include "support/picture_files.h"
#include "support/snapshot_series.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kClips = 12;
constexpr int kPictures = 75; // 3 s at 25 per second
constexpr int kNumbersPerClip = 80;
constexpr int kWidth = 160, kHeight = 96;
constexpr int kSnapshotMs = 40;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlow = 2.0; // frames come later: every cue stands longer
#else
constexpr double kSlow = 1.0;
#endif
constexpr double kSettleS = 0.4;
// Snapshots named in a cue's last moments may show the next one.
constexpr long long kEdgeMs = static_cast<long long>(200 * kSlow);
// The first picture of a call may be this much beyond where the clock says.
constexpr int kStartSlack = 10;

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch()).count();
}

// What a snapshot shows: a picture of a clip, or clip -1 (black, a blend,
// anything that is no whole picture of ours).
struct Seen {
    long long ms;
    int clip;
    int picture;
    bool dark;
};

Seen seenIn(const std::string& path, long long ms)
{
    const RgbaImage shot = readRgbaPng(path);
    Seen seen{ms, -1, -1, shot.ok() && shot.litPixels() == 0};
    if (!shot.ok() || shot.width != kWidth || shot.height != kHeight || shot.at(kWidth / 2, 4)[0] < 200)
        return seen;
    const int number = numberInRow(shot.at(0, kHeight * 3 / 4), kWidth, 4);
    if (number >= 0 && number / kNumbersPerClip < kClips && number % kNumbersPerClip < kPictures) {
        seen.clip = number / kNumbersPerClip;
        seen.picture = number % kNumbersPerClip;
    }
    return seen;
}

// Every snapshot in the folder, by the system-clock time it was asked for.
std::vector<Seen> snapshotsIn(const TempDir& dir, long long started_ms)
{
    std::vector<Seen> shots;
    for (const auto& [interval, file] : snapshotsByInterval(dir.path(), started_ms / kSnapshotMs))
        shots.push_back(seenIn(file, interval * kSnapshotMs));
    return shots;
}

// The desk's channels for canvas 0 (and canvas 1 where it shows the clip too).
struct DeskState {
    int clip;
    int mode = 0;          // ch 14
    double position = 0.0; // ch 19/20, in pictures of the clip
    int second_mode = -1;  // >= 0: canvas 1 shows the same clip, with this mode
};

std::vector<uint8_t> channelsFor(const DeskState& desk)
{
    std::vector<uint8_t> dmx(40, 0);
    const int fraction = std::min(65535, static_cast<int>(desk.position * 65536.0 / kPictures + 0.5));
    for (int canvas = 0; canvas < 2; ++canvas) {
        uint8_t* block = &dmx[20 * canvas];
        block[0] = static_cast<uint8_t>(desk.clip);
        block[1] = canvas == 0 || desk.second_mode >= 0 ? 255 : 0;
        block[2] = block[3] = 128;                // centred
        block[4] = block[5] = 255;                // the whole screen
        block[10] = block[11] = block[12] = 255; // untinted
        block[13] = static_cast<uint8_t>(canvas == 0 ? desk.mode : desk.second_mode);
        block[15] = block[16] = 127;              // standing still
        block[18] = static_cast<uint8_t>(fraction >> 8);
        block[19] = static_cast<uint8_t>(fraction & 0xFF);
    }
    return dmx;
}

enum class Then {
    StartsAndPlays, // first seen near its first picture, then advancing
    PlaysOn,        // advancing from where the cue before left it
    Holds,          // one picture throughout, where the clip was
    Shows,          // picture `picture` throughout
    LoopsFrom,      // round and round from picture `picture` to the last
};

struct Cue {
    const char* what;
    DeskState desk;
    double seconds; // how long it stands (times kSlow)
    Then then;
    int picture = 0;
    double settle_s = kSettleS; // after the cue, before the expectation holds (times kSlow)
};

// Pictures that only go forward, but for the loop back from near the end
// to near `in`; how often it looped back.
bool advancing(const std::vector<int>& pictures, int in, int* loops)
{
    *loops = 0;
    for (size_t k = 1; k < pictures.size(); ++k) {
        if (pictures[k] >= pictures[k - 1])
            continue;
        if (pictures[k - 1] < kPictures - 10 || pictures[k] > in + 10)
            return false;
        ++*loops;
    }
    return true;
}

std::string listed(const std::vector<Seen>& shots, long long from_ms)
{
    std::string text;
    for (const Seen& s : shots)
        text += " +" + std::to_string(s.ms - from_ms) + "ms:" + std::to_string(s.clip) + "/" +
                std::to_string(s.picture);
    return text;
}

// How soon calls showed: the latest first snapshot after a call, and the
// highest picture one showed first.
struct CallFigures {
    int calls = 0;
    long long latest_ms = 0;
    int highest_picture = 0;
};

// What the cue showed: `shots` were asked for from `from_ms` on while it
// stood; `before` is the last snapshot of the cue before.
void check(const Cue& cue, const std::vector<Seen>& shots, long long from_ms, const Seen& before,
           CallFigures* figures)
{
    SCOPED_TRACE(std::string(cue.what) + ":" + listed(shots, from_ms));
    ASSERT_FALSE(shots.empty());
    // A new clip takes over from the one before, with nothing in between.
    size_t first = 0;
    if (before.clip != cue.desk.clip)
        while (first < shots.size() && shots[first].clip == before.clip)
            ++first;
    ASSERT_LT(first, shots.size()) << "the called clip never showed";
    for (size_t k = first; k < shots.size(); ++k)
        ASSERT_EQ(shots[k].clip, cue.desk.clip) << "at +" << shots[k].ms - from_ms << " ms";

    std::vector<int> settled;
    for (const Seen& s : shots)
        if (s.ms >= from_ms + static_cast<long long>(cue.settle_s * kSlow * 1000))
            settled.push_back(s.picture);
    ASSERT_GE(settled.size(), 3u);
    const std::set<int> distinct(settled.begin(), settled.end());
    int loops = 0;
    switch (cue.then) {
    case Then::StartsAndPlays: {
        const double since_s = static_cast<double>(shots[first].ms - from_ms) / 1000.0;
        ++figures->calls;
        figures->latest_ms = std::max(figures->latest_ms, shots[first].ms - from_ms);
        figures->highest_picture = std::max(figures->highest_picture, shots[first].picture);
        EXPECT_LE(shots[first].picture, static_cast<int>(since_s * 25) + kStartSlack)
            << "not called from its first picture";
        std::vector<int> pictures;
        for (size_t k = first; k < shots.size(); ++k)
            pictures.push_back(shots[k].picture);
        EXPECT_TRUE(advancing(pictures, 0, &loops)) << "went back";
        EXPECT_GE(std::set<int>(pictures.begin(), pictures.end()).size(), 5u) << "does not play";
        break;
    }
    case Then::PlaysOn: {
        std::vector<int> pictures = {before.picture};
        for (const Seen& s : shots)
            pictures.push_back(s.picture);
        EXPECT_TRUE(advancing(pictures, 0, &loops)) << "started again";
        EXPECT_GE(distinct.size(), 5u) << "does not play";
        break;
    }
    case Then::Holds:
        EXPECT_EQ(distinct.size(), 1u) << "moves";
        EXPECT_GE(*distinct.begin(), before.picture) << "held somewhere else";
        EXPECT_LE(*distinct.begin(), before.picture + kStartSlack + 25 * kEdgeMs / 1000)
            << "held somewhere else";
        break;
    case Then::Shows:
        EXPECT_EQ(distinct, std::set<int>{cue.picture});
        break;
    case Then::LoopsFrom:
        EXPECT_GE(*distinct.begin(), cue.picture) << "played before the in-point";
        EXPECT_TRUE(advancing(settled, cue.picture, &loops)) << "went back elsewhere";
        EXPECT_GE(loops, 1) << "never looped";
        EXPECT_GE(distinct.size(), 10u) << "does not play";
        break;
    }
}

bool haveLibx264()
{
    return std::system("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264") == 0;
}

TEST(VideoCueOnScreen, EachCallModeAndPositionShowsTheRightPicture)
{
    if (!haveLibx264())
        GTEST_SKIP() << "ffmpeg with libx264 is needed to make the clips";
    NetNamespace node;
    if (!node.ok())
        GTEST_SKIP() << node.error();
    TempDir dir;
    dir.write("config.txt", "DMX_START=1\nANZAHL=2\nVIDEO_ON_CUE=1\n");
    dir.write("textures/.keep", "");
    for (int k = 0; k < kClips; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "textures/%03d.mp4", k);
        ASSERT_TRUE(makeNumberedClip(dir.file(name), {kPictures, 25, 12, 2, "mp4", kWidth, kHeight,
                                                      k * kNumbersPerClip}));
    }

    // One canvas over the whole screen; canvas 1 joins in only where said.
    const std::vector<Cue> cues = {
        {"a call shows the first picture and plays", {0}, 1.2, Then::StartsAndPlays},
        {"a second clip", {1}, 1.2, Then::StartsAndPlays},
        {"a third clip", {2}, 1.2, Then::StartsAndPlays},
        {"a fourth clip takes over a decoder", {3}, 1.2, Then::StartsAndPlays},
        {"a fifth clip", {4}, 1.2, Then::StartsAndPlays},
        {"called back while it holds a decoder, it starts again", {3}, 1.2, Then::StartsAndPlays},
        {"a clip that plays", {5}, 1.0, Then::StartsAndPlays},
        {"pause holds the picture it is at", {5, 80}, 1.2, Then::Holds},
        {"called onto the canvas scrubbing: the picture nearest the position", {6, 110, 37.6}, 1.2,
         Then::Shows, 38},
        {"scrubbed back", {6, 110, 12.3}, 1.2, Then::Shows, 12},
        {"once holds the last picture", {7, 40}, 4.2, Then::Shows, kPictures - 1, 3.4},
        {"a clip that plays", {8}, 1.0, Then::StartsAndPlays},
        {"a second canvas calls it, pausing: it plays on, canvas 0 decides", {8, 0, 0.0, 80}, 1.2,
         Then::PlaysOn},
        {"a loop from an in-point comes back to it", {9, 0, 50.0}, 2.6, Then::LoopsFrom, 50},
        {"an eleventh clip", {10}, 1.2, Then::StartsAndPlays},
        {"a twelfth clip", {11}, 1.2, Then::StartsAndPlays},
        {"called back after its decoder went to others, it starts again", {0}, 1.2, Then::StartsAndPlays},
    };

    ChildProcess::Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=" + std::to_string(kWidth) + "x" +
                  std::to_string(kHeight), "--snapshot=" + dir.file("shot.png"),
                  "--snapshot-every=" + std::to_string(kSnapshotMs)};
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = dir.path();
    setup.stderr_path = dir.file("stderr.txt");
    std::unique_ptr<ChildProcess> program;
    std::unique_ptr<UdpPeer> desk;
    const long long started_ms = nowMs();
    {
        ScopedNetNamespace at(node);
        program = std::make_unique<ChildProcess>(setup);
        desk = std::make_unique<UdpPeer>();
    }
    auto send = [&](const DeskState& state) {
        desk->sendTo("127.0.0.1", 6454, artDmx(0, 0, channelsFor(state)));
    };

    // Until DMX comes slot 0 fills the screen, playing: dark first, so that
    // the first cue is a call.
    const std::vector<uint8_t> blackout = artDmx(0, 0, std::vector<uint8_t>(40, 0));
    ASSERT_TRUE(eventually([&] {
        desk->sendTo("127.0.0.1", 6454, blackout);
        std::this_thread::sleep_for(100ms);
        const std::vector<Seen> shots = snapshotsIn(dir, started_ms);
        return shots.size() >= 2 && shots.back().dark && shots[shots.size() - 2].dark &&
               shots.back().ms > nowMs() - 1000;
    }, 90s, 10ms)) << readFile(dir.file("stderr.txt"));

    std::vector<long long> cue_ms;
    for (const Cue& cue : cues) {
        cue_ms.push_back(nowMs());
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<long long>(cue.seconds * kSlow * 1000));
        while (std::chrono::steady_clock::now() < until) {
            send(cue.desk); // a desk repeats its channels
            std::this_thread::sleep_for(40ms);
        }
    }
    cue_ms.push_back(nowMs());
    ASSERT_TRUE(program->running()) << readFile(dir.file("stderr.txt"));
    program->signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(program->waitExit(10000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::vector<Seen> shots = snapshotsIn(dir, started_ms);
    Seen before{0, -1, -1, true};
    CallFigures figures;
    for (size_t c = 0; c < cues.size(); ++c) {
        std::vector<Seen> during;
        for (const Seen& s : shots)
            if (s.ms >= cue_ms[c] && s.ms < cue_ms[c + 1] - kEdgeMs)
                during.push_back(s);
        check(cues[c], during, cue_ms[c], before, &figures);
        if (!during.empty())
            before = during.back();
    }
    std::printf("FIGURE call_first_seen %lld ms at most after the call (%d calls, snapshots every %d ms), "
                "picture %d at most\n",
                figures.latest_ms, figures.calls, kSnapshotMs, figures.highest_picture);
}

} // namespace
