#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "status/admin_api.h"
#include "status/fixture_archive.h"
#include "status/node_status.h"
#include "status/request_deadline.h"
#include "status/status_board.h"

struct MHD_Daemon;

namespace Spectrafox {

// The read-only status page: GET and HEAD of "/", "/api/status",
// "/preview.png", "/thumbnail/N.png" and "/manual" (the operator's manual,
// built in like the page), all made from memory (no request reaches the file system), and
// "/fixture.gdtf", which reads the slots' own files (never a name from the
// request). One event-driven thread of libmicrohttpd serves every
// connection, with bounded connections, request sizes and time-outs (of
// silence, and a deadline for the whole request), so a slow or hostile
// client costs a socket and a few KiB, never a frame. With an admin token,
// "/api/admin/..." changes content and geometry (AdminApi); an upload, once
// its token is right, is held only to the time-out of silence, not to the
// deadline, since a large file takes longer than that.
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
        // The write API: off without a token (see AdminApi).
        AdminApi::Options admin;
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
    // The web server's thread only.
    AdminApi& admin() { return admin_api; }

private:
    Reply previewPng();
    Reply thumbnailPng(const std::string& number);
    Reply fixtureGdtf();

    const NodeSources& sources;
    StatusBoard& board;
    // Outlives the daemon, whose connections it watches.
    std::unique_ptr<RequestDeadline> request_deadline;
    MHD_Daemon* daemon = nullptr;
    std::string failure;
    // The server's one thread only: the last preview encoded, by generation.
    long encoded_generation = -1;
    std::string encoded_preview;
    FixtureArchive fixture; // the server's one thread only
    AdminApi admin_api;     // the server's one thread only
};

} // namespace Spectrafox
