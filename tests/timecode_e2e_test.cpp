// Three real nodes on one private bridge, headless, each showing the same GIF
// whose frames carry their own number (frame k is the colour k, 255, 128).
// All take a snapshot every 100 ms of the system clock, so the same instants
// can be compared. Runs: a desk sending ArtTimeCode with 0-3 ms of random
// delay per packet (with a jump and a node started late), one node as master
// and two chasing, and two nodes without timecode for reference. The figures
// are printed as "FIGURE ..." lines (scripts/timecode-bench.sh collects them);
// the limits asserted here are generous.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/timecode.h"
#include "network/artnet/art_timecode.h"
#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/gif_writer.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;
using SystemClock = std::chrono::system_clock;

namespace {

constexpr int kClipFrames = 250; // 10 s at 25 fps
constexpr double kClipRate = 25.0;
constexpr int kSnapshotMs = 100;
constexpr const char* kBroadcast = "10.83.0.255";
constexpr int kStartMs = 30000;

std::string clipGif()
{
    std::vector<GifColor> table;
    for (int k = 0; k < 256; ++k)
        table.push_back({static_cast<uint8_t>(k), 255, 128});
    GifBuilder gif(16, 16, table);
    gif.loop(0);
    for (int k = 0; k < kClipFrames; ++k) {
        GifImage frame = solidImage(16, 16, static_cast<uint8_t>(k));
        frame.minCodeSize = 8;
        gif.graphicControl(4).image(frame);
    }
    return gif.trailer().bytes();
}

// The program numbers its snapshots modulo this.
constexpr long long kSnapshotNumbers = 1000000000;

long long intervalOf(SystemClock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() / kSnapshotMs;
}

double secondsOf(long long interval_a, long long interval_b)
{
    return static_cast<double>(interval_a - interval_b) * kSnapshotMs / 1000.0;
}

// Frames apart on the looping clip, 0 to kClipFrames / 2.
int apart(int a, int b)
{
    const int d = std::abs(a - b) % kClipFrames;
    return std::min(d, kClipFrames - d);
}

class Node {
public:
    Node(const NetNamespace& ns, const std::string& timecode)
    {
        dir.write("config.txt", "DMX_START=1\nANZAHL=1\n" + (timecode.empty() ? "" : "TIMECODE=" + timecode + "\n"));
        dir.write("textures/000.gif", clipGif());
        ChildProcess::Setup setup;
        setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=64x36", "--fps-cap=120",
                      "--snapshot=" + dir.file("shot.png"), "--snapshot-every=" + std::to_string(kSnapshotMs)};
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
        setup.working_directory = dir.path();
        setup.stderr_path = dir.file("stderr.txt");
        ScopedNetNamespace at(ns);
        started = intervalOf(SystemClock::now());
        process = std::make_unique<ChildProcess>(setup);
    }

