// A real E1.31 sender that no one here wrote: the npm package "sacn" (its
// Sender) in a desk namespace, multicasting over a private veth link to the
// node, whose canvases are checked by their pixels. A second source at a
// higher priority takes over, then falls silent and times out.
// Named *_udp_test: the receiver binds 6454.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/gl_fixture.h"
#include "support/net_namespace.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kUniverse = 1234; // group 239.255.4.210
constexpr int kWidth = 160, kHeight = 90;
const std::string kPeers = std::string(SPECTRAFOX_SOURCE_DIR) + "/tests/peers";
const Rgba kYellow{255, 255, 0, 255};
const Rgba kRed{255, 0, 0, 255};
const Rgba kBlack{0, 0, 0, 255};
constexpr int kLeftX = 40, kRightX = 120, kMiddleY = 45;

// Canvas 0 opaque, a quarter of the width, standing still, at DMX position
// x_channel (64: centred at kLeftX, 192: at kRightX), tinted red and green.
std::string canvasChannels(int x_channel, int green)
{
    std::ostringstream channels;
    channels << "2=255 3=" << x_channel << " 4=128 5=64 11=255 12=" << green << " 13=255 16=127 17=127";
    return channels.str();
}

class NpmSacnDesk {
public:
    NpmSacnDesk(const NetNamespace& ns, const TempDir& dir) : ns(ns), dir(dir) {}
    ~NpmSacnDesk()
    {
        // Background senders are bounded by `timeout`; end them sooner.
        for (const std::string& pid_file : pid_files) {
            const int pid = std::atoi(readFile(pid_file).c_str());
            if (pid > 0)
                ::kill(pid, SIGTERM);
        }
    }

    // Sends from source `cid` for `seconds`, ten packets a second; returns
    // when done, or at once with `background`.
    bool send(int cid, int priority, int first_sequence, double seconds, const std::string& channels,
              bool background = false)
    {
        std::ostringstream command;
        const std::string log = dir.file("sender-" + std::to_string(runs) + ".log");
        command << "timeout " << static_cast<int>(seconds) + 10 << " node " << kPeers << "/sacn_send.js "
                << kUniverse << " " << cid << " " << priority << " " << first_sequence << " " << seconds
                << " 10 " << channels << " > " << log << " 2>&1";
        if (background) {
            const std::string pid_file = dir.file("sender-" + std::to_string(runs) + ".pid");
            command << " & echo $! > " << pid_file;
            pid_files.push_back(pid_file);
        }
        ++runs;
        return ns.run(command.str());
    }

private:
    const NetNamespace& ns;
    const TempDir& dir;
    int runs = 0;
    std::vector<std::string> pid_files;
};

class Screen {
public:
    Screen() : manager(DisplayOptions::headless(kWidth, kHeight))
    {
        group = manager.generateCanvasGroup(1, "CONTENT_EXAMPLE");
    }
    // Renders frames until the pixels at both spots are as given.
    bool shows(const Rgba& left, const Rgba& right, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        do {
            manager.renderFrame();
            last_left = readPixelAt(kLeftX, kMiddleY, kHeight);
            last_right = readPixelAt(kRightX, kMiddleY, kHeight);
            if (near(last_left, left) && near(last_right, right))
                return true;
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }
    std::string seen() const
    {
        std::ostringstream out;
        out << "left " << last_left << ", right " << last_right;
        return out.str();
    }

    CanvasManager manager;
    int group = 0;
    Rgba last_left, last_right;
};

bool haveNodeAndPackage()
{
    return std::system("command -v node >/dev/null 2>&1") == 0 &&
           ::access((kPeers + "/node_modules/sacn/package.json").c_str(), R_OK) == 0;
}

// The desk and the node, each in a namespace of its own, joined by a veth
// link: the node's eth0 (10.80.0.2) and the desk's desk0, which routes sACN.
class SacnFromNpmSender : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveNodeAndPackage())
            GTEST_SKIP() << "node or the npm package sacn is missing: scripts/install-deps.sh --test";
        if (!desk_ns.ok() || !node_ns.ok())
            GTEST_SKIP() << desk_ns.error() << node_ns.error();
        std::string failed;
        ASSERT_TRUE(connectWithVeth(node_ns, "eth0", "10.80.0.2/24", desk_ns, "desk0", "10.80.0.1/24", &failed))
            << failed;
        ASSERT_TRUE(desk_ns.run("ip route add 239.255.0.0/16 dev desk0"));
    }

    NetNamespace desk_ns, node_ns;
};

