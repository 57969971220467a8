#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "network/citp/citp_message_parser.h"

namespace Spectrafox {

// One desk's TCP connection, without blocking: what it sent and has not
// made a message yet (bounded by the largest request), the requests waiting
// their answers, and the bytes waiting to go out (bounded; layer status is
// dropped rather than queued behind a desk that does not read).
class CitpDeskConnection {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kMessageDeadline{30};
    // Answers are made only while less than this waits to go out.
    static constexpr size_t kAnswerRoom = 256 * 1024;
    // A desk with this much unread is cut off.
    static constexpr size_t kMostQueuedBytes = 2 * 1024 * 1024;

    CitpDeskConnection(int fd, Clock::time_point now);
    ~CitpDeskConnection();
    CitpDeskConnection(const CitpDeskConnection&) = delete;
    CitpDeskConnection& operator=(const CitpDeskConnection&) = delete;

    int fd() const { return socket_fd; }
    Clock::time_point connectedAt() const { return connected_at; }
    // 0 until the desk has said which versions it speaks.
    uint16_t version() const { return msex_version; }
    void setVersion(uint16_t version) { msex_version = version; }

    // Reads what the socket has; false when the desk closed, the stream is
    // not CITP, or a message has been coming for too long.
    bool readAvailable(Clock::time_point now);
    // A message begun 30 s ago, a connection that settled no version for as
    // long, or a desk that has taken nothing of what waits for 30 s.
    bool timedOut(Clock::time_point now) const;
    // The next whole request, if any; *refused when it is one to Nack.
    bool takeRequest(MsexRequest* request, bool* refused);
    // A request taken back to be answered later (a part of it is done).
    void putBack(MsexRequest request) { requests.push_front({std::move(request), false}); }
    // Requests are read only while the answers before them have gone out.
    bool wantsInput() const { return requests.empty() && queued < kAnswerRoom; }
    bool hasRoomForAnswers() const { return queued < kAnswerRoom; }

    void queue(std::string message);
    // The desk has left so much unread that it is cut off.
    bool overflowing() const { return queued > kMostQueuedBytes; }
    // Layer status: dropped while anything waits to go out.
    void queueIfIdle(std::string message);
    bool wantsOutput() const { return !outgoing.empty(); }
    // Sends what the socket takes; false when the connection broke.
    bool writeAvailable(Clock::time_point now);

private:
    struct Pending {
        MsexRequest request;
        bool refused = false;
    };
    void takeMessages(Clock::time_point now);

    int socket_fd;
    Clock::time_point connected_at;
    uint16_t msex_version = 0;
    std::vector<uint8_t> incoming;
    Clock::time_point started_message;
    bool broken = false;
    std::deque<std::string> outgoing;
    size_t sent_of_first = 0;
    Clock::time_point last_sent; // or when nothing waited to go out
    size_t queued = 0;
    // Taken from the stream, not yet answered (GETh of many elements is
    // answered one element at a time, as room allows).
    std::deque<Pending> requests;
};

} // namespace Spectrafox