    // The clip frame each snapshot shows, by interval; pictures without the
    // clip's marker colour are left out.
    std::map<long long, int> frames() const
    {
        std::map<long long, int> shown;
        DIR* folder = opendir(dir.path().c_str());
        if (!folder)
            return shown;
        while (dirent* entry = readdir(folder)) {
            long long interval = 0;
            if (std::sscanf(entry->d_name, "shot-%lld.png", &interval) != 1)
                continue;
            interval += started - started % kSnapshotNumbers;
            const RgbaImage shot = readRgbaPng(dir.file(entry->d_name));
            if (shot.ok() && shot.centre()[1] == 255 && shot.centre()[2] == 128)
                shown[interval] = shot.centre()[0];
        }
        closedir(folder);
        return shown;
    }
    bool showing() const { return !frames().empty(); }
    long long firstPicture() const
    {
        const auto shown = frames();
        return shown.empty() ? -1 : shown.begin()->first;
    }
    std::string errors() const { return readFile(dir.file("stderr.txt")); }
    bool stop()
    {
        process->signal(SIGTERM);
        int status = 0;
        return process->waitExit(10000, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    TempDir dir;
    long long started = 0;
    std::unique_ptr<ChildProcess> process;
};

// A desk on its own namespace: ArtTimeCode from 01:00:00:00 at 25 fps, each
// packet delayed by 0-3 ms at random; `jump_at` packets in, the timecode
// moves by `jump` seconds.
class TimecodeDesk {
public:
    TimecodeDesk(const NetNamespace& ns, int jump_at, double jump)
        : jump_at_packet(jump_at), jump_seconds(jump)
    {
        {
            ScopedNetNamespace at(ns);
            peer = std::make_unique<UdpPeer>();
        }
        start_steady = std::chrono::steady_clock::now();
        start_system = SystemClock::now();
        thread = std::thread([this] { run(); });
    }
    ~TimecodeDesk()
    {
        stopping = true;
        thread.join();
    }

    // The clip frame the desk's timecode names at a moment.
    int frameAt(SystemClock::time_point t) const
    {
        const double since = std::chrono::duration<double>(t - start_system).count();
        const double jumped = since * kClipRate >= jump_at_packet ? jump_seconds : 0.0;
        return static_cast<long>(std::floor((kStart + since + jumped) * kClipRate + 1e-6)) % kClipFrames;
    }
    SystemClock::time_point jumpTime() const
    {
        return start_system + std::chrono::duration_cast<SystemClock::duration>(
                                  std::chrono::duration<double>(jump_at_packet / kClipRate));
    }

private:
    static constexpr double kStart = 3600.0;

    void run()
    {
        std::mt19937 random(2026);
        std::uniform_int_distribution<int> delay_us(0, 3000);
        for (long n = 0; !stopping; ++n) {
            const auto tick = start_steady + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                 std::chrono::duration<double>(n / kClipRate));
            std::this_thread::sleep_until(tick + std::chrono::microseconds(delay_us(random)));
            const double seconds = kStart + n / kClipRate + (n >= jump_at_packet ? jump_seconds : 0.0);
            const ArtTimeCode::Bytes packet = ArtTimeCode::build(Timecode::fromSeconds(seconds, Timecode::Ebu25));
            peer->sendTo(kBroadcast, 6454, std::vector<uint8_t>(packet.begin(), packet.end()));
        }
    }

    const long jump_at_packet;
    const double jump_seconds;
    std::unique_ptr<UdpPeer> peer;
    std::chrono::steady_clock::time_point start_steady;
    SystemClock::time_point start_system;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

// The 95th percentile of the largest difference between the nodes at the
// instants from `from` to `until` where every node has a snapshot; -1 for
// none. Printed as FIGURE `name`, with the number of instants.
int percentile95(const char* name, const std::vector<std::map<long long, int>>& nodes, long long from,
                 long long until = LLONG_MAX)
{
    std::vector<int> spread;
    for (const auto& [interval, frame] : nodes[0]) {
        if (interval < from || interval > until)
            continue;
        int widest = 0;
        bool everywhere = true;
        for (const auto& other : nodes) {
            const auto seen = other.find(interval);
            if (seen == other.end()) {
                everywhere = false;
                break;
            }
            widest = std::max(widest, apart(frame, seen->second));
        }
        if (everywhere)
            spread.push_back(widest);
    }
    std::sort(spread.begin(), spread.end());
    const int p95 = spread.empty() ? -1 : spread[(spread.size() * 95 + 99) / 100 - 1];
    const auto same = std::count(spread.begin(), spread.end(), 0);
    std::printf("FIGURE %s %d frames (95th percentile of %zu instants, largest %d, all nodes on one frame at %ld)\n",
                name, p95, spread.size(), spread.empty() ? -1 : spread.back(), static_cast<long>(same));
    std::fflush(stdout);
    return p95;
}

// The first instant from `from` on at which the node shows the desk's frame
// (one frame of slack for the moment the snapshot is drawn); -1 never.
long long firstAgreement(const std::map<long long, int>& shown, const TimecodeDesk& desk, long long from)
{
    for (const auto& [interval, frame] : shown) {
        const auto at = SystemClock::time_point(std::chrono::milliseconds(0)) +
                        std::chrono::milliseconds(interval * kSnapshotMs);
        if (interval >= from && apart(frame, desk.frameAt(at)) <= 1)
            return interval;
    }
    return -1;
}

class Bridge {
public:
    bool ok(std::string* why)
    {
        for (const NetNamespace* ns : {&lan, &desk, &node[0], &node[1], &node[2]}) {
            if (!ns->ok()) {
                *why = ns->error();
                return false;
            }
        }
        return plugIntoBridge(lan, "br0", "p-desk", desk, "eth0", "10.83.0.1/24", why) &&
               plugIntoBridge(lan, "br0", "p-n1", node[0], "eth0", "10.83.0.2/24", why) &&
               plugIntoBridge(lan, "br0", "p-n2", node[1], "eth0", "10.83.0.3/24", why) &&
               plugIntoBridge(lan, "br0", "p-n3", node[2], "eth0", "10.83.0.4/24", why);
    }
    NetNamespace lan, desk, node[3];
};

bool allShowing(const std::vector<Node*>& nodes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::all_of(nodes.begin(), nodes.end(), [](Node* n) { return n->showing(); }))
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void figure(const char* name, double value, const char* unit)
{
    std::printf("FIGURE %s %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

TEST(TimecodeOnABridge, NodesShowTheSameFrameFollowJumpsAndJoinLate)
{
    Bridge net;
    std::string why;
    if (!net.ok(&why))
        GTEST_SKIP() << why;

    // A desk sends timecode; two nodes chase it from the start, a third is
    // started 4 s later; 10 s in the desk jumps 13.2 s (330 frames).
    {
        TimecodeDesk desk(net.desk, 250, 13.2);
        Node one(net.node[0], "chase"), two(net.node[1], "chase");
        ASSERT_TRUE(allShowing({&one, &two})) << one.errors() << two.errors();
        std::this_thread::sleep_for(4s);
        Node late(net.node[2], "chase");
        ASSERT_TRUE(allShowing({&late})) << late.errors();
        const long long jump = intervalOf(desk.jumpTime());
        while (SystemClock::now() < desk.jumpTime() + 5s)
            std::this_thread::sleep_for(100ms);
        const std::vector<std::map<long long, int>> shown = {one.frames(), two.frames(), late.frames()};

        const long long late_joined = firstAgreement(shown[2], desk, late.firstPicture());
        ASSERT_GE(late_joined, 0) << "the late node never showed the desk's frame";
        figure("late_join_from_start_s", secondsOf(late_joined, late.started), "s");
        figure("late_join_from_first_picture_s", secondsOf(late_joined, late.firstPicture()), "s");
        EXPECT_LE(secondsOf(late_joined, late.firstPicture()), 5.0);

        double slowest_follow = 0.0;
        for (const auto& node : shown) {
            const long long followed = firstAgreement(node, desk, jump + 1);
            ASSERT_GE(followed, 0) << "a node never followed the jump";
            slowest_follow = std::max(slowest_follow, secondsOf(followed, jump));
        }
        figure("jump_follow_s", slowest_follow, "s");
        EXPECT_LE(slowest_follow, 2.0);

        // Steady state: after the late node joined, outside the second after the jump.
        const int before_jump = percentile95("chase_p95_before_jump", shown, late_joined + 5, jump - 1);
        const int after_jump = percentile95("chase_p95_after_jump", shown, jump + 10);
        EXPECT_GE(before_jump, 0);
        EXPECT_LE(std::max(before_jump, after_jump), 2);
        EXPECT_TRUE(one.stop() && two.stop() && late.stop());
    }

    // One node is the rig's clock, two chase it.
    {
        Node master(net.node[0], "master"), one(net.node[1], "chase"), two(net.node[2], "chase");
        ASSERT_TRUE(allShowing({&master, &one, &two})) << master.errors() << one.errors() << two.errors();
        const long long from = intervalOf(SystemClock::now()) + 10;
        std::this_thread::sleep_for(8s);
        const int p95 = percentile95("master_p95", {master.frames(), one.frames(), two.frames()}, from);
        EXPECT_GE(p95, 0);
        EXPECT_LE(p95, 2);
        EXPECT_TRUE(master.stop() && one.stop() && two.stop());
    }

    // Reference: no timecode, the second node started half a second later.
    {
        Node one(net.node[0], "");
        ASSERT_TRUE(allShowing({&one})) << one.errors();
        std::this_thread::sleep_for(500ms);
        Node two(net.node[1], "");
        ASSERT_TRUE(allShowing({&two})) << two.errors();
        const long long from = intervalOf(SystemClock::now()) + 5;
        std::this_thread::sleep_for(3s);
        percentile95("reference_p95", {one.frames(), two.frames()}, from);
        EXPECT_TRUE(one.stop() && two.stop());
    }
}

} // namespace
