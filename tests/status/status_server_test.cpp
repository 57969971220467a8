// The status page's web server against real sockets, in a namespace of the
// test's own: what a stray or hostile client gets, and that it costs the
// node neither its answers nor memory.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "status/status_reporter.h"
#include "status/status_server.h"
#include "support/http_client.h"
#include "support/net_namespace.h"

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
    EXPECT_TRUE(answersStatus(node.port()));
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
