#include "base/fatal_error.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

struct Ending {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when it did not exit in time
};

// The hook writes straight to the descriptor, so its place in the output
// shows whether it ran before the text.
void markHook()
{
    const char mark[] = "[hook]";
    ssize_t written = ::write(STDOUT_FILENO, mark, sizeof mark - 1);
    (void)written;
}

void redirect(int fd, const std::string& path)
{
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, fd);
    ::close(file);
}

int exitStatusWithin(pid_t child, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Ending runInChild(const std::function<void()>& failure)
{
    TempDir dir;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        redirect(STDOUT_FILENO, dir.file("out"));
        redirect(STDERR_FILENO, dir.file("err"));
        failure();
        std::_Exit(99); // the failure returned: never expected
    }
    Ending ending;
    ending.status = exitStatusWithin(child, std::chrono::seconds(10));
    ending.out = readFile(dir.file("out"));
    ending.err = readFile(dir.file("err"));
    return ending;
}

TEST(FatalErrorTest, EachKindHasItsStreamRunsTheHookFirstAndEndsWithOne)
{
    const struct {
        const char* what;
        std::function<void()> failure;
        std::string out;
        std::string err;
    } cases[] = {
        {"message, no hook",
         [] {
             setFatalExitHook(nullptr);
             exitWithMessage("port %d taken\n", 6454);
         },
         "port 6454 taken\n", ""},
        {"message after the hook",
         [] {
             setFatalExitHook(&markHook);
             exitWithMessage("%s\n", "pipeline broken");
         },
         "[hook]pipeline broken\n", ""},
        {"diagnostic on standard error, after the hook",
         [] {
             setFatalExitHook(&markHook);
             exitWithDiagnostic("Assertion `%s' failed.\n", "ok");
         },
         "[hook]", "Assertion `ok' failed.\n"},
        {"text still buffered on standard output is not lost",
         [] {
             setFatalExitHook(nullptr);
             std::printf("Config: Subnet:0");
             exitWithDiagnostic("no display\n");
         },
         "Config: Subnet:0", "no display\n"},
        {"from another thread while the main one waits",
         [] {
             setFatalExitHook(&markHook);
             std::thread failing([] { exitWithMessage("from a worker\n"); });
             failing.join();
         },
         "[hook]from a worker\n", ""},
    };
    for (const auto& c : cases) {
        const Ending ending = runInChild(c.failure);
        EXPECT_EQ(ending.status, 1) << c.what;
        EXPECT_EQ(ending.out, c.out) << c.what;
        EXPECT_EQ(ending.err, c.err) << c.what;
    }
}

} // namespace
