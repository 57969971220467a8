#include "support/tmux_session.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <sys/wait.h>

namespace Spectrafox::Test {

namespace {

constexpr const char* kExitMark = "[program exited:";

std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::string trimEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

std::string runCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        throw std::runtime_error("popen failed: " + command);
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, count);
    const int raw = pclose(pipe);
    if (status)
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

TmuxSession::TmuxSession(const std::string& command, const std::string& working_dir, int width,
                         int height)
{
    // A new server name every time: a server just told to quit may still be
    // shutting down on the old socket when the next session starts.
    static std::atomic<int> sessions{0};
    socket_name = "spectrafox-test-" + std::to_string(getpid()) + "-" + std::to_string(sessions++);
    const std::string conf = scratch.write("tmux.conf", "set -g status off\n");
    // tmux forgets the screen of a dead pane, so the wrapper shell outlives the
    // program and prints its exit status on the terminal.
    const std::string wrapped = command + "; echo \"" + kExitMark + "$?]\"; exec sleep 600";
    std::ostringstream args;
    args << "-f " << quote(conf) << " new-session -d -x " << width << " -y " << height << " -c "
         << quote(working_dir) << " " << quote("sh -c " + quote(wrapped));
    tmux(args.str());
}

TmuxSession::~TmuxSession() { tmux("kill-server"); }

std::string TmuxSession::tmux(const std::string& args) const
{
    return runCommand("tmux -L " + quote(socket_name) + " " + args + " 2>/dev/null");
}

std::string TmuxSession::capture(bool with_escapes) const
{
    return tmux(std::string("capture-pane -p") + (with_escapes ? " -e" : ""));
}

std::string TmuxSession::line(int row, bool with_escapes) const
{
    std::istringstream lines(capture(with_escapes));
    std::string text;
    for (int i = 0; i <= row; ++i) {
        if (!std::getline(lines, text))
            return "";
    }
    return trimEnd(text);
}

void TmuxSession::sendKeys(const std::string& literal) const
{
    tmux("send-keys -l " + quote(literal));
}

int TmuxSession::programPid() const
{
    const std::string shell = paneValue("pane_pid");
    int pid = 0;
    waitUntil([&] {
        pid = std::atoi(runCommand("pgrep -n -P " + shell).c_str());
        return pid > 0;
    }, std::chrono::seconds(5));
    return pid;
}

std::string TmuxSession::paneValue(const std::string& variable) const
{
    return trimEnd(tmux("display-message -p " + quote("#{" + variable + "}")));
}

bool TmuxSession::isDead() const { return capture().find(kExitMark) != std::string::npos; }

int TmuxSession::exitStatus() const
{
    const std::string screen = capture();
    const size_t mark = screen.find(kExitMark);
    return mark == std::string::npos ? -1 : std::atoi(screen.c_str() + mark + std::strlen(kExitMark));
}

std::string TmuxSession::programOutput() const
{
    const std::string screen = capture();
    return trimEnd(screen.substr(0, screen.find(kExitMark)));
}

bool TmuxSession::waitUntil(const std::function<bool()>& condition,
                            std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

} // namespace Spectrafox::Test
