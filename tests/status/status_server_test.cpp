// The status page's web server against real sockets, in a namespace of the
// test's own: what a stray or hostile client gets, and that it costs the
// node neither its answers nor memory.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <dirent.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "status/status_reporter.h"
#include "status/status_server.h"
#include "support/eventually.h"
#include "support/http_client.h"
#include "support/net_namespace.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

struct ServedNode {
    explicit ServedNode(StatusServer::Options options = {})
    {
        RenderState state;
        state.slots.resize(256);
        for (int i = 0; i < 256; ++i)
            state.slots[i].slot = i;
        const unsigned char red[4] = {255, 0, 0, 255};
        state.slots[3].state = SlotState::Picture;
        state.slots[3].thumbnail = SlotThumbnail::of(red, 1, 1);
        board.publishRenderState(std::move(state));
        sources.config = {{"HTTP_PORT=", "0"}};
        server = std::make_unique<StatusServer>(options, sources, board);
    }
    int port() const { return server->port(); }

    NodeSources sources;
    StatusBoard board;
    std::unique_ptr<StatusServer> server;
};

bool answersStatus(int port)
{
    const HttpReply reply = httpGet(port, "/api/status");
    return reply.status == 200 && nlohmann::json::accept(reply.body);
}

#define ENTER_OWN_NAMESPACE()                                                                     \
    NetNamespace ns;                                                                              \
    if (!ns.ok())                                                                                 \
        GTEST_SKIP() << ns.error();                                                               \
    ScopedNetNamespace inside(ns)

