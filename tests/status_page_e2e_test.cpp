// The status page of the real program, seen from a desk's network: the JSON
// for known settings, DMX and slots, and the page in a real browser
// (Debian's chromium, headless; skipped where it is not installed).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/artnet_peer.h"
#include "support/child_process.h"
#include "support/eventually.h"
#include "support/http_client.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr int kStartMs = 30000;
constexpr int kPort = 8080;
const char* const kChromium = "/usr/bin/chromium";

struct Node {
    NetNamespace desk, node;
    TempDir dir;
    std::unique_ptr<UdpPeer> console;
    std::unique_ptr<ChildProcess> program;
};

// The desk's universe: canvas 0 from channel 1 shows slot 0, lit, small,
// standing still at horizontal position x.
std::vector<uint8_t> canvasAt(uint8_t x)
{
    std::vector<uint8_t> channels(512, 0);
    const uint8_t block[20] = {0, 255, x, 128, 60, 60, 0, 0, 0, 0, 255, 255, 255, 0, 0, 127, 127};
    std::copy(block, block + 20, channels.begin());
    return channels;
}

nlohmann::json status(Node& n)
{
    ScopedNetNamespace at(n.node);
    const HttpReply reply = httpGet(kPort, "/api/status");
    return nlohmann::json::parse(reply.body, nullptr, false);
}

std::string preview(Node& n)
{
    ScopedNetNamespace at(n.node);
    return httpGet(kPort, "/preview.png").body;
}

// The page after its script ran, and what chromium said on standard error.
std::string pageInChromium(Node& n, const std::string& name, std::string* log)
{
    ChildProcess::Setup setup;
    setup.argv = {kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                  "--user-data-dir=" + n.dir.file("chromium-" + name), "--enable-logging=stderr", "--v=0",
                  "--virtual-time-budget=4000", "--dump-dom", "http://127.0.0.1:" + std::to_string(kPort) + "/"};
    setup.environment = {{"HOME", n.dir.path()}};
    setup.stdout_path = n.dir.file(name + ".html");
    setup.stderr_path = n.dir.file(name + ".log");
    int exit_status = -1;
    {
        ScopedNetNamespace at(n.node);
        ChildProcess browser(setup);
        if (!browser.waitExit(60000, &exit_status))
            browser.signal(SIGKILL);
    }
    *log = readFile(n.dir.file(name + ".log"));
    return readFile(n.dir.file(name + ".html"));
}

std::string previewSum(const std::string& dom)
{
    std::smatch match;
    return std::regex_search(dom, match, std::regex("id=\"preview\"[^>]*data-sum=\"([0-9]+)\"")) ? match[1].str() : "";
}

TEST(StatusPage, ShowsSettingsChannelsSlotsAndALivePreview)
{
    Node n;
    if (!n.desk.ok() || !n.node.ok())
        GTEST_SKIP() << n.desk.error() << n.node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(n.node, "eth0", "10.83.0.2/24", n.desk, "desk0", "10.83.0.1/24", &failed)) << failed;
    {
        ScopedNetNamespace at(n.desk);
        n.console = std::make_unique<UdpPeer>(6454);
    }
    n.dir.write("config.txt", "DMX_START=1\nANZAHL=1\nHTTP_PORT=8080\n");
    n.dir.write("textures/.keep", "");
    writeSolidPng(n.dir.file("textures/000.png"), 8, 8, 0xFFFFFFFF);
    n.dir.write("textures/007.gif", "GIF89a but nothing after");
    {
        ScopedNetNamespace at(n.node);
        ChildProcess::Setup setup;
        setup.argv = {SPECTRAFOX_BINARY, "--silent", "--headless=160x90"};
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
        setup.working_directory = n.dir.path();
        setup.stderr_path = n.dir.file("stderr.txt");
        n.program = std::make_unique<ChildProcess>(setup);
    }
    Datagram reply;
    ASSERT_TRUE(n.console->receiveOpCode(0x2100, &reply, std::chrono::milliseconds(kStartMs)))
        << readFile(n.dir.file("stderr.txt"));

    ASSERT_TRUE(n.console->sendTo("10.83.0.2", 6454, artDmx(0, 0, canvasAt(64))));
    nlohmann::json s;
    ASSERT_TRUE(eventually([&] {
        s = status(n);
        return s.is_object() && s["inputs"]["artnet"]["artdmx_packets"] >= 1 && s["slots"][0]["state"] == "picture";
    }, 10s)) << s.dump();
    EXPECT_EQ(s["config"]["HTTP_PORT"], "8080");
    EXPECT_EQ(s["inputs"]["artnet"]["last_sender"], "10.83.0.1");
    EXPECT_EQ(s["canvases"][0]["channels"][2], 64);
    EXPECT_EQ(s["canvases"][0]["channels"][15], 127);
    EXPECT_EQ(s["slots"][7]["state"], ".gif that cannot be read or decoded");
    EXPECT_EQ(s["slots"][7]["error"], true);
    EXPECT_EQ(s["slots"][0]["thumbnail"], "/thumbnail/0.png"); // made for the page

    // The preview follows the canvas. Until the first read-back it is one
    // black pixel (a PNG of under 100 bytes).
    std::string before;
    ASSERT_TRUE(eventually([&] { return (before = preview(n)).size() > 100; }, 10s));
    const bool have_chromium = access(kChromium, X_OK) == 0;
    std::string log_before, dom_before;
    if (have_chromium)
        dom_before = pageInChromium(n, "before", &log_before);
    ASSERT_TRUE(n.console->sendTo("10.83.0.2", 6454, artDmx(0, 0, canvasAt(192))));
    EXPECT_TRUE(eventually([&] { return preview(n) != before; }, 10s)) << "the preview did not change";

    if (have_chromium) {
        std::string log_after;
        const std::string dom_after = pageInChromium(n, "after", &log_after);
        EXPECT_NE(dom_before.find("<tr id=\"slot-7\">"), std::string::npos) << dom_before;
        EXPECT_NE(dom_before.find(".gif that cannot be read or decoded"), std::string::npos);
        EXPECT_NE(previewSum(dom_before), "") << dom_before;
        EXPECT_NE(previewSum(dom_after), previewSum(dom_before));
        EXPECT_EQ(log_before.find(":CONSOLE"), std::string::npos) << log_before;
        EXPECT_EQ(log_after.find(":CONSOLE"), std::string::npos) << log_after;
    } else {
        std::printf("chromium not installed: the page was not checked in a browser\n");
    }

    n.program->signal(SIGTERM);
    int exit_status = 0;
    ASSERT_TRUE(n.program->waitExit(10000, &exit_status));
    EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << readFile(n.dir.file("stderr.txt"));
}

} // namespace
