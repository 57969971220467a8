// A real lighting desk that no one here wrote: the Open Lighting Architecture
// daemon with its Art-Net plugin, in a desk namespace joined to the node's by
// a private veth link. It has to discover the node by ArtPoll (it only sends
// DMX to nodes that answered) and its DMX has to move the canvases.
#include "artnet_receiver.h"

#include <gtest/gtest.h>

#include <cctype>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "canvas/canvas.h"
#include "canvas/canvas_manager.h"
#include "platform/graphics/display_options.h"
#include "support/eventually.h"
#include "support/net_namespace.h"
#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;
using namespace std::chrono_literals;

namespace {

constexpr const char* kDeskAddress = "10.78.0.1";
constexpr const char* kNodeAddress = "10.78.0.2";
// OLA matches the whole SwOut byte of a reply against sub-net and universe
// together, while the node reports the sub-net in SubSwitch and the universe
// in SwOut; the two readings agree on sub-net 0.
constexpr int kSubnet = 0;
constexpr int kUniverse = 5; // OLA universe 5 is Art-Net universe 5 of the configured sub-net
constexpr const char* kOlad = "/usr/bin/olad";

bool haveCommand(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The desk's OLA commands are slow: ask them a few times a second only.
constexpr auto kOlaPoll = 200ms;

// The OLA daemon refuses to run as root; it runs as its own system user.
struct Account {
    uid_t uid;
    gid_t gid;
};

bool unprivilegedAccount(Account* out)
{
    for (const char* name : {"olad", "nobody"}) {
        if (const passwd* entry = getpwnam(name)) {
            *out = {entry->pw_uid, entry->pw_gid};
            return true;
        }
    }
    return false;
}

// Every plugin but Art-Net off, so the daemon touches no device and no other
// protocol; Art-Net bound to the desk's end of the link, unicast to the nodes
// that answered its polls.
void writeConfig(const TempDir& dir, const Account& account)
{
    const char* others[] = {"dummy", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet",
                            "milinst", "opendmx", "openpixelcontrol", "osc", "pathport", "renard",
                            "sandnet", "shownet", "spi", "stageprofi", "uartdmx", "usbdmx",
                            "usbserial"};
    for (const char* plugin : others)
        dir.write(std::string("conf/ola-") + plugin + ".conf", "enabled = false\n");
    std::ostringstream artnet;
    artnet << "enabled = true\nip = " << kDeskAddress << "\nnet = 0\nsubnet = " << kSubnet
           << "\noutput_ports = 1\nalways_broadcast = false\nuse_limited_broadcast = false\n"
              "use_loopback = false\nshort_name = Test desk\nlong_name = Test desk\n";
    dir.write("conf/ola-artnet.conf", artnet.str());
    dir.write("olad.log", "");
    for (const char* path : {"", "/conf", "/olad.log"})
        (void)::chown((dir.path() + path).c_str(), account.uid, account.gid);
    for (const char* plugin : others)
        (void)::chown(dir.file(std::string("conf/ola-") + plugin + ".conf").c_str(), account.uid, account.gid);
    (void)::chown(dir.file("conf/ola-artnet.conf").c_str(), account.uid, account.gid);
}

// olad started inside the desk namespace; stopped and reaped on every path.
class OlaDaemon {
public:
    OlaDaemon(const NetNamespace& desk, const TempDir& dir, const Account& account)
    {
        const std::string conf = dir.file("conf");
        const std::string log = dir.file("olad.log");
        const char* argv[] = {kOlad, "-c", conf.c_str(), "--no-http",
                              "--no-register-with-dns-sd", "-l", "3", nullptr};
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
    ~OlaDaemon()
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
    bool started() const { return pid > 0; }

private:
    pid_t pid = -1;
};

// Runs an OLA client inside the desk namespace; true when it exits with 0.
bool deskCommand(const NetNamespace& desk, const TempDir& dir, const std::string& command,
                 std::string* output = nullptr)
{
    const std::string out = dir.file("client.out");
    const bool succeeded = desk.run("timeout 10 " + command + " > " + out + " 2>&1");
    if (output)
        *output = readFile(out);
    return succeeded;
}

// The number in a line "Device <n>: ArtNet ..." of ola_dev_info, or "".
std::string artnetDeviceNumber(const std::string& devices)
{
    const size_t name = devices.find(": ArtNet");
    if (name == std::string::npos)
        return "";
    size_t digits = name;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(devices[digits - 1])))
        --digits;
    if (digits == name || digits < 7 || devices.compare(digits - 7, 7, "Device ") != 0)
        return "";
    return devices.substr(digits, name - digits);
}

TEST(ArtnetReceiverWithOla, OlaDiscoversTheNodeAndItsDmxDrivesTheCanvases)
{
    for (const char* tool : {"ola_dev_info", "ola_patch", "ola_artnet", "ola_streaming_client"})
        if (!haveCommand(tool))
            GTEST_SKIP() << tool << " is not installed (Debian package ola)";
    if (::access(kOlad, X_OK) != 0)
        GTEST_SKIP() << kOlad << " is not installed (Debian package ola)";
    Account account{};
    if (!unprivilegedAccount(&account))
        GTEST_SKIP() << "no unprivileged account to run olad as";
    NetNamespace desk, node;
    if (!desk.ok() || !node.ok())
        GTEST_SKIP() << desk.error() << node.error();
    std::string failed;
    ASSERT_TRUE(connectWithVeth(node, "eth0", "10.78.0.2/24", desk, "desk0", "10.78.0.1/24", &failed))
        << failed;

    CanvasManager manager(DisplayOptions::headless(160, 90));
    const int group = manager.generateCanvasGroup(2, "CONTENT_EXAMPLE");
    std::unique_ptr<ArtnetReceiver> receiver;
    {
        ScopedNetNamespace at(node);
        receiver = std::make_unique<ArtnetReceiver>(&manager, group, kUniverse, kSubnet, 1, 1.0f, -1);
    }

    TempDir dir;
    writeConfig(dir, account);
    OlaDaemon olad(desk, dir, account);
    ASSERT_TRUE(olad.started());
    auto daemonLog = [&] { return "olad log:\n" + readFile(dir.file("olad.log")); };

    std::string device;
    ASSERT_TRUE(eventually(
        [&] {
            std::string devices;
            if (!deskCommand(desk, dir, "ola_dev_info", &devices))
                return false;
            device = artnetDeviceNumber(devices);
            return !device.empty();
        },
        20s, kOlaPoll))
        << daemonLog();
    ASSERT_TRUE(eventually(
        [&] {
            return deskCommand(desk, dir, "ola_patch -d " + device + " -p 0 -u " + std::to_string(kUniverse));
        },
        10s, kOlaPoll))
        << daemonLog();

    // Patching the port makes OLA poll; the node's reply puts it on the list.
    EXPECT_TRUE(eventually(
        [&] {
            std::string nodes;
            deskCommand(desk, dir, "ola_artnet -d " + device + " -u " + std::to_string(kUniverse), &nodes);
            return nodes.find(kNodeAddress) != std::string::npos;
        },
        20s, kOlaPoll))
        << daemonLog();

    std::ostringstream values; // canvas 0: content 17, alpha full; canvas 1: content 99
    for (int channel = 1; channel <= 40; ++channel)
        values << (channel > 1 ? "," : "") << (channel == 1 ? 17 : channel == 2 ? 255 : channel == 21 ? 99 : 0);
    const std::vector<Canvas*> canvases = manager.getCanvasGroup(group);
    EXPECT_TRUE(eventually(
        [&] {
            deskCommand(desk, dir, "ola_streaming_client -u " + std::to_string(kUniverse) + " -d " + values.str());
            return canvases[0]->getContentData() == 17 && canvases[1]->getContentData() == 99;
        },
        20s, kOlaPoll))
        << daemonLog();
    EXPECT_EQ(canvases[0]->getAlpha(), 1.0f);
    receiver.reset();
}

} // namespace
