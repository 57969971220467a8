#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "network/datagram_socket.h"

namespace Spectrafox::Test {

// A socket without a network: the test hands in datagrams, the receiver's
// thread takes them, and what it sends is recorded. A receive waits up to
// kReceiveWait for a datagram: far longer than a test, so a receiver that
// forgets to wake its socket shows as a slow shutdown. Time-outs come only
// from deliverTimeout.
class FakeDatagramSocket : public DatagramSocket {
public:
    static constexpr std::chrono::milliseconds kReceiveWait{10000};

    struct Sent {
        std::vector<uint8_t> bytes;
        Peer destination;
    };

    long receive(uint8_t* buffer, std::size_t size, Peer* source) override;
    void send(const uint8_t* data, std::size_t size, const Peer& destination) override;
    void wake() override;

    void deliver(const std::vector<uint8_t>& bytes, Peer source);
    // The next receive returns as a timed-out one does, without data.
    void deliverTimeout();
    // True once every delivered datagram was handled: the queue is empty
    // and the receiver waits in receive again. False after `limit`.
    bool waitUntilIdle(std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
    std::vector<Sent> sent() const;
    bool woken() const;

private:
    struct Incoming {
        std::vector<uint8_t> bytes;
        Peer source;
        bool timeout = false;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Incoming> queue;
    std::vector<Sent> sent_datagrams;
    bool waiting = false;
    bool wake_requested = false;
};

// A steady clock that moves only when told.
class FakeClock {
public:
    using Clock = std::chrono::steady_clock;

    Clock::time_point now() const;
    void advance(std::chrono::milliseconds step);

private:
    mutable std::mutex mutex;
    Clock::time_point current{std::chrono::hours(1)};
};

} // namespace Spectrafox::Test
