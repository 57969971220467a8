// The QLC+ fixture profile in the real desk program: QLC+ (headless) opens a
// workspace that patches the profile at channel 1 and starts a scene; its
// Art-Net output, across a veth link, must set the node's canvas channels as
// the manual's table says. Skipped where qlcplus is not installed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/http_client.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

const char* const kQlcplus = "/usr/bin/qlcplus";

// Scene values by channel index from 0: slot 0, full dimmer, position X 64
// (left of centre), width and height 60, white, standing still.
const char* const kWorkspace = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE Workspace>
<Workspace xmlns="http://www.qlcplus.org/Workspace" CurrentWindow="FunctionManager">
 <Creator><Name>Q Light Controller Plus</Name><Version>4.12.6</Version><Author>test</Author></Creator>
 <Engine Autostart="0">
  <InputOutputMap>
   <Universe Name="Universe 1" ID="0"><Output Plugin="ArtNet" UID="10.84.0.1" Line="0"/></Universe>
  </InputOutputMap>
  <Fixture>
   <Manufacturer>Spectrafox</Manufacturer><Model>Canvas</Model><Mode>Canvas 20ch</Mode>
   <ID>0</ID><Name>Canvas 1</Name><Universe>0</Universe><Address>0</Address><Channels>20</Channels>
  </Fixture>
  <Function ID="0" Type="Scene" Name="Canvas left">
   <Speed FadeIn="0" FadeOut="0" Duration="0"/>
   <FixtureVal ID="0">0,0,1,255,2,64,4,60,5,60,10,255,11,255,12,255,15,127,16,127</FixtureVal>
  </Function>
 </Engine>
</Workspace>
)";

TEST(QlcplusFixture, AWorkspaceUsingTheProfileDrivesACanvas)
{
    if (access(kQlcplus, X_OK) != 0)
        GTEST_SKIP() << "qlcplus is not installed (scripts/install-deps.sh --test)";
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.84.0.2/24", desk, "desk0", "10.84.0.1/24", &failed)) << failed;

    TempDir dir;
    const std::string profile = readFile(std::string(SPECTRAFOX_SOURCE_DIR) + "/fixtures/Spectrafox-Canvas.qxf");
    ASSERT_FALSE(profile.empty());
    // Beside the workspace, where QLC+ 4.12 looks for a definition its
    // library lacks (it did not read the user fixtures folder, also given,
    // when started with a workspace here).
    dir.write("home/.qlcplus/fixtures/Spectrafox-Canvas.qxf", profile);
    dir.write("desk/Spectrafox-Canvas.qxf", profile);
    dir.write("desk/show.qxw", kWorkspace);
    dir.write("node/config.txt", "DMX_START=1\nANZAHL=1\nHTTP_PORT=8080\n");
    dir.write("node/textures/.keep", "");
    writeSolidPng(dir.file("node/textures/000.png"), 8, 8, 0xFFFFFFFF);

    std::unique_ptr<ChildProcess> program, qlcplus;
    {
        ScopedNetNamespace at(node);
        ChildProcess::Setup setup;
        setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=64x36"};
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
        setup.working_directory = dir.file("node");
        setup.stderr_path = dir.file("node/stderr.txt");
        program = std::make_unique<ChildProcess>(setup);
    }
    {
        ScopedNetNamespace at(desk);
        ChildProcess::Setup setup;
        setup.argv = {kQlcplus, "--open", dir.file("desk/show.qxw"), "--operate"};
        setup.environment = {{"HOME", dir.file("home")}, {"QT_QPA_PLATFORM", "offscreen"},
                             {"XDG_RUNTIME_DIR", dir.path()}};
        setup.working_directory = dir.file("desk");
        setup.stdout_path = dir.file("qlcplus.txt");
        setup.stderr_path = dir.file("qlcplus.txt");
        qlcplus = std::make_unique<ChildProcess>(setup);
    }

    nlohmann::json channels;
    const bool driven = eventually([&] {
        ScopedNetNamespace at(node);
        const nlohmann::json status = nlohmann::json::parse(httpGet(8080, "/api/status", 1000).body, nullptr, false);
        if (!status.is_object())
            return false;
        channels = status["canvases"][0]["channels"];
        return channels[1] == 255;
    }, 30s, 200ms);
    qlcplus->signal(SIGKILL);
    ASSERT_TRUE(driven) << channels.dump() << "\n" << readFile(dir.file("qlcplus.txt")).substr(0, 4000);
    const nlohmann::json expected = {0, 255, 64, 0, 60, 60, 0, 0, 0, 0, 255, 255, 255, 0, 0, 127, 127, 0, 0, 0};
    EXPECT_EQ(channels, expected);

    program->signal(SIGTERM);
    int status = 0;
    EXPECT_TRUE(program->waitExit(10000, &status));
}

} // namespace
