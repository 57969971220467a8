#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace Spectrafox::Test {

// Runs one command in a detached tmux pane of a private tmux server, so a test
// can drive a real terminal program: read the screen, type keys, signal it and
// collect its exit status.
class TmuxSession {
public:
    TmuxSession(const std::string& command, const std::string& working_dir, int width = 100,
                int height = 30);
    ~TmuxSession();
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    // The visible screen, one line per row; with escapes, attributes included.
    std::string capture(bool with_escapes = false) const;
    std::string line(int row, bool with_escapes = false) const;
    void sendKeys(const std::string& literal) const;
    int programPid() const;
    // Whether the program has ended, its exit status (128 + n after signal n,
    // -1 while it runs) and what the screen showed above the status line.
    bool isDead() const;
    int exitStatus() const;
    std::string programOutput() const;
    // A tmux format variable of the pane, e.g. "alternate_on" or "cursor_flag".
    std::string paneValue(const std::string& variable) const;

    // Polls until the predicate holds or the time is up.
    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    std::string tmux(const std::string& args) const;

    TempDir scratch;
    std::string socket_name;
};

// Runs a shell command, returns its standard output and sets the exit status.
std::string runCommand(const std::string& command, int* status = nullptr);

} // namespace Spectrafox::Test
