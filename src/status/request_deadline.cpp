#include "status/request_deadline.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
// How late past its deadline a request may be cut.
constexpr std::chrono::milliseconds kSweepPeriod{250};
} // namespace

struct RequestDeadline::Connection {
    RequestDeadline& owner;
    int fd;                  // our duplicate
    Clock::time_point since; // when the request's time started
    bool answering = false;
    bool shut = false;
};

RequestDeadline::RequestDeadline(std::chrono::milliseconds request_limit)
    : limit(request_limit), sweeper(&RequestDeadline::sweep, this)
{
}

RequestDeadline::~RequestDeadline()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    sweeper.join();
    for (Connection* connection : connections) {
        ::close(connection->fd);
        delete connection;
    }
}

RequestDeadline::Connection* RequestDeadline::opened(int fd)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        return nullptr;
    auto* connection = new Connection{*this, own, Clock::now()};
    std::lock_guard<std::mutex> lock(mutex);
    connections.insert(connection);
    return connection;
}

void RequestDeadline::answering(Connection* connection)
{
    if (!connection)
        return;
    std::lock_guard<std::mutex> lock(connection->owner.mutex);
    connection->answering = true;
}

void RequestDeadline::answered(Connection* connection)
{
    if (!connection)
        return;
    std::lock_guard<std::mutex> lock(connection->owner.mutex);
    connection->answering = false;
    connection->since = Clock::now();
}

void RequestDeadline::closed(Connection* connection)
{
    if (!connection)
        return;
    {
        std::lock_guard<std::mutex> lock(connection->owner.mutex);
        connection->owner.connections.erase(connection);
    }
    ::close(connection->fd);
    delete connection;
}

void RequestDeadline::sweep()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!wake.wait_for(lock, kSweepPeriod, [this] { return stopping; }))
        shutLateOnes(Clock::now());
}

// Both ways: the server reads the end of the stream and closes the
// connection, and the client learns it at once.
void RequestDeadline::shutLateOnes(Clock::time_point now)
{
    for (Connection* connection : connections) {
        if (connection->answering || connection->shut || now - connection->since < limit)
            continue;
        ::shutdown(connection->fd, SHUT_RDWR);
        connection->shut = true;
    }
}

} // namespace Spectrafox
