#include "console_screen.h"
#include "base/fatal_error.h"

#include "base/product_identity.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <ncurses.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
constexpr int kKeyPollMs = 50;
// How long curses waits for the rest of an escape sequence. A terminal sends
// a sequence in one write, so its bytes are there at once; a lone Esc must
// not hold the terminal for the default second.
constexpr int kEscapeDelayMs = 10;
constexpr int kLeaveLockAttempts = 20;
constexpr useconds_t kLeaveLockWaitUs = 5000;
constexpr int kFrameRateRow = 4;
constexpr int kNoticeRow = 6;
} // namespace

std::atomic<bool> ConsoleScreen::quit{false};
std::atomic<ConsoleScreen*> ConsoleScreen::active_console{nullptr};
TerminalState ConsoleScreen::found_terminal;
std::atomic<bool> ConsoleScreen::silent_process{false};

// Whatever ends the process (a fatal error, exit from any thread) must not
// leave the terminal in curses mode, nor the console keyboard off.
void ConsoleScreen::leaveTerminal()
{
    ConsoleScreen* console = active_console.exchange(nullptr);
    if (console) {
        // The key reader holds the lock for a few milliseconds at most; a
        // thread stuck with it (the failing one itself) must not stop the exit.
        std::unique_lock<std::mutex> lock(console->curses_mutex, std::defer_lock);
        for (int attempt = 0; attempt < kLeaveLockAttempts && !lock.try_lock(); ++attempt)
            usleep(kLeaveLockWaitUs);
        curs_set(1);
        endwin();
    }
    found_terminal.restore();
}

ConsoleScreen::ConsoleScreen() { init(false); }

ConsoleScreen::ConsoleScreen(bool s) { init(s); }

ConsoleScreen::~ConsoleScreen()
{
    if (!silent) {
        // The listener wakes at least every kKeyPollMs, so this join is
        // bounded whether the quit came from a key or from a signal.
        stop_listener.store(true);
        if (key_listener_thread.joinable())
            key_listener_thread.join();
        endNCurses();
    }
    found_terminal.restore();
}

void ConsoleScreen::init(bool s)
{
    quit.store(false);
    silent = s;
    silent_process.store(s);
    saveTerminal();
    std::signal(SIGINT, &ConsoleScreen::signalReceiver);
    std::signal(SIGTERM, &ConsoleScreen::signalReceiver);
    if (!silent)
        initNCurses();
}

// Once per process, before curses or the video layer change anything: the
// controlling terminal if there is one (a service's tty1 too), else standard
// input if it is a terminal. The descriptor stays open for the restore.
void ConsoleScreen::saveTerminal()
{
    static std::once_flag saved;
    std::call_once(saved, [] {
        int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && ::isatty(STDIN_FILENO))
            fd = STDIN_FILENO;
        if (fd >= 0)
            found_terminal.save(fd);
        std::atexit(&ConsoleScreen::leaveTerminal);
        setFatalExitHook(&ConsoleScreen::leaveTerminal);
    });
}

void ConsoleScreen::initNCurses()
{
    std::lock_guard<std::mutex> lock(curses_mutex);
    initscr();
    set_escdelay(kEscapeDelayMs); // after initscr, which reads $ESCDELAY
    curs_set(0);
    noecho();
    keypad(stdscr, TRUE);
    allowKeysThroughFlowControl();
    clear();
    // The listener waits with poll() outside the lock; inside it, a read
    // waits at most kEscapeDelayMs for the rest of an escape sequence, and
    // the frame-rate line skips a frame rather than wait for that.
    wtimeout(stdscr, 0);
    active_console.store(this);
    key_listener_thread = std::thread(&ConsoleScreen::keyListener, this);
}

// Ctrl-S would otherwise stop the terminal's output, and the next frame-rate
// line would block the render loop until Ctrl-Q.
void ConsoleScreen::allowKeysThroughFlowControl()
{
    termios settings{};
    if (::tcgetattr(STDIN_FILENO, &settings) != 0)
        return;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    def_prog_mode(); // curses puts this mode back after a suspend
}

void ConsoleScreen::endNCurses()
{
    active_console.store(nullptr);
    std::lock_guard<std::mutex> lock(curses_mutex);
    curs_set(1); // endwin leaves a hidden cursor hidden on some terminals
    endwin();
}

void ConsoleScreen::keyListener()
{
    while (!stop_listener.load()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kKeyPollMs);
        if (ready < 0 || (ready > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
                          !(input.revents & POLLIN))) {
            // The terminal is gone; keep the loop alive for the destructor
            // without spinning.
            usleep(kKeyPollMs * 1000);
            continue;
        }
        if (ready == 0)
            continue;
        int key;
        {
            std::lock_guard<std::mutex> lock(curses_mutex);
            key = wgetch(stdscr);
        }
        if (key == 'q') {
            requestQuit();
            return;
        }
        if (key == ERR)
            usleep(kKeyPollMs * 1000); // readable but no key: end of input

    }
}

void ConsoleScreen::signalReceiver(int) { requestQuit(); }

void ConsoleScreen::requestQuit() { quit.store(true); }

bool ConsoleScreen::isQuit() const { return quit.load(); }

void ConsoleScreen::showTitle()
{
    if (silent)
        return;
    std::lock_guard<std::mutex> lock(curses_mutex);
    attrset(A_BOLD);
    printw("%s\n", Product::versionLine().c_str());
    refresh();
    attrset(A_NORMAL);
}

void ConsoleScreen::print(const char* aFormat, ...)
{
    if (silent)
        return;
    std::lock_guard<std::mutex> lock(curses_mutex);
    va_list args;
    va_start(args, aFormat);
    vw_printw(stdscr, aFormat, args);
    va_end(args);
    refresh();
}

void ConsoleScreen::showFrameRate(double fps)
{
    if (silent)
        return;
    std::unique_lock<std::mutex> lock(curses_mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    mvprintw(kFrameRateRow, 0, " FPS: %5.2f ", fps);
    // A shorter figure must not leave digits of a longer one behind.
    clrtoeol();
    refresh();
}

void ConsoleScreen::showNotice(const std::string& text)
{
    if (silent_process.load())
        return;
    ConsoleScreen* console = active_console.load();
    if (!console) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        return;
    }
    std::lock_guard<std::mutex> lock(console->curses_mutex);
    int row = 0;
    int column = 0;
    getyx(stdscr, row, column);
    mvprintw(kNoticeRow, 0, "%s", text.c_str());
    clrtoeol();
    move(row, column); // later lines go where they would have gone
    refresh();
}

} // namespace Spectrafox
