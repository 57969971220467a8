// Art-Net receive path under load, over loopback. Run it in a private network
// namespace (scripts/in-netns.sh build/bench/artnet_receiver_bench): it binds
// UDP port 6454 and reads that namespace's UDP counters.
//
// 1. Throughput: a sender floods ArtDmx (512 channels) as fast as it can; we
//    count the datagrams taken off the socket per second, by the receiver
//    (parse + channel map onto a group of 25 canvases) and by a bare receive
//    loop on the same kind of socket, alternating, best of three rounds each.
//    On a machine where one sender cannot outpace either reader, both
//    figures are the sender's rate and the ratio shows that the receiver
//    keeps up; the parse + map figure shows its own headroom.
// 2. Loss: a steady 10,000 packets/s for 10 s into the receiver while frames
//    render, as in the running program.
// 3. and 4. The same for E1.31 on port 5568: the sACN receiver (parse, source
//    merge and channel map onto the group) against a bare receive loop, then
//    a steady 10,000 packets/s from 4 sources for 10 s, where every packet
//    must reach the merge.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "network/artnet/artnet_packet_parser.h"
#include "artnet_receiver.h"
#include "network/dmx_channel_map.h"
#include "network/sacn/sacn_receiver.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"

using namespace Spectrafox;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr int kCanvases = 25;
constexpr int kRounds = 3;
constexpr auto kFloodTime = 3s;
constexpr int kSteadyRate = 10000;
constexpr auto kSteadyTime = 10s;

std::vector<uint8_t> artDmxPacket(uint8_t level)
{
    std::vector<uint8_t> packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0, 0x00, 0, 0x02, 0x00};
    packet.resize(18 + 512, level);
    return packet;
}

// The namespace's UDP counters from /proc/net/snmp.
std::map<std::string, long long> udpCounters()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp:", 0) != 0)
            continue;
        if (names.empty())
            names = line;
        else
            values = line;
    }
    std::istringstream n(names), v(values);
    std::map<std::string, long long> counters;
    std::string name, value;
    n >> name;
    v >> value;
    while (n >> name && v >> value)
        counters[name] = std::stoll(value);
    return counters;
}

int connectedSender(uint16_t port = 6454)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("sender socket");
        std::exit(1);
    }
    return fd;
}

struct Drained {
    long long read = 0;
    Clock::time_point when; // the last time the count moved
};

// Waits until the socket has been drained: the read counter stands still.
Drained readSoFarWhenIdle()
{
    Drained drained{udpCounters()["InDatagrams"], Clock::now()};
    for (int i = 0; i < 2000; ++i) {
        std::this_thread::sleep_for(1ms);
        const long long now = udpCounters()["InDatagrams"];
        if (now != drained.read)
            drained = {now, Clock::now()};
        else if (Clock::now() - drained.when > 50ms)
            break;
    }
    return drained;
}

struct Flood {
    long long sent = 0;
    long long read = 0;
    long long dropped = 0;
    double seconds = 0;
    double readPerSecond() const { return static_cast<double>(read) / seconds; }
};

// Sends as fast as one thread can for kFloodTime; counts what was read until
// the socket was drained, and how long that took.
Flood flood()
{
    const int fd = connectedSender();
    const std::vector<uint8_t> packet = artDmxPacket(200);
    auto before = udpCounters();
    Flood result;
    const auto start = Clock::now();
    // Batches of 64 per system call, so that the sender outpaces a receiver.
    std::vector<iovec> chunks(64, iovec{const_cast<uint8_t*>(packet.data()), packet.size()});
    std::vector<mmsghdr> batch(64);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        batch[i].msg_hdr.msg_iov = &chunks[i];
        batch[i].msg_hdr.msg_iovlen = 1;
    }
    while (Clock::now() - start < kFloodTime) {
        const int sent = ::sendmmsg(fd, batch.data(), static_cast<unsigned int>(batch.size()), 0);
        result.sent += sent > 0 ? sent : 0;
    }
    const Drained drained = readSoFarWhenIdle();
    result.seconds = std::chrono::duration<double>(std::max(drained.when, start + kFloodTime) - start).count();
    result.read = drained.read - before["InDatagrams"];
    result.dropped = udpCounters()["RcvbufErrors"] - before["RcvbufErrors"];
    ::close(fd);
    return result;
}

