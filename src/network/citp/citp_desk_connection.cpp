#include "network/citp/citp_desk_connection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace Spectrafox {

CitpDeskConnection::CitpDeskConnection(int fd, Clock::time_point now)
    : socket_fd(fd), connected_at(now), started_message(now), last_sent(now)
{
}

CitpDeskConnection::~CitpDeskConnection()
{
    close(socket_fd);
}

bool CitpDeskConnection::readAvailable(Clock::time_point now)
{
    uint8_t buffer[16384];
    for (;;) {
        // Never more than one largest request is held unparsed.
        const size_t room = Citp::kMostRequestBytes - incoming.size();
        const ssize_t got = recv(socket_fd, buffer, room < sizeof buffer ? room : sizeof buffer, MSG_DONTWAIT);
        if (got == 0)
            return false;
        if (got < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        if (incoming.empty())
            started_message = now;
        incoming.insert(incoming.end(), buffer, buffer + got);
        takeMessages(now);
        if (broken)
            return false;
        if (!requests.empty())
            return true; // the rest waits until these are answered
    }
}

void CitpDeskConnection::takeMessages(Clock::time_point now)
{
    size_t used = 0;
    while (!broken) {
        size_t size = 0;
        const auto framing = CitpMessageParser::frame(incoming.data() + used, incoming.size() - used, &size);
        if (framing == CitpMessageParser::Framing::Broken)
            broken = true;
        if (framing != CitpMessageParser::Framing::Complete)
            break;
        Pending pending;
        const auto outcome = CitpMessageParser::parse(incoming.data() + used, size, &pending.request);
        // Another layer's message needs no answer; an MSEX one we do not serve gets its Nack.
        pending.refused = outcome != CitpMessageParser::Outcome::Request;
        if (outcome != CitpMessageParser::Outcome::NotMsex)
            requests.push_back(std::move(pending));
        used += size;
        started_message = now;
    }
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<long>(used));
}

bool CitpDeskConnection::timedOut(Clock::time_point now) const
{
    const bool waiting = !incoming.empty() || msex_version == 0;
    const bool stalled = !outgoing.empty() && now - last_sent > kMessageDeadline;
    return stalled || (waiting && now - started_message > kMessageDeadline);
}

bool CitpDeskConnection::takeRequest(MsexRequest* request, bool* refused)
{
    if (requests.empty())
        return false;
    *request = std::move(requests.front().request);
    *refused = requests.front().refused;
    requests.pop_front();
    return true;
}

void CitpDeskConnection::queue(std::string message)
{
    queued += message.size();
    outgoing.push_back(std::move(message));
}

void CitpDeskConnection::queueIfIdle(std::string message)
{
    if (outgoing.empty())
        queue(std::move(message));
}

bool CitpDeskConnection::writeAvailable(Clock::time_point now)
{
    if (outgoing.empty())
        last_sent = now;
    while (!outgoing.empty()) {
        const std::string& first = outgoing.front();
        const ssize_t sent =
            send(socket_fd, first.data() + sent_of_first, first.size() - sent_of_first, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        last_sent = now;
        sent_of_first += static_cast<size_t>(sent);
        queued -= static_cast<size_t>(sent);
        if (sent_of_first < first.size())
            return true;
        outgoing.pop_front();
        sent_of_first = 0;
    }
    return true;
}

} // namespace Spectrafox
