#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace Spectrafox {

// A request must be in whole within `limit` of its connection's start (or
// of the previous answer on it), however slowly it trickles in: the web
// server's own time-out only counts silence, so a client sending a header
// byte a second would hold its connection for hours. A thread of its own
// looks a few times a second and shuts down the sockets of late requests;
// the server's thread then sees them end and closes them.
//
// The server's thread reports each connection's life through the calls
// below; the table is under `mutex`, which the sweep holds too. Each
// connection's socket is held through a duplicate descriptor of our own
// until it is closed, so a shut-down never reaches a reused number.
class RequestDeadline {
public:
    using Clock = std::chrono::steady_clock;
    struct Connection;

    explicit RequestDeadline(std::chrono::milliseconds limit);
    ~RequestDeadline();
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    // A new connection on socket `fd`; null when it cannot be watched (the
    // calls below take null too).
    Connection* opened(int fd);
    // Its request is in whole: no deadline while it is answered.
    static void answering(Connection* connection);
    // The answer is sent: the next request's time starts now.
    static void answered(Connection* connection);
    static void closed(Connection* connection);

private:
    void sweep();
    void shutLateOnes(Clock::time_point now);

    const std::chrono::milliseconds limit;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::unordered_set<Connection*> connections;
    std::thread sweeper;
};

} // namespace Spectrafox
