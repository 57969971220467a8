#pragma once

#include <string>

namespace Spectrafox::Test {

// A network namespace of the test's own making, with loopback up. It is held
// only by this object (and by sockets and processes made inside it), so it
// vanishes with everything in it, veth links included, on every path out of
// the test, a crash too. Nothing in it can reach a real network.
class NetNamespace {
public:
    NetNamespace();
    ~NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;

    // False without the rights to make one; error() says why.
    bool ok() const { return ns_fd >= 0; }
    const std::string& error() const { return why; }
    int fd() const { return ns_fd; }
    // A path naming the namespace for ip(8) and nsenter(1) while this lives.
    std::string path() const;
    // Runs a shell command inside the namespace; true when it exits with 0.
    bool run(const std::string& command) const;

private:
    int ns_fd = -1;
    std::string why;
};

// Moves the calling thread into the namespace for the lifetime of the object;
// sockets and threads made meanwhile stay there.
class ScopedNetNamespace {
public:
    explicit ScopedNetNamespace(const NetNamespace& target);
    ~ScopedNetNamespace();
    ScopedNetNamespace(const ScopedNetNamespace&) = delete;
    ScopedNetNamespace& operator=(const ScopedNetNamespace&) = delete;

private:
    int previous_fd;
};

// A veth pair between two namespaces: `name_a` with `cidr_a` in a, `name_b`
// with `cidr_b` in b (such as "10.77.0.1/24"), both up with their broadcast
// addresses. False, with the failing command in *error, if it cannot be made.
// With a_broadcast false, `name_a` gets its address without a broadcast
// address, as "ip addr add 10.1.2.3/24 dev eth0" leaves it.
bool connectWithVeth(const NetNamespace& a, const std::string& name_a, const std::string& cidr_a,
                     const NetNamespace& b, const std::string& name_b, const std::string& cidr_b,
                     std::string* error, bool a_broadcast = true);

// A switch: an Ethernet bridge `bridge` inside `lan`, made on first use. Each
// call plugs `host` into it by a veth pair whose end in `host` is `host_if`
// with `cidr`, up with its broadcast address; `port` names the bridge's end.
// False, with the failing command in *error, if it cannot be made.
bool plugIntoBridge(const NetNamespace& lan, const std::string& bridge, const std::string& port,
                    const NetNamespace& host, const std::string& host_if, const std::string& cidr,
                    std::string* error);

} // namespace Spectrafox::Test
