#include "support/fake_datagram_socket.h"

#include <algorithm>

namespace Spectrafox::Test {

long FakeDatagramSocket::receive(uint8_t* buffer, std::size_t size, Peer* source)
{
    std::unique_lock<std::mutex> lock(mutex);
    waiting = true;
    changed.notify_all();
    changed.wait_for(lock, kReceiveWait, [&] { return wake_requested || !queue.empty(); });
    waiting = false;
    if (wake_requested)
        return 0;
    if (queue.empty())
        return -1;
    Incoming next = std::move(queue.front());
    queue.pop_front();
    if (next.timeout)
        return -1;
    *source = next.source;
    const std::size_t length = std::min(size, next.bytes.size());
    std::copy_n(next.bytes.begin(), length, buffer);
    return static_cast<long>(length);
}

void FakeDatagramSocket::send(const uint8_t* data, std::size_t size, const Peer& destination)
{
    std::lock_guard<std::mutex> lock(mutex);
    sent_datagrams.push_back({std::vector<uint8_t>(data, data + size), destination});
}

void FakeDatagramSocket::wake()
{
    std::lock_guard<std::mutex> lock(mutex);
    wake_requested = true;
    changed.notify_all();
}

void FakeDatagramSocket::deliver(const std::vector<uint8_t>& bytes, Peer source)
{
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back({bytes, source, false});
    changed.notify_all();
}

void FakeDatagramSocket::deliverTimeout()
{
    std::lock_guard<std::mutex> lock(mutex);
    queue.push_back({{}, {}, true});
    changed.notify_all();
}

bool FakeDatagramSocket::waitUntilIdle(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return waiting && queue.empty(); });
}

std::vector<FakeDatagramSocket::Sent> FakeDatagramSocket::sent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return sent_datagrams;
}

bool FakeDatagramSocket::woken() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return wake_requested;
}

FakeClock::Clock::time_point FakeClock::now() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return current;
}

void FakeClock::advance(std::chrono::milliseconds step)
{
    std::lock_guard<std::mutex> lock(mutex);
    current += step;
}

} // namespace Spectrafox::Test
