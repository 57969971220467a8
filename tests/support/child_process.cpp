#include "support/child_process.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <chrono>

namespace Spectrafox::Test {

namespace {

void redirect(const std::string& path, int target)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, target);
        close(fd);
    }
}

[[noreturn]] void runChild(const ChildProcess::Setup& setup)
{
    for (const auto& [name, value] : setup.environment) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    if (!setup.working_directory.empty() && chdir(setup.working_directory.c_str()) != 0)
        _exit(126);
    if (!setup.terminal_path.empty()) {
        // A new session's leader takes the first terminal it opens.
        setsid();
        const int terminal = open(setup.terminal_path.c_str(), O_RDWR);
        if (terminal < 0)
            _exit(126);
        for (const int target : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
            dup2(terminal, target);
    } else {
        const int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        redirect(setup.stdout_path, STDOUT_FILENO);
        redirect(setup.stderr_path, STDERR_FILENO);
    }
    if (setup.extra_fd >= 0)
        fcntl(setup.extra_fd, F_SETFD, 0);
    std::vector<char*> argv;
    for (const std::string& argument : setup.argv)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

} // namespace

ChildProcess::Setup ChildProcess::server(const std::string& folder, const std::vector<std::string>& switches)
{
    Setup setup;
    setup.argv = {SPECTRAFOX_BINARY, "--silent"};
    setup.argv.insert(setup.argv.end(), switches.begin(), switches.end());
    setup.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"SDL_VIDEODRIVER", ""}};
    setup.working_directory = folder;
    setup.stderr_path = folder + "/stderr.txt";
    return setup;
}

ChildProcess::ChildProcess(const Setup& setup)
{
    child = fork();
    if (child == 0)
        runChild(setup);
}

ChildProcess::~ChildProcess()
{
    if (child > 0 && !reaped) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

bool ChildProcess::running()
{
    int status = 0;
    return child > 0 && !reaped && !waitExit(0, &status);
}

void ChildProcess::signal(int number)
{
    if (child > 0 && !reaped)
        kill(child, number);
}

bool ChildProcess::waitExit(int timeout_ms, int* status)
{
    if (child <= 0)
        return false;
    if (reaped) {
        *status = exit_status;
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (true) {
        const pid_t done = waitpid(child, status, WNOHANG);
        if (done == child) {
            reaped = true;
            exit_status = *status;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool waitForFile(const std::string& path, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (access(path.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace Spectrafox::Test