// The baseline: the same socket, receive and count, nothing else.
class BareLoop {
public:
    explicit BareLoop(uint16_t port = 6454)
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        any.sin_addr.s_addr = htonl(INADDR_ANY);
        // The same receive buffer as the receiver's socket.
        const int bytes = 4 << 20;
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
            (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            std::perror("bare loop socket");
            std::exit(1);
        }
        thread = std::thread([this] {
            uint8_t buffer[1024];
            while (!stop.load())
                (void)::recv(fd, buffer, sizeof buffer, 0);
        });
    }
    ~BareLoop()
    {
        stop.store(true);
        ::shutdown(fd, SHUT_RD);
        thread.join();
        ::close(fd);
    }

private:
    int fd = -1;
    std::atomic<bool> stop{false};
    std::thread thread;
};

void report(const char* what, const Flood& f)
{
    std::printf("  %-9s sent %9lld  read %9lld  dropped %9lld  -> %10.0f packets/s\n", what, f.sent,
                f.read, f.dropped, f.readPerSecond());
}

struct Steady {
    long long sent = 0, read = 0, dropped = 0;
    int frames = 0;
};

Steady steadyLoad(CanvasManager& manager, int group)
{
    ArtnetReceiver receiver(&manager, group, 0, 0, 1, 1.0f, -1);
    readSoFarWhenIdle(); // the receiver's own start-up reply
    const auto before = udpCounters();
    Steady result;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        const int fd = connectedSender();
        const auto interval = std::chrono::nanoseconds(1'000'000'000 / kSteadyRate);
        const long long total = kSteadyRate * std::chrono::duration_cast<std::chrono::seconds>(kSteadyTime).count();
        auto next = Clock::now();
        for (long long i = 0; i < total; ++i) {
            const std::vector<uint8_t> packet = artDmxPacket(static_cast<uint8_t>(i));
            std::this_thread::sleep_until(next);
            result.sent += ::send(fd, packet.data(), packet.size(), 0) > 0;
            next += interval;
        }
        ::close(fd);
        sending.store(false);
    });
    while (sending.load()) {
        manager.renderFrame();
        ++result.frames;
    }
    sender.join();
    result.read = readSoFarWhenIdle().read - before.at("InDatagrams");
    result.dropped = udpCounters()["RcvbufErrors"] - before.at("RcvbufErrors");
    return result;
}

// The receiver's own work per packet, without the socket: parse the ArtDmx
// and map it onto the group. An upper bound for what the listener can take.
double processingOnlyPerSecond(CanvasManager& manager, int group)
{
    const ArtnetPacketParser parser(0, 0);
    const DmxChannelMap map(1, 1.0f);
    Artnet::DmxUniverse dmx512{};
    std::vector<uint8_t> packet = artDmxPacket(0);
    constexpr int kPackets = 200000;
    const auto start = Clock::now();
    for (int i = 0; i < kPackets; ++i) {
        packet[18 + i % 500] = static_cast<uint8_t>(i);
        if (parser.parse(packet.data(), static_cast<long>(packet.size()), dmx512).channels_updated)
            map.apply(dmx512, manager.getCanvasGroup(group), manager.getScreenRatio());
    }
    return kPackets / std::chrono::duration<double>(Clock::now() - start).count();
}

// An E1.31 data packet of universe 1 with 512 slots, from source `source`.
std::vector<uint8_t> sacnPacket(uint8_t source, uint8_t sequence, uint8_t level)
{
    std::vector<uint8_t> p(638, level);
    const uint8_t head[126] = {
        0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0,
        0x72, 0x6e, 0, 0, 0, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, source,
        0x72, 0x58, 0, 0, 0, 2, 'b', 'e', 'n', 'c', 'h'};
    std::copy(std::begin(head), std::end(head), p.begin());
    std::fill(p.begin() + 49, p.begin() + 108, 0);
    p[108] = 100;                   // priority
    p[109] = 0, p[110] = 0;         // synchronization address
    p[111] = sequence;
    p[112] = 0;                     // options
    p[113] = 0, p[114] = 1;         // universe 1
    const uint8_t dmp[] = {0x72, 0x0b, 0x02, 0xa1, 0, 0, 0, 1, 0x02, 0x01, 0x00};
    std::copy(std::begin(dmp), std::end(dmp), p.begin() + 115);
    return p;
}