TEST(StatusServer, StrayAndHostileRequestsAreRefusedAndTheServerGoesOn)
{
    ENTER_OWN_NAMESPACE();
    ServedNode node;
    ASSERT_TRUE(node.server->running()) << node.server->error();
    constexpr int kAnythingButOk = -1;
    const std::string end = " HTTP/1.1\r\nHost: node\r\nConnection: close\r\n\r\n";
    const struct {
        const char* name;
        std::string request;
        int status;
    } cases[] = {
        {"the page", "GET /" + end, 200},
        {"a thumbnail", "GET /thumbnail/3.png" + end, 200},
        {"HEAD", "HEAD /api/status" + end, 200},
        {"POST with a body", "POST /api/status HTTP/1.1\r\nHost: n\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello", 405},
        {"DELETE", "DELETE /" + end, 405},
        {"a path out of the root", "GET /../../etc/passwd" + end, 404},
        {"a texture file by name", "GET /textures/000.png" + end, 404},
        {"a slot without a thumbnail", "GET /thumbnail/4.png" + end, 404},
        {"a slot number out of range", "GET /thumbnail/9999.png" + end, 404},
        {"a signed slot number", "GET /thumbnail/+3.png" + end, 404},
        {"a 1 MB header", "GET / HTTP/1.1\r\nHost: n\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\n\r\n", kAnythingButOk},
        {"no HTTP at all", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n\r\n", 15), kAnythingButOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = httpExchange(node.port(), c.request);
        if (c.status == kAnythingButOk)
            EXPECT_NE(reply.status, 200);
        else
            EXPECT_EQ(reply.status, c.status) << reply.headers;
        EXPECT_TRUE(answersStatus(node.port()));
    }
}

TEST(StatusServer, ServesOnlyOnAnAddressItHas)
{
    ENTER_OWN_NAMESPACE();
    const struct {
        const char* bind;
        bool serves;
    } cases[] = {{"127.0.0.1", true}, {"", true}, {"10.0.0.300", false}, {"10.9.9.9", false}, {"localhost", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bind);
        StatusServer::Options options;
        options.bind_address = c.bind;
        ServedNode node(options);
        EXPECT_EQ(node.server->running(), c.serves) << node.server->error();
        EXPECT_EQ(node.server->error().empty(), c.serves);
    }
}

TEST(StatusServer, ClientsHoldingHalfAHeaderAreCutOffInTime)
{
    ENTER_OWN_NAMESPACE();
    StatusServer::Options options;
    options.timeout_s = 1;
    ServedNode node(options);
    ASSERT_TRUE(node.server->running());
    std::vector<int> slow;
    for (int i = 0; i < 40; ++i) {
        const int fd = httpConnect(node.port());
        ASSERT_GE(fd, 0);
        EXPECT_GT(send(fd, "GET / HTTP/1.1\r\nHost:", 21, MSG_NOSIGNAL), 0);
        slow.push_back(fd);
    }
    // Beyond the per-address limit at once, the others after the time-out.
    for (int fd : slow) {
        EXPECT_TRUE(closedByServer(fd, 4000));
        close(fd);
    }
    // The web server counts a connection against its address until its next
    // clean-up, a moment after it closed it.
    EXPECT_TRUE(eventually([&] { return answersStatus(node.port()); }, std::chrono::seconds(2),
                           std::chrono::milliseconds(20)));
}

// 32 slow clients from four addresses, each trickling a header byte a
// quarter second (never silent for the time-out): an address holds no more
// than its share, a technician is answered meanwhile, and every slow one is
// cut at the deadline.
TEST(StatusServer, TricklingClientsAreCutInTimeAndLeaveRoomForATechnician)
{
    ENTER_OWN_NAMESPACE();
    StatusServer::Options options;
    options.timeout_s = 1;
    options.request_deadline_s = 2;
    ServedNode node(options);
    const std::string header = "GET / HTTP/1.1\r\nHost: node\r\nX-Slow: " + std::string(100, 'a');
    std::vector<int> slow;
    for (int i = 0; i < 32; ++i)
        slow.push_back(httpConnect(node.port(), "127.0.0." + std::to_string(2 + i % 4)));
    std::atomic<bool> done{false};
    std::thread trickler([&] {
        for (size_t next = 0; !done; ++next, std::this_thread::sleep_for(std::chrono::milliseconds(250)))
            for (const int fd : slow)
                send(fd, &header[next % header.size()], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long held = std::count_if(slow.begin(), slow.end(), [](int fd) { return !closedByServer(fd, 0); });
    EXPECT_LE(held, 4 * static_cast<long>(options.per_address_limit));
    EXPECT_EQ(httpGet(node.port(), "/api/status", 2000).status, 200) << held << " held";
    for (const int fd : slow)
        EXPECT_TRUE(closedByServer(fd, 3500)); // the deadline, a sweep and slack
    done = true;
    trickler.join();
    std::for_each(slow.begin(), slow.end(), close);
}

TEST(StatusServer, TenThousandRequestsLeaveMemoryFlat)
{
    ENTER_OWN_NAMESPACE();
    ServedNode node;
    ASSERT_TRUE(node.server->running());
    const char* paths[] = {"/api/status", "/preview.png", "/", "/thumbnail/3.png"};
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(httpGet(node.port(), paths[i % 4]).status, 200);
    const long long before = StatusReporter::residentBytes();
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(httpGet(node.port(), paths[i % 4]).status, 200) << "request " << i;
#ifndef __SANITIZE_ADDRESS__ // it holds freed memory back, and finds leaks itself
    EXPECT_LT(StatusReporter::residentBytes() - before, 4LL << 20);
#else
    (void)before;
#endif
}

} // namespace

namespace {

const std::string kToken = "a-shared-secret-of-the-rig";

// A node with the admin API on, its textures folder a temporary one and its
// geometry in memory.
struct AdminNode {
    explicit AdminNode(StatusServer::Options options = {}, const std::string& token = kToken)
    {
        options.admin.token = token;
        options.admin.textures_folder = dir.path();
        options.admin.upload_limit_bytes = 1 << 20;
        options.admin.geometry = [this] { return geometry; };
        options.admin.store_geometry = [this](const Geometry& changed, std::string*) {
            geometry = changed;
            return true;
        };
        node = std::make_unique<ServedNode>(options);
    }
    int port() const { return node->port(); }
    // Every name in the folder, sorted.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        if (DIR* folder = opendir(dir.path().c_str())) {
            while (const dirent* entry = readdir(folder))
                if (entry->d_name[0] != '.' || std::string(entry->d_name).size() > 2)
                    names.push_back(entry->d_name);
            closedir(folder);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    Geometry geometry; // the server's thread only, while it runs
    std::unique_ptr<ServedNode> node;
};

std::string pngBytes()
{
    const unsigned char red[3] = {255, 0, 0};
    const std::vector<unsigned char> png = StatusServer::encodePng(red, 1, 1, 3);
    return std::string(png.begin(), png.end());
}

std::string put(const std::string& path, const std::string& body, const std::string& extra = "",
                size_t length = std::string::npos)
{
    return "PUT " + path + " HTTP/1.1\r\nHost: node\r\nConnection: close\r\n" + extra + "Content-Length: " +
           std::to_string(length == std::string::npos ? body.size() : length) + "\r\n\r\n" + body;
}

const std::string kAuth = "Authorization: Bearer " + kToken + "\r\n";

// Each case from an address of its own: a wrong token costs only its sender.
TEST(StatusServer, HostileUploadsAreRefusedAndLeaveNothing)
{
    ENTER_OWN_NAMESPACE();
    StatusServer::Options options;
    options.timeout_s = 1;
    AdminNode node(options);
    ASSERT_TRUE(node.node->server->running());
    const std::string png = pngBytes();
    const std::string mp4("\0\0\0\x18" "ftypisom\0\0\0\0\0\0\0\0\0\0\0\0", 24);
    constexpr int kNoAnswer = 0;
    const struct {
        const char* name;
        std::string request;
        int status;
        std::vector<std::string> files_after;
    } cases[] = {
        {"a PNG", put("/api/admin/textures/007.png", png, kAuth), 201, {"007.png"}},
        {"no token", put("/api/admin/textures/008.png", png), 401, {"007.png"}},
        {"a wrong token", put("/api/admin/textures/008.png", png, "Authorization: Bearer " + kToken + "x\r\n"), 401,
         {"007.png"}},
        {"the token in the query", put("/api/admin/textures/008.png?token=" + kToken, png), 400, {"007.png"}},
        {"from another origin", put("/api/admin/textures/008.png", png, kAuth + "Origin: http://evil.example\r\n"),
         403, {"007.png"}},
        {"OPTIONS", "OPTIONS /api/admin/textures/008.png HTTP/1.1\r\nHost: node\r\n" + kAuth + "\r\n", 405,
         {"007.png"}},
        {"slot 256", put("/api/admin/textures/256.png", png, kAuth), 400, {"007.png"}},
        {"../ in the name", put("/api/admin/textures/../008.png", png, kAuth), 400, {"007.png"}},
        {"%2e%2e in the name", put("/api/admin/textures/%2e%2e/008.png", png, kAuth), 400, {"007.png"}},
        {"a .png that is an MP4", put("/api/admin/textures/008.png", mp4, kAuth), 415, {"007.png"}},
        {"a body longer than its length", put("/api/admin/textures/008.png", png, kAuth, png.size() - 4), 400,
         {"007.png"}},
        {"a body shorter than its length", put("/api/admin/textures/008.png", png, kAuth, png.size() + 100),
         kNoAnswer, {"007.png"}},
        {"past the limit", put("/api/admin/textures/008.png", "", kAuth, 2 << 20), 413, {"007.png"}},
        {"no length", "PUT /api/admin/textures/008.png HTTP/1.1\r\nHost: node\r\nTransfer-Encoding: chunked\r\n" +
                          kAuth + "\r\n0\r\n\r\n", 411, {"007.png"}},
        {"an MP4 over the slot's PNG", put("/api/admin/textures/007.mp4", mp4, kAuth), 201, {"007.mp4"}},
        {"DELETE without a token", "DELETE /api/admin/textures/007.mp4 HTTP/1.1\r\nHost: node\r\n\r\n", 401,
         {"007.mp4"}},
        {"DELETE", "DELETE /api/admin/textures/007.mp4 HTTP/1.1\r\nHost: node\r\n" + kAuth + "\r\n", 204, {}},
        {"PUT on the read-only page", put("/api/status", png, kAuth), 405, {}},
    };
    int sender = 10;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = httpExchange(node.port(), c.request, 4000, "127.0.0." + std::to_string(sender++));
        EXPECT_EQ(reply.status, c.status) << reply.headers << "\n" << reply.body;
        EXPECT_EQ(node.files(), c.files_after); // nor any temporary file
    }
}

// Two uploads at most, one per slot; each of the held ones completes.
TEST(StatusServer, UploadsAtOnceAreBoundedAndOnePerSlot)
{
    ENTER_OWN_NAMESPACE();
    AdminNode node;
    const std::string png = pngBytes();
    std::vector<int> held;
    for (const char* slot : {"001", "002"}) {
        const std::string request = put("/api/admin/textures/" + std::string(slot) + ".png", png, kAuth);
        held.push_back(httpConnect(node.port()));
        ASSERT_GT(send(held.back(), request.data(), request.size() - 10, MSG_NOSIGNAL), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(httpExchange(node.port(), put("/api/admin/textures/001.gif", png, kAuth)).status, 409);
    EXPECT_EQ(httpExchange(node.port(), put("/api/admin/textures/003.png", png, kAuth)).status, 503);
    for (const int fd : held) {
        ASSERT_EQ(send(fd, png.data() + png.size() - 10, 10, MSG_NOSIGNAL), 10);
        EXPECT_TRUE(closedByServer(fd, 3000));
        close(fd);
    }
    EXPECT_EQ(node.files(), (std::vector<std::string>{"001.png", "002.png"}));
    EXPECT_EQ(readFile(node.dir.file("001.png")), png);
    EXPECT_EQ(httpExchange(node.port(), put("/api/admin/textures/003.png", png, kAuth)).status, 201);
}

// Never past the free space less 5 %, to the byte; a disk filled by
// something else while the body arrives answers 507 and keeps nothing. The
// textures folder is a tmpfs of 1 MiB in a mount namespace of this thread's.
TEST(StatusServer, UploadsLeaveTheDiskItsReserveAndNothingWhenItFills)
{
    ENTER_OWN_NAMESPACE();
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        GTEST_SKIP() << "no mount namespace of the test's own: " << std::strerror(errno);
    AdminNode node;
    const std::string folder = node.dir.path();
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted: " << std::strerror(errno);
    const std::unique_ptr<const char, void (*)(const char*)> mounted(folder.c_str(),
                                                                     [](const char* at) { umount2(at, MNT_DETACH); });
    const auto room = [&] { // free less 5 %, as the server reckons it
        struct statvfs disk{};
        statvfs(folder.c_str(), &disk);
        return uint64_t(disk.f_bavail) * disk.f_frsize - uint64_t(disk.f_blocks) * disk.f_frsize / 20;
    };
    const auto upload = [](uint64_t size) {
        std::string mp4("\0\0\0\x18" "ftypisom", 12);
        mp4.resize(size, '\0');
        return put("/api/admin/textures/009.mp4", mp4, kAuth);
    };
    EXPECT_EQ(httpExchange(node.port(), upload(room() + 1)).status, 507);
    EXPECT_EQ(httpExchange(node.port(), upload(room())).status, 201);
    ASSERT_EQ(unlink(node.dir.file("009.mp4").c_str()), 0);

    const uint64_t before = room();
    const std::string request = upload(before / 2);
    const size_t half = request.size() / 2;
    const int fd = httpConnect(node.port());
    ASSERT_EQ(send(fd, request.data(), half, MSG_NOSIGNAL), static_cast<ssize_t>(half));
    ASSERT_TRUE(eventually([&] { return before - room() + 8192 >= half; })); // the first half written
    std::ofstream(folder + "/filler") << std::string(1 << 20, '\0');
    const HttpReply reply = httpFinish(fd, request.substr(half));
    EXPECT_EQ(reply.status, 507) << reply.body;
    EXPECT_EQ(node.files(), (std::vector<std::string>{"filler"}));
}

// A refused body changes nothing; a good one is applied as a whole.
TEST(StatusServer, GeometryFromTheApiIsCheckedBeforeItIsApplied)
{
    ENTER_OWN_NAMESPACE();
    AdminNode node;
    const std::string path = "/api/admin/geometry";
    const struct {
        const char* name;
        std::string body;
        int status;
        double blend_left_after;
    } cases[] = {
        {"a blend width", R"({"BLEND_LEFT": 0.25, "TEST_PATTERN": true})", 200, 0.25},
        {"an unknown key", R"({"BLEND_LEFT": 0.1, "BLEND_MIDDLE": 0.1})", 400, 0.25},
        {"a number as text", R"({"BLEND_LEFT": "0.1"})", 400, 0.25},
        {"out of range", R"({"BLEND_LEFT": 7})", 400, 0.25},
        {"a crossed warp", R"({"BLEND_LEFT": 0.1, "WARP": [[0,0],[1,1],[1,0],[0,1]]})", 400, 0.25},
        {"no JSON", "BLEND_LEFT=0.1", 400, 0.25},
        {"a warp", R"({"WARP": [[0.1,0],[1,0],[1,1],[0,1]]})", 200, 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = httpExchange(node.port(), put(path, c.body, kAuth));
        EXPECT_EQ(reply.status, c.status) << reply.body;
        const HttpReply now = httpExchange(
            node.port(), "GET " + path + " HTTP/1.1\r\nHost: node\r\nConnection: close\r\n" + kAuth + "\r\n");
        ASSERT_EQ(now.status, 200);
        EXPECT_EQ(nlohmann::json::parse(now.body)["BLEND_LEFT"], c.blend_left_after);
        EXPECT_TRUE(nlohmann::json::parse(now.body)["TEST_PATTERN"].get<bool>());
    }
    EXPECT_EQ(httpGet(node.port(), path).status, 401);
}

// A file sent to the rig is stored here, then reaches each other node with
// this node's token; one that holds another token refuses it and says so.
TEST(StatusServer, AnUploadToTheRigReachesEachNodeThatSharesTheToken)
{
    ENTER_OWN_NAMESPACE();
    StatusServer::Options at;
    at.port = 8090;
    at.bind_address = "127.0.0.2";
    AdminNode other(at);
    at.bind_address = "127.0.0.3";
    AdminNode stranger(at, "another-rig-secret-0000");
    StatusServer::Options options;
    options.admin.page_port = at.port;
    options.admin.rig = [] {
        return std::vector<RigList::Node>{{0x7F000002, "other", ""}, {0x7F000003, "stranger", ""}};
    };
    AdminNode here(options);
    const std::string png = pngBytes();
    ASSERT_EQ(httpExchange(here.port(), put("/api/admin/rig/textures/005.png", png, kAuth)).status, 201);
    const std::string ask = "GET /api/admin/rig/uploads HTTP/1.1\r\nHost: node\r\nConnection: close\r\n" + kAuth + "\r\n";
    nlohmann::json progress;
    ASSERT_TRUE(eventually([&] {
        progress = nlohmann::json::parse(httpExchange(here.port(), ask).body, nullptr, false);
        return progress.is_array() && progress.size() == 2 && progress[1]["done"] == true;
    }, std::chrono::seconds(10))) << progress.dump();
    EXPECT_EQ(progress[0]["status"], 201) << progress.dump();
    EXPECT_EQ(progress[1]["status"], 401);
    EXPECT_EQ(readFile(other.dir.file("005.png")), png);
    EXPECT_EQ(stranger.files(), std::vector<std::string>{});
    EXPECT_EQ(here.files(), std::vector<std::string>{"005.png"});
}

} // namespace
