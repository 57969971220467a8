#pragma once

#include <sys/types.h>

#include <string>

#include "support/net_namespace.h"
#include "support/temp_dir.h"

namespace Spectrafox::Test {

// A real lighting desk that no one here wrote: the Open Lighting Architecture
// daemon (olad) with only its Art-Net plugin, in a desk namespace, run as an
// unprivileged user, with its clients run inside the same namespace.
constexpr const char* kOlad = "/usr/bin/olad";

bool haveCommand(const char* name);

// The OLA daemon refuses to run as root; it runs as its own system user.
struct OlaAccount {
    uid_t uid;
    gid_t gid;
};
bool unprivilegedAccount(OlaAccount* out);

// Every plugin but Art-Net off, so the daemon touches no device and no other
// protocol; Art-Net bound to `desk_address`, unicast to the nodes that
// answered its polls.
void writeOlaConfig(const TempDir& dir, const OlaAccount& account, const char* desk_address, int subnet);

// olad started inside the desk namespace; stopped and reaped on every path.
class OlaDaemon {
public:
    OlaDaemon(const NetNamespace& desk, const TempDir& dir, const OlaAccount& account);
    ~OlaDaemon();
    OlaDaemon(const OlaDaemon&) = delete;
    OlaDaemon& operator=(const OlaDaemon&) = delete;
    bool started() const { return pid > 0; }

private:
    pid_t pid = -1;
};

// Runs an OLA client inside the desk namespace, at most `seconds`; true when
// it exits with 0.
bool deskCommand(const NetNamespace& desk, const TempDir& dir, const std::string& command,
                 std::string* output = nullptr, int seconds = 10);

// Waits for olad's Art-Net device (its number in *device) and patches its
// first output port to `universe`; false, with what went wrong in *error.
bool patchArtnetPort(const NetNamespace& desk, const TempDir& dir, int universe, std::string* device,
                     std::string* error);

} // namespace Spectrafox::Test