// The sACN receiver's own path, the channel map onto the group included.
SacnReceiver::Setup sacnSetup(CanvasManager& manager, int group, const DmxChannelMap& map)
{
    SacnReceiver::Setup setup;
    setup.universe = 1;
    setup.report = [](const std::string& line) { std::printf("  %s\n", line.c_str()); };
    setup.on_channels = [&manager, group, &map](const Artnet::DmxUniverse& merged, int) {
        map.apply(merged, manager.getCanvasGroup(group), manager.getScreenRatio());
    };
    return setup;
}

// As flood(), with E1.31 whose sequence numbers count up, so none is late.
Flood floodSacn()
{
    const int fd = connectedSender(5568);
    std::vector<std::vector<uint8_t>> packets;
    for (int i = 0; i < 256; ++i)
        packets.push_back(sacnPacket(1, static_cast<uint8_t>(i), 200));
    auto before = udpCounters();
    Flood result;
    const auto start = Clock::now();
    std::vector<iovec> chunks(64);
    std::vector<mmsghdr> batch(64);
    long long next = 0;
    while (Clock::now() - start < kFloodTime) {
        for (std::size_t i = 0; i < batch.size(); ++i) {
            std::vector<uint8_t>& packet = packets[static_cast<std::size_t>((next + i) % 256)];
            chunks[i] = iovec{packet.data(), packet.size()};
            batch[i].msg_hdr = msghdr{};
            batch[i].msg_hdr.msg_iov = &chunks[i];
            batch[i].msg_hdr.msg_iovlen = 1;
        }
        const int sent = ::sendmmsg(fd, batch.data(), static_cast<unsigned int>(batch.size()), 0);
        next += sent > 0 ? sent : 0;
    }
    result.sent = next;
    const Drained drained = readSoFarWhenIdle();
    result.seconds = std::chrono::duration<double>(std::max(drained.when, start + kFloodTime) - start).count();
    result.read = drained.read - before["InDatagrams"];
    result.dropped = udpCounters()["RcvbufErrors"] - before["RcvbufErrors"];
    ::close(fd);
    return result;
}

struct SteadySacn {
    long long sent = 0, taken = 0, dropped = 0;
    int frames = 0;
};

