// The node addressed from a real desk: OLA's daemon as the RDM controller,
// in a desk namespace joined to the node's by a private veth link. It finds
// the node's UID, reads what it is, moves its start address and names it;
// the canvases follow DMX at the new address and settings.txt keeps both
// for the next start. Then OLA's own RDM responder test suite runs against it.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "config_loader.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/net_namespace.h"
#include "support/ola_desk.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kDeskAddress = "10.79.0.1";
constexpr int kUniverse = 5;
constexpr const char* kUid = "7ff0:0a4f0002";
// OLA's responder test suite and the Python library it needs, unmodified, beside the checkout.
const std::string kOlaSources = std::string(SPECTRAFOX_SOURCE_DIR) + "/../shared/ola-0.10.9";

// Desk and node on their veth link, olad patched to the node's universe, and
// the node's receiver built from its config.txt and settings.txt.
class RdmDesk {
public:
    std::string skipReason()
    {
        if (!haveCommand("ola_rdm_discover") || ::access(kOlad, X_OK) != 0) // all of Debian's package ola
            return "OLA is not installed (Debian package ola)";
        if (!unprivilegedAccount(&account))
            return "no unprivileged account to run olad as";
        if (!desk.ok() || !node.ok())
            return desk.error() + node.error();
        return "";
    }

    ::testing::AssertionResult start()
    {
        std::string failed, device;
        if (!connectWithVeth(node, "eth0", "10.79.0.2/24", desk, "desk0", "10.79.0.1/24", &failed))
            return ::testing::AssertionFailure() << failed;
        node_dir.write("config.txt", std::string("UNIVERSE=5\nDMX_START=1\nANZAHL=2\nRDM=1\nREMOTE_CONFIG=1\n"
                                                 "RDM_UID=") + kUid + "\n");
        startNode();
        writeOlaConfig(desk_dir, account, kDeskAddress, 0);
        olad = std::make_unique<OlaDaemon>(desk, desk_dir, account);
        if (!olad->started() || !patchArtnetPort(desk, desk_dir, kUniverse, &device, &failed))
            return ::testing::AssertionFailure() << failed << "\n" << daemonLog();
        const std::string discover = "ola_rdm_discover -u " + std::to_string(kUniverse) + " --full";
        if (!eventually([&] { return deskCommand(desk, desk_dir, discover, &failed) && failed.find(kUid) != std::string::npos; },
                        20s, 500ms))
            return ::testing::AssertionFailure() << "no UID found: " << failed << "\n" << daemonLog();
        return ::testing::AssertionSuccess();
    }

    void startNode()
    {
        const ConfigLoader config(node_dir.file("config.txt"));
        settings = std::make_unique<SettingsFile>(config.settingsPath());
        settings->load();
        ArtnetReceiver::HostAccess host;
        host.is_root = false;
        host.console_line = [](const std::string&) {};
        host.settings_file = settings.get();
        host.soc_temperature = nullptr; // the real /sys stays untouched
        host.mac_address = nullptr;
        ScopedNetNamespace at(node);
        receiver = std::make_unique<ArtnetReceiver>(ArtnetReceiver::targetOf(&manager, group),
                                                    config.getNetworkInputSettings(), host);
    }

    // An RDM command of OLA's to the node; its output, and whether it succeeded.
    bool rdm(const std::string& command, const std::string& arguments, std::string* output)
    {
        return deskCommand(desk, desk_dir, command + " -u " + std::to_string(kUniverse) + " --uid " + kUid + " " +
                                               arguments, output);
    }

    std::string daemonLog() const { return "olad log:\n" + readFile(desk_dir.file("olad.log")); }

    NetNamespace desk, node;
    OlaAccount account{};
    TempDir desk_dir, node_dir;
    CanvasManager manager{DisplayOptions::headless(160, 90)};
    int group = manager.generateCanvasGroup(2, "CONTENT_EXAMPLE");
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<OlaDaemon> olad;
};