TEST_F(SacnFromNpmSender, MulticastMovesTheCanvasAndAHigherPriorityTakesOverUntilItTimesOut)
{

    Screen screen;
    std::vector<std::string> said;
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node_ns); // joins on the interfaces seen in here: eth0
        ArtnetReceiver::HostAccess host;
        host.console_line = [&](const std::string& line) { said.push_back(line); };
        NetworkInputSettings settings;
        settings.sacn_universe = kUniverse;
        receiver = std::make_unique<ArtnetReceiver>(&screen.manager, screen.group, 0, 0, 1, 1.0f, -1,
                                                    settings, host);
    }
    EXPECT_TRUE(said.empty()) << said.front();

    TempDir dir;
    NpmSacnDesk desk(desk_ns, dir);
    ASSERT_TRUE(desk.send(1, 100, 0, 1, canvasChannels(64, 255))) << readFile(dir.file("sender-0.log"));
    EXPECT_TRUE(screen.shows(kYellow, kBlack, 5000ms)) << screen.seen();

    // The same source moves the canvas to the right and keeps sending.
    ASSERT_TRUE(desk.send(1, 100, 60, 12, canvasChannels(192, 255), true));
    EXPECT_TRUE(screen.shows(kBlack, kYellow, 5000ms)) << screen.seen();

    // A second source at priority 150 turns it red, then stops sending.
    ASSERT_TRUE(desk.send(2, 150, 0, 1.5, canvasChannels(192, 0))) << readFile(dir.file("sender-2.log"));
    EXPECT_TRUE(screen.shows(kBlack, kRed, 1000ms)) << "right after the second source stopped: " << screen.seen();
    // Its silence ends it; the first source, still sending, is shown again.
    EXPECT_TRUE(screen.shows(kBlack, kYellow, 6000ms)) << screen.seen();
    receiver.reset();
}

// The node boots before the lighting network: its side of the link gets an
// address 5 s after the receiver started. The group is joined then (the
// canvas follows the desk), and left when the address goes.
TEST_F(SacnFromNpmSender, JoinsOnAnInterfaceThatGetsItsAddressLateAndLeavesWhenItGoes)
{
    ASSERT_TRUE(node_ns.run("ip addr flush dev eth0"));
    const std::string member = "grep -qi D204FFEF /proc/net/igmp"; // 239.255.4.210

    Screen screen;
    std::mutex notices_mutex;
    std::string notices; // one a line
    auto noticed = [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(notices_mutex);
        return notices.find(line + "\n") != std::string::npos;
    };
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node_ns);
        ArtnetReceiver::HostAccess host;
        host.console_line = [](const std::string&) {};
        host.notice = [&](const std::string& line) {
            std::lock_guard<std::mutex> lock(notices_mutex);
            notices += line + "\n";
        };
        NetworkInputSettings settings;
        settings.sacn_universe = kUniverse;
        receiver = std::make_unique<ArtnetReceiver>(&screen.manager, screen.group, 0, 0, 1, 1.0f, -1,
                                                    settings, host);
    }
    std::this_thread::sleep_for(5s);
    ASSERT_TRUE(node_ns.run("ip addr add 10.80.0.2/24 broadcast + dev eth0"));

    TempDir dir;
    NpmSacnDesk desk(desk_ns, dir);
    ASSERT_TRUE(desk.send(1, 100, 0, 4, canvasChannels(64, 255), true));
    EXPECT_TRUE(screen.shows(kYellow, kBlack, 6000ms)) << screen.seen();
    EXPECT_TRUE(noticed("sACN: joined 239.255.4.210 on eth0"));
    EXPECT_TRUE(node_ns.run(member));

    ASSERT_TRUE(node_ns.run("ip addr flush dev eth0"));
    EXPECT_TRUE(eventually([&] { return noticed("sACN: left 239.255.4.210 on eth0, which has no address any more"); }));
    EXPECT_TRUE(node_ns.run("! " + member)) << "still a member of the group without an address";
    receiver.reset();
}

} // namespace
