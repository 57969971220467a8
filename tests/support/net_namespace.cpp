#include "support/net_namespace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Spectrafox::Test {

namespace {

int openCurrentNamespace()
{
    return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
}

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

} // namespace

NetNamespace::NetNamespace()
{
    const int previous = openCurrentNamespace();
    if (previous < 0) {
        why = std::string("cannot open this thread's network namespace: ") + std::strerror(errno);
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        why = std::string("cannot make a network namespace (needs root): ") + std::strerror(errno);
        ::close(previous);
        return;
    }
    ns_fd = openCurrentNamespace();
    if (!bringLoopbackUp())
        why = "cannot bring loopback up";
    if (::setns(previous, CLONE_NEWNET) != 0)
        std::abort(); // the test would go on in the wrong namespace
    ::close(previous);
    if (!why.empty() && ns_fd >= 0) {
        ::close(ns_fd);
        ns_fd = -1;
    }
}

NetNamespace::~NetNamespace()
{
    if (ns_fd >= 0)
        ::close(ns_fd);
}

std::string NetNamespace::path() const
{
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(ns_fd);
}

bool NetNamespace::run(const std::string& command) const
{
    const std::string line = "nsenter --net=" + path() + " sh -c '" + command + "'";
    return std::system(line.c_str()) == 0;
}

ScopedNetNamespace::ScopedNetNamespace(const NetNamespace& target)
    : previous_fd(openCurrentNamespace())
{
    if (previous_fd < 0 || ::setns(target.fd(), CLONE_NEWNET) != 0)
        std::abort();
}

ScopedNetNamespace::~ScopedNetNamespace()
{
    if (::setns(previous_fd, CLONE_NEWNET) != 0)
        std::abort();
    ::close(previous_fd);
}

bool connectWithVeth(const NetNamespace& a, const std::string& name_a, const std::string& cidr_a,
                     const NetNamespace& b, const std::string& name_b, const std::string& cidr_b,
                     std::string* error, bool a_broadcast)
{
    const std::string a_brd = a_broadcast ? " broadcast + dev " : " dev ";
    const std::string commands[][2] = {
        {"a", "ip link add " + name_a + " type veth peer name " + name_b + " netns " + b.path()},
        {"a", "ip addr add " + cidr_a + a_brd + name_a},
        {"a", "ip link set " + name_a + " up"},
        {"b", "ip addr add " + cidr_b + " broadcast + dev " + name_b},
        {"b", "ip link set " + name_b + " up"},
    };
    for (const auto& [where, command] : commands) {
        const NetNamespace& ns = where == "a" ? a : b;
        if (!ns.run(command)) {
            *error = command;
            return false;
        }
    }
    return true;
}

bool plugIntoBridge(const NetNamespace& lan, const std::string& bridge, const std::string& port,
                    const NetNamespace& host, const std::string& host_if, const std::string& cidr,
                    std::string* error)
{
    const std::string commands[][2] = {
        {"lan", "ip link show " + bridge + " >/dev/null 2>&1 || ip link add " + bridge + " type bridge"},
        {"lan", "ip link set " + bridge + " up"},
        {"lan", "ip link add " + port + " type veth peer name " + host_if + " netns " + host.path()},
        {"lan", "ip link set " + port + " master " + bridge + " up"},
        {"host", "ip addr add " + cidr + " broadcast + dev " + host_if},
        {"host", "ip link set " + host_if + " up"},
    };
    for (const auto& [where, command] : commands) {
        const NetNamespace& ns = where == "lan" ? lan : host;
        if (!ns.run(command)) {
            *error = command;
            return false;
        }
    }
    return true;
}

} // namespace Spectrafox::Test
