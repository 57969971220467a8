// The technician's page of the real program driven in chromium: a file
// chosen in the page's file input replaces slot 0 (its thumbnail and the
// projector's picture change), a warp corner dragged moves the picture and
// lands in geometry.txt. Skipped where chromium or node is not installed.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "network/artnet/art_poll_reply.h"
#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/eventually.h"
#include "support/http_client.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kPort = 8080;
const char* const kChromium = "/usr/bin/chromium";
const char* const kNode = "/usr/bin/node";
const std::string kToken = "rig-secret-0123456789";

std::string fetched(NetNamespace& node, const std::string& path)
{
    ScopedNetNamespace at(node);
    return httpGet(kPort, path).body;
}

TEST(AdminPage, UploadByTheFileInputAndADraggedCornerChangeThePicture)
{
    if (access(kChromium, X_OK) != 0 || access(kNode, X_OK) != 0)
        GTEST_SKIP() << "chromium or node not installed";
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.84.0.2/24", desk, "desk0", "10.84.0.1/24", &failed)) << failed;
    std::unique_ptr<UdpPeer> console;
    {
        ScopedNetNamespace at(desk);
        console = std::make_unique<UdpPeer>(6454);
    }
    TempDir dir;
    dir.write("config.txt", "DMX_START=1\nANZAHL=1\nHTTP_PORT=8080\nHTTP_ADMIN_TOKEN=" + kToken + "\n");
    dir.write("textures/.keep", "");
    writeSolidPng(dir.file("textures/000.png"), 8, 8, 0xFF0000FF);
    writeSolidPng(dir.file("green.png"), 8, 8, 0x00FF00FF);
    std::unique_ptr<ChildProcess> program;
    {
        ScopedNetNamespace at(node);
        program = std::make_unique<ChildProcess>(ChildProcess::server(dir.path(), {"--headless=160x90"}));
    }
    Datagram reply;
    ASSERT_TRUE(console->receiveOpCode(0x2100, &reply, 30s)) << readFile(dir.file("stderr.txt"));
    // Slot 0, lit, over the whole output.
    std::vector<uint8_t> channels(512, 0);
    const uint8_t block[17] = {0, 255, 128, 128, 255, 255, 0, 0, 0, 0, 255, 255, 255, 0, 0, 127, 127};
    std::copy(block, block + 17, channels.begin());
    ASSERT_TRUE(console->sendTo("10.84.0.2", 6454, artDmx(0, 0, channels)));
    std::string thumbnail, picture;
    ASSERT_TRUE(eventually([&] { return !(thumbnail = fetched(node, "/thumbnail/0.png")).empty() &&
                                        (picture = fetched(node, "/preview.png")).size() > 100; }, 10s));

    const std::string said = "document.getElementById('admin-said').textContent";
    const std::string steps = R"([
      {"waitFor": "document.readyState === 'complete' && typeof admin === 'object'"},
      {"eval": "document.querySelector('#admin').open = true; const t = document.getElementById('token'); t.value = ')" +
                              kToken + R"('; t.dispatchEvent(new Event('change')); 1"},
      {"waitFor": ")" + said + R"( === 'token accepted'"},
      {"setFiles": "#upload-file", "files": [")" + dir.file("green.png") + R"("]},
      {"waitFor": ")" + said + R"( === 'stored 000.png'"},
      {"drag": "#warp-handles", "from": [0.01, 0.01], "to": [0.4, 0.3]},
      {"waitFor": ")" + said + R"( === 'geometry applied'"},
      {"waitFor": "(document.querySelector('#rig a') || {}).textContent === '10.84.0.1'"}
    ])";
    dir.write("steps.json", steps);
    // Another node of the rig answers the desk.
    const ArtPollReply::Bytes other = ArtPollReply::build(0x0A540001, ArtPollReply::Node{});
    ASSERT_TRUE(console->sendTo("10.84.0.2", 6454, std::vector<uint8_t>(other.begin(), other.end())));
    ChildProcess::Setup driver;
    driver.argv = {kNode, std::string(SPECTRAFOX_SOURCE_DIR) + "/tests/support/page_driver.js", kChromium,
                   dir.file("profile"), "http://127.0.0.1:8080/", dir.file("steps.json")};
    driver.environment = {{"HOME", dir.path()}};
    driver.stdout_path = dir.file("driver.txt");
    int exit_status = -1;
    {
        ScopedNetNamespace at(node);
        ChildProcess run(driver);
        if (!run.waitExit(90000, &exit_status))
            run.signal(SIGKILL);
    }
    EXPECT_EQ(readFile(dir.file("driver.txt")), "ok\n");
    EXPECT_TRUE(console->receiveOpCode(0x2000, &reply, 1s)) << "no ArtPoll while the page was open";
    EXPECT_TRUE(eventually([&] { return fetched(node, "/thumbnail/0.png") != thumbnail; }, 10s));
    EXPECT_TRUE(eventually([&] { return fetched(node, "/preview.png") != picture; }, 10s));
    const std::string geometry = readFile(dir.file("geometry.txt"));
    EXPECT_EQ(geometry.find("WARP=0,0 "), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("WARP=0.4"), std::string::npos) << geometry;
    EXPECT_EQ(readFile(dir.file("textures/000.png")), readFile(dir.file("green.png")));

    program->signal(SIGTERM);
    ASSERT_TRUE(program->waitExit(10000, &exit_status));
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << readFile(dir.file("stderr.txt"));
}

} // namespace
