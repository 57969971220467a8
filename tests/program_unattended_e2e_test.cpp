// The real program as a service runs it: under systemd's notifications, on a
// terminal that stops taking output, stopped and photographed by signals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <glob.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/eventually.h"
#include "support/net_namespace.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

using namespace Spectrafox::Test;

namespace {

constexpr int kStartMs = 30000; // llvmpipe start-up under sanitizers is slow
// Far above the program's own stop limit (under a second), far below
// forever: a stop that waits on the terminal never ends at all.
constexpr int kStopMs = 5000;

// The far end of NOTIFY_SOCKET, as systemd holds it.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path)
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(fd); }

    // Reads messages until one contains `wanted`, for at most `limit_ms`.
    bool waitFor(const std::string& wanted, int limit_ms)
    {
        return eventually([&] {
            char message[512];
            const ssize_t size = ::recv(fd, message, sizeof message, 0);
            if (size > 0)
                last = std::string(message, static_cast<size_t>(size));
            return size > 0 && last.find(wanted) != std::string::npos;
        }, std::chrono::milliseconds(limit_ms));
    }
    bool bound = false;
    std::string last;

private:
    int fd = -1;
};

// A pseudo-terminal whose other end nobody reads, already full: the next
// write to it blocks until the end of the test.
class StalledTerminal {
public:
    StalledTerminal()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        winsize size{30, 100, 0, 0};
        ::ioctl(master, TIOCSWINSZ, &size);
        slave_path = ::ptsname(master);
        const int slave = ::open(slave_path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const std::string filler(4096, 'x');
        while (slave >= 0 && ::write(slave, filler.data(), filler.size()) > 0) {
        }
        if (slave >= 0)
            ::close(slave);
    }
    ~StalledTerminal()
    {
        if (master >= 0)
            ::close(master);
    }
    const std::string& path() const { return slave_path; }

private:
    int master = -1;
    std::string slave_path;
};

// A numbered snapshot ("shot-000123.png") in `dir`, or "".
std::string numberedSnapshotIn(const std::string& dir)
{
    glob_t found{};
    std::string path;
    if (::glob((dir + "/shot-[0-9]*.png").c_str(), 0, nullptr, &found) == 0)
        path = found.gl_pathv[0];
    ::globfree(&found);
    return path;
}

class ProgramUnattended : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!node.ok())
            GTEST_SKIP() << node.error();
        // Slot 0 fills the one canvas until DMX arrives: an orange screen.
        dir.write("textures/.keep", "");
        writeSolidPng(dir.file("textures/000.png"), 8, 8, 0xFF8000FF);
    }

    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& extra,
                                        const std::string& terminal)
    {
        ChildProcess::Setup setup;
        setup.argv = {SPECTRAFOX_BINARY, "--headless=64x36", "--snapshot=" + dir.file("shot.png")};
        setup.argv.insert(setup.argv.end(), extra.begin(), extra.end());
        setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""},
                             {"NOTIFY_SOCKET", dir.file("notify.sock")}, {"TERM", "xterm"}};
        setup.working_directory = dir.path();
        setup.stdout_path = dir.file("stdout.txt");
        setup.stderr_path = dir.file("stderr.txt");
        setup.terminal_path = terminal;
        ScopedNetNamespace inside(node);
        return std::make_unique<ChildProcess>(setup);
    }

    NetNamespace node;
    TempDir dir;
};

// An SSH client gone to sleep stops reading the terminal: the show goes on,
// tells systemd it is ready and alive (the watchdog fed again and again, the
// frame rate as status), takes snapshots, outlives a hang-up, and a stop
// still ends it.
TEST_F(ProgramUnattended, ATerminalThatTakesNoOutputNeitherFreezesNorHoldsTheStop)
{
    for (const bool hang_up : {false, true}) {
        SCOPED_TRACE(hang_up ? "after SIGHUP" : "terminal stalled");
        NotifySocket systemd(dir.file("notify.sock"));
        ASSERT_TRUE(systemd.bound);
        StalledTerminal terminal;
        ASSERT_FALSE(terminal.path().empty());
        auto program = start({}, terminal.path());
        ASSERT_TRUE(systemd.waitFor("READY=1", kStartMs)) << readFile(dir.file("stderr.txt"));
        if (hang_up)
            program->signal(SIGHUP);
        // Frames go on: the watchdog is fed, a snapshot shows the picture.
        ASSERT_TRUE(systemd.waitFor("STATUS=", 5000));
        EXPECT_NE(systemd.last.find(" fps"), std::string::npos) << systemd.last;
        for (int beat = 0; beat < 3; ++beat)
            ASSERT_TRUE(systemd.waitFor("WATCHDOG=1", 2000)) << "beat " << beat;
        program->signal(SIGUSR1);
        std::string shot;
        for (int wait = 0; wait < 500 && shot.empty(); ++wait) {
            ::usleep(10000);
            shot = numberedSnapshotIn(dir.path());
        }
        ASSERT_FALSE(shot.empty()) << "no snapshot after SIGUSR1";
        const RgbaImage picture = readRgbaPng(shot);
        ASSERT_TRUE(picture.ok());
        EXPECT_EQ(picture.centre()[0], 0xFF);
        EXPECT_EQ(picture.centre()[1], 0x80);
        EXPECT_EQ(picture.centre()[2], 0x00);
        ::unlink(shot.c_str());

        program->signal(SIGTERM);
        int status = 0;
        ASSERT_TRUE(program->waitExit(kStopMs, &status)) << "the stop waits on the terminal";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(systemd.waitFor("STOPPING=1", 1000));
        ::unlink(dir.file("notify.sock").c_str());
    }
}

} // namespace