// kSteadyRate packets/s in all, from 4 sources of equal priority taking turns.
SteadySacn steadySacn(CanvasManager& manager, int group)
{
    const DmxChannelMap map(1, 1.0f);
    SacnReceiver receiver(sacnSetup(manager, group, map));
    const auto before = udpCounters();
    SteadySacn result;
    std::atomic<bool> sending{true};
    std::thread sender([&] {
        constexpr int kSources = 4;
        int fds[kSources];
        for (int& fd : fds)
            fd = connectedSender(5568);
        const auto interval = std::chrono::nanoseconds(1'000'000'000 / kSteadyRate);
        const long long total = kSteadyRate * std::chrono::duration_cast<std::chrono::seconds>(kSteadyTime).count();
        auto next = Clock::now();
        for (long long i = 0; i < total; ++i) {
            const int source = static_cast<int>(i % kSources);
            const auto sequence = static_cast<uint8_t>(i / kSources);
            const std::vector<uint8_t> packet = sacnPacket(static_cast<uint8_t>(source + 1), sequence,
                                                           static_cast<uint8_t>(i));
            std::this_thread::sleep_until(next);
            result.sent += ::send(fds[source], packet.data(), packet.size(), 0) > 0;
            next += interval;
        }
        for (int fd : fds)
            ::close(fd);
        sending.store(false);
    });
    while (sending.load()) {
        manager.renderFrame();
        ++result.frames;
    }
    sender.join();
    readSoFarWhenIdle();
    result.taken = static_cast<long long>(receiver.packetsTaken());
    result.dropped = udpCounters()["RcvbufErrors"] - before.at("RcvbufErrors");
    return result;
}

void sacnBenchmarks(CanvasManager& manager, int group)
{
    std::printf("E1.31 throughput over loopback, %d-canvas group, %d s floods\n", kCanvases,
                static_cast<int>(kFloodTime.count()));
    const DmxChannelMap map(1, 1.0f);
    double best_bare = 0, best_receiver = 0;
    for (int round = 1; round <= kRounds; ++round) {
        std::printf(" round %d\n", round);
        Flood bare, mapped;
        {
            BareLoop loop(5568);
            bare = floodSacn();
        }
        {
            SacnReceiver receiver(sacnSetup(manager, group, map));
            mapped = floodSacn();
            std::printf("  (the merge took %llu)\n", static_cast<unsigned long long>(receiver.packetsTaken()));
        }
        report("bare", bare);
        report("sACN", mapped);
        best_bare = std::max(best_bare, bare.readPerSecond());
        best_receiver = std::max(best_receiver, mapped.readPerSecond());
    }
    const double ratio = best_receiver / best_bare;
    std::printf("best: bare loop %.0f packets/s, sACN receiver %.0f packets/s, ratio %.2f (target >= 0.80) %s\n",
                best_bare, best_receiver, ratio, ratio >= 0.8 ? "OK" : "BELOW TARGET");

    std::printf("steady %d E1.31 packets/s from 4 sources for %d s while frames render\n", kSteadyRate,
                static_cast<int>(kSteadyTime.count()));
    const SteadySacn steady = steadySacn(manager, group);
    const long long lost = steady.sent - steady.taken;
    std::printf("  sent %lld  merged %lld  lost %lld (socket buffer overflows %lld), %d frames rendered %s\n",
                steady.sent, steady.taken, lost, steady.dropped, steady.frames, lost == 0 ? "OK" : "LOSS");
}

} // namespace

int main(int argc, char** argv)
{
    // "sacn" runs only the E1.31 part.
    const bool sacn_only = argc > 1 && std::string(argv[1]) == "sacn";
    CanvasManager manager(DisplayOptions::headless(160, 90));
    const int group = manager.generateCanvasGroup(kCanvases, "CONTENT_EXAMPLE");
    if (sacn_only) {
        sacnBenchmarks(manager, group);
        return 0;
    }

    std::printf("ArtDmx throughput over loopback, %d-canvas group, %d s floods\n", kCanvases,
                static_cast<int>(kFloodTime.count()));
    double best_bare = 0, best_receiver = 0;
    for (int round = 1; round <= kRounds; ++round) {
        std::printf(" round %d\n", round);
        Flood bare, mapped;
        {
            BareLoop loop;
            bare = flood();
        }
        {
            ArtnetReceiver receiver(&manager, group, 0, 0, 1, 1.0f, -1);
            mapped = flood();
        }
        report("bare", bare);
        report("receiver", mapped);
        best_bare = std::max(best_bare, bare.readPerSecond());
        best_receiver = std::max(best_receiver, mapped.readPerSecond());
    }
    const double ratio = best_receiver / best_bare;
    std::printf("best: bare loop %.0f packets/s, receiver %.0f packets/s, ratio %.2f (target >= 0.80) %s\n",
                best_bare, best_receiver, ratio, ratio >= 0.8 ? "OK" : "BELOW TARGET");

    std::printf("parse + map onto %d canvases alone: %.0f packets/s\n", kCanvases,
                processingOnlyPerSecond(manager, group));

    std::printf("steady %d packets/s for %d s into the receiver while frames render\n", kSteadyRate,
                static_cast<int>(kSteadyTime.count()));
    const Steady steady = steadyLoad(manager, group);
    const long long lost = steady.sent - steady.read;
    std::printf("  sent %lld  read %lld  lost %lld (socket buffer overflows %lld), %d frames rendered %s\n",
                steady.sent, steady.read, lost, steady.dropped, steady.frames, lost == 0 ? "OK" : "LOSS");
    sacnBenchmarks(manager, group);
    return 0;
}
