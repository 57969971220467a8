#include "support/ola_desk.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include "support/eventually.h"

namespace Spectrafox::Test {

using namespace std::chrono_literals;

bool haveCommand(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

bool unprivilegedAccount(OlaAccount* out)
{
    for (const char* name : {"olad", "nobody"}) {
        if (const passwd* entry = getpwnam(name)) {
            *out = {entry->pw_uid, entry->pw_gid};
            return true;
        }
    }
    return false;
}

void writeOlaConfig(const TempDir& dir, const OlaAccount& account, const char* desk_address, int subnet)
{
    std::ostringstream artnet;
    artnet << "enabled = true\nip = " << desk_address << "\nnet = 0\nsubnet = " << subnet
           << "\noutput_ports = 1\nalways_broadcast = false\nuse_limited_broadcast = false\n"
              "use_loopback = false\nshort_name = Test desk\nlong_name = Test desk\n";
    dir.write("conf/ola-artnet.conf", artnet.str());
    dir.write("olad.log", "");
    for (const char* path : {"", "/conf", "/olad.log", "/conf/ola-artnet.conf"})
        (void)::chown((dir.path() + path).c_str(), account.uid, account.gid);
    for (const char* plugin : {"dummy", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
                               "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
                               "stageprofi", "uartdmx", "usbdmx", "usbserial"}) {
        const std::string conf = std::string("conf/ola-") + plugin + ".conf";
        dir.write(conf, "enabled = false\n");
        (void)::chown(dir.file(conf).c_str(), account.uid, account.gid);
    }
}

OlaDaemon::OlaDaemon(const NetNamespace& desk, const TempDir& dir, const OlaAccount& account)
{
    const std::string conf = dir.file("conf");
    const std::string log = dir.file("olad.log");
    const char* argv[] = {kOlad, "-c", conf.c_str(), "--no-http", "--no-register-with-dns-sd", "-l", "3", nullptr};
    pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int out = ::open(log.c_str(), O_WRONLY | O_APPEND);
        if (::setns(desk.fd(), CLONE_NEWNET) != 0 || out < 0)
            ::_exit(127);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(out, STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setgid(account.gid) != 0 || ::setuid(account.uid) != 0)
            ::_exit(127);
        ::execv(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
}

OlaDaemon::~OlaDaemon()
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(100ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

bool deskCommand(const NetNamespace& desk, const TempDir& dir, const std::string& command, std::string* output,
                 int seconds)
{
    const std::string out = dir.file("client.out");
    const bool succeeded = desk.run("timeout " + std::to_string(seconds) + " " + command + " > " + out + " 2>&1");
    if (output)
        *output = readFile(out);
    return succeeded;
}

namespace {

// The number in a line "Device <n>: ArtNet ..." of ola_dev_info, or "".
std::string artnetDeviceNumber(const std::string& devices)
{
    std::smatch number;
    return std::regex_search(devices, number, std::regex("Device ([0-9]+): ArtNet")) ? number[1].str() : "";
}

} // namespace

// The desk's OLA commands are slow: they are asked a few times a second only.
bool patchArtnetPort(const NetNamespace& desk, const TempDir& dir, int universe, std::string* device,
                     std::string* error)
{
    const bool found = eventually(
        [&] {
            std::string devices;
            if (!deskCommand(desk, dir, "ola_dev_info", &devices))
                return false;
            *device = artnetDeviceNumber(devices);
            return !device->empty();
        },
        20s, 200ms);
    if (!found) {
        *error = "olad showed no Art-Net device";
        return false;
    }
    const std::string patch = "ola_patch -d " + *device + " -p 0 -u " + std::to_string(universe);
    if (!eventually([&] { return deskCommand(desk, dir, patch); }, 10s, 200ms)) {
        *error = "'" + patch + "' failed";
        return false;
    }
    return true;
}

} // namespace Spectrafox::Test
