#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Spectrafox::Test {

// A child process with its output in files and bounded waits. The destructor
// kills it (SIGKILL) if it is still running.
class ChildProcess {
public:
    struct Setup {
        std::vector<std::string> argv;
        // Variables to set ("NAME", "value") or, with an empty value, unset.
        std::vector<std::pair<std::string, std::string>> environment;
        std::string working_directory; // empty: the current one
        std::string stdout_path = "/dev/null";
        std::string stderr_path = "/dev/null";
        int extra_fd = -1; // kept open in the child under the same number
        // Non-empty: a terminal (a pty's slave) that becomes the child's
        // controlling terminal and its standard input, output and error.
        std::string terminal_path;
    };

    // The server run from `folder` (its show folder), with --silent and
    // `switches`, kept off any desktop display, its standard error in
    // folder/stderr.txt.
    static Setup server(const std::string& folder, const std::vector<std::string>& switches);

    explicit ChildProcess(const Setup& setup);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return child; }
    bool running();
    void signal(int number);
    // Waits up to timeout_ms; true when it ended, with its wait status.
    bool waitExit(int timeout_ms, int* status);

private:
    int child = -1;
    bool reaped = false;
    int exit_status = 0;
};

// Polls every 10 ms until the file exists or timeout_ms passed.
bool waitForFile(const std::string& path, int timeout_ms);

} // namespace Spectrafox::Test