TEST(ArtnetReceiverRdmWithOla, OlaFindsReadsAndAddressesTheNodeAndSettingsOutliveARestart)
{
    RdmDesk rig;
    const std::string skip = rig.skipReason();
    if (!skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(rig.start());

    std::string output;
    for (const char* get : {"supported_parameters", "sensor_value 0"}) {
        EXPECT_TRUE(rig.rdm("ola_rdm_get", get, &output)) << output;
        EXPECT_EQ(output.find("NACK"), std::string::npos) << output;
    }
    EXPECT_TRUE(rig.rdm("ola_rdm_get", "device_info", &output));
    EXPECT_NE(output.find("Product Category: A/V video"), std::string::npos) << output;
    EXPECT_NE(output.find("DMX Footprint: 40"), std::string::npos) << output; // two canvases
    EXPECT_TRUE(rig.rdm("ola_rdm_get", "slot_description 21", &output));
    EXPECT_NE(output.find("Canvas 2 dimmer"), std::string::npos) << output;

    ASSERT_TRUE(rig.rdm("ola_rdm_set", "dmx_start_address 101", &output)) << output;
    ASSERT_TRUE(rig.rdm("ola_rdm_set", "device_label \"Stage left\"", &output)) << output;
    EXPECT_TRUE(rig.rdm("ola_rdm_get", "device_label", &output));
    EXPECT_NE(output.find("Stage left"), std::string::npos) << output;

    std::ostringstream values; // content 42 at the new address 101, and 7 at the old one
    for (int channel = 1; channel <= 120; ++channel)
        values << (channel > 1 ? "," : "") << (channel == 101 ? 42 : channel == 1 ? 7 : 0);
    const std::vector<Canvas*> canvases = rig.manager.getCanvasGroup(rig.group);
    EXPECT_TRUE(eventually(
        [&] {
            deskCommand(rig.desk, rig.desk_dir,
                        "ola_streaming_client -u " + std::to_string(kUniverse) + " -d " + values.str());
            return canvases[0]->getContentData() == 42;
        },
        20s, 200ms))
        << rig.daemonLog();

    rig.receiver.reset();
    const ConfigLoader restarted(rig.node_dir.file("config.txt"));
    EXPECT_EQ(restarted.getLasersimDMXStart(), 101);
    EXPECT_EQ(restarted.getNetworkInputSettings().remote.device_label, "Stage left");
}

// OLA's suite as a desk's technician would run it. Over Art-Net its
// discovery tests (mute, unique branch) cannot run; every other test must
// pass. The counts are printed for the record.
TEST(ArtnetReceiverRdmWithOla, OlaResponderTestSuitePasses)
{
    if (::access((kOlaSources + "/tools/rdm/rdm_responder_test.py").c_str(), R_OK) != 0)
        GTEST_SKIP() << kOlaSources << " is missing: OLA's responder test suite is not beside the checkout";
    if (::access("/usr/lib/python3/dist-packages/ola/Ola_pb2.py", R_OK) != 0)
        GTEST_SKIP() << "Debian's ola-python is not installed";
    RdmDesk rig;
    const std::string skip = rig.skipReason();
    if (!skip.empty())
        GTEST_SKIP() << skip;
    ASSERT_TRUE(rig.start());
    // The suite's modules over Debian's package: its python/ola first, the
    // generated modules from Debian, tools/rdm as ola.testing.rdm.
    const std::string python = rig.desk_dir.file("python/ola");
    const std::string merge = "mkdir -p " + python + "/testing && touch " + python + "/testing/__init__.py && "
                              "ln -s /usr/lib/python3/dist-packages/ola/* " + python + "/ && "
                              "ln -sf " + kOlaSources + "/python/ola/*.py " + python + "/ && "
                              "ln -s " + kOlaSources + "/tools/rdm " + python + "/testing/rdm";
    ASSERT_EQ(std::system(merge.c_str()), 0);
    std::string output;
    const bool passed = deskCommand(rig.desk, rig.desk_dir,
                                    "env PYTHONPATH=" + rig.desk_dir.file("python") + " /usr/bin/python3 " +
                                        kOlaSources + "/tools/rdm/rdm_responder_test.py --universe " +
                                        std::to_string(kUniverse) + " --no-factory-defaults " + kUid,
                                    &output, 280);
    const std::size_t summary = output.rfind("------------- Summary");
    std::cout << (summary == std::string::npos ? output : output.substr(summary)) << std::endl;
    ASSERT_NE(summary, std::string::npos) << output;
    // "336 / 427 tests run, 336 passed, 0 failed, 0 broken"
    int run = 0, total = 0, passes = 0, failures = -1, broken = -1;
    const std::size_t counts = output.rfind('\n', output.rfind(" tests run")) + 1;
    std::sscanf(output.c_str() + counts, "%d / %d tests run, %d passed, %d failed, %d broken", &run, &total, &passes,
                &failures, &broken);
    EXPECT_EQ(failures, 0) << output;
    EXPECT_EQ(broken, 0) << output;
    EXPECT_TRUE(passed) << output;
}

} // namespace
