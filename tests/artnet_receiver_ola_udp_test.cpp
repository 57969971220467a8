// A real lighting desk that no one here wrote: the Open Lighting Architecture
// daemon with its Art-Net plugin, in a desk namespace joined to the node's by
// a private veth link. It has to discover the node by ArtPoll (it only sends
// DMX to nodes that answered) and its DMX has to move the canvases.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <cctype>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/net_namespace.h"
#include "support/ola_desk.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kDeskAddress = "10.78.0.1";
constexpr const char* kNodeAddress = "10.78.0.2";
// OLA matches the whole SwOut byte of a reply against sub-net and universe
// together, while the node reports the sub-net in SubSwitch and the universe
// in SwOut; the two readings agree on sub-net 0.
constexpr int kSubnet = 0;
constexpr int kUniverse = 5; // OLA universe 5 is Art-Net universe 5 of the configured sub-net

// The desk's OLA commands are slow: ask them a few times a second only.
constexpr auto kOlaPoll = 200ms;

TEST(ArtnetReceiverWithOla, OlaDiscoversTheNodeAndItsDmxDrivesTheCanvases)
{
    for (const char* tool : {"ola_dev_info", "ola_patch", "ola_artnet", "ola_streaming_client"})
        if (!haveCommand(tool))
            GTEST_SKIP() << tool << " is not installed (Debian package ola)";
    if (::access(kOlad, X_OK) != 0)
        GTEST_SKIP() << kOlad << " is not installed (Debian package ola)";
    OlaAccount account{};
    if (!unprivilegedAccount(&account))
        GTEST_SKIP() << "no unprivileged account to run olad as";
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.78.0.2/24", desk, "desk0", "10.78.0.1/24", &failed))
        << failed;

    CanvasManager manager(DisplayOptions::headless(160, 90));
    const int group = manager.generateCanvasGroup(2, "CONTENT_EXAMPLE");
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node);
        receiver = std::make_unique<ArtnetReceiver>(&manager, group, kUniverse, kSubnet, 1, 1.0f, -1);
    }

    TempDir dir;
    writeOlaConfig(dir, account, kDeskAddress, kSubnet);
    OlaDaemon olad(desk, dir, account);
    ASSERT_TRUE(olad.started());
    auto daemonLog = [&] { return "olad log:\n" + readFile(dir.file("olad.log")); };

    std::string device;
    ASSERT_TRUE(patchArtnetPort(desk, dir, kUniverse, &device, &failed)) << failed << "\n" << daemonLog();

    // Patching the port makes OLA poll; the node's reply puts it on the list.
    EXPECT_TRUE(eventually(
        [&] {
            std::string nodes;
            deskCommand(desk, dir, "ola_artnet -d " + device + " -u " + std::to_string(kUniverse), &nodes);
            return nodes.find(kNodeAddress) != std::string::npos;
        },
        20s, kOlaPoll))
        << daemonLog();

    std::ostringstream values; // canvas 0: content 17, alpha full; canvas 1: content 99
    for (int channel = 1; channel <= 40; ++channel)
        values << (channel > 1 ? "," : "") << (channel == 1 ? 17 : channel == 2 ? 255 : channel == 21 ? 99 : 0);
    const std::vector<Canvas*> canvases = manager.getCanvasGroup(group);
    EXPECT_TRUE(eventually(
        [&] {
            deskCommand(desk, dir, "ola_streaming_client -u " + std::to_string(kUniverse) + " -d " + values.str());
            return canvases[0]->getContentData() == 17 && canvases[1]->getContentData() == 99;
        },
        20s, kOlaPoll))
        << daemonLog();
    EXPECT_EQ(canvases[0]->getAlpha(), 1.0f);
    receiver.reset();
}

} // namespace
