#pragma once

#include <string>

namespace Spectrafox::Test {

// One HTTP exchange over loopback, byte for byte as given.
struct HttpReply {
    int status = 0;          // 0: no status line came back
    std::string headers;     // the status line and headers
    std::string body;
};

// Connects to 127.0.0.1:port, sends `request` whole and reads until the
// server closes or timeout_ms pass; from another loopback address
// (127.0.0.x) when `from` is given.
HttpReply httpExchange(int port, const std::string& request, int timeout_ms = 5000, const std::string& from = "");
// "GET path HTTP/1.1" with Host and Connection: close.
HttpReply httpGet(int port, const std::string& path, int timeout_ms = 5000);
// A connected socket (or -1), for clients that hold a connection open;
// from another loopback address (127.0.0.x) when `from` is given.
int httpConnect(int port, const std::string& from = "");
// Sends the rest of a request on a connection from httpConnect, reads the
// reply until the server closes or timeout_ms pass, and closes `fd`.
HttpReply httpFinish(int fd, const std::string& rest, int timeout_ms = 5000);
// True when the server closed `fd` within timeout_ms (reads and drops any bytes).
bool closedByServer(int fd, int timeout_ms);

} // namespace Spectrafox::Test
