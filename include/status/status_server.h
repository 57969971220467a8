#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "status/node_status.h"
#include "status/request_deadline.h"
#include "status/status_board.h"

struct MHD_Daemon;

namespace Spectrafox {

// The read-only status page: GET and HEAD of "/", "/api/status",
// "/preview.png" and "/thumbnail/N.png" (and "/manual" and "/fixture.gdtf"
// where they were read at start-up), all made from memory (no request
// reaches the file system). One event-driven thread of libmicrohttpd serves
// every connection, with bounded connections, request sizes and time-outs
// (of silence, and a deadline for the whole request), so a slow or hostile
// client costs a socket and a few KiB, never a frame.
class StatusServer {
public:
    struct Options {
        int port = 0;
        std::string bind_address; // IPv4 dotted quad; empty: every interface
        unsigned int connection_limit = 32;
        // A browser opens up to six connections to one server; a few
        // addresses of slow clients leave most of the rest free.
        unsigned int per_address_limit = 6;
        unsigned int timeout_s = 5; // of silence
        // From a connection's start (or its last answer) to the whole
        // request, however it trickles.
        unsigned int request_deadline_s = 10;
        size_t request_memory = 16 * 1024; // headers beyond this are refused
    };

    StatusServer(Options options, const NodeSources& sources, StatusBoard& board);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // False (with the reason in error()) when the port could not be had.
    bool running() const { return daemon != nullptr; }
    const std::string& error() const { return failure; }
    // The port in use (useful with port 0 in tests).
    int port() const;

    // A PNG of RGB (3) or RGBA (4) pixels, top row first.
    static std::vector<unsigned char> encodePng(const unsigned char* pixels, int width, int height,
                                                int components);

    struct Reply {
        int status = 200;
        const char* content_type = "text/plain; charset=utf-8";
        std::string body;
    };
    // The answer to a GET of `url`, on the server's thread.
    Reply answer(const std::string& url);

private:
    Reply previewPng();
    Reply thumbnailPng(const std::string& number);

    const NodeSources& sources;
    StatusBoard& board;
    // Outlives the daemon, whose connections it watches.
    std::unique_ptr<RequestDeadline> request_deadline;
    MHD_Daemon* daemon = nullptr;
    std::string failure;
    // The server's one thread only: the last preview encoded, by generation.
    long encoded_generation = -1;
    std::string encoded_preview;
};

} // namespace Spectrafox
