#include "console_screen.h"

#include <csignal>
#include <cstdarg>
#include <cstdlib>

#include <ncurses.h>
#include <poll.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
constexpr int kKeyPollMs = 50;
constexpr const char* kTitle = "Raspberry Pi Spectrafox | Version: 0.3.2\n";
} // namespace

std::atomic<bool> ConsoleScreen::quit{false};
std::atomic<ConsoleScreen*> ConsoleScreen::active_console{nullptr};

// Whatever ends the process (a fatal error, exit from any thread) must not
// leave the terminal in curses mode.
void ConsoleScreen::leaveTerminal()
{
    ConsoleScreen* console = active_console.exchange(nullptr);
    if (!console)
        return;
    std::unique_lock<std::mutex> lock(console->curses_mutex, std::try_to_lock);
    curs_set(1);
    endwin();
}

ConsoleScreen::ConsoleScreen() { init(false); }

ConsoleScreen::ConsoleScreen(bool s) { init(s); }

ConsoleScreen::~ConsoleScreen()
{
    if (silent)
        return;
    // The listener wakes at least every kKeyPollMs, so this join is bounded
    // whether the quit came from a key or from a signal.
    stop_listener.store(true);
    if (key_listener_thread.joinable())
        key_listener_thread.join();
    endNCurses();
}

void ConsoleScreen::init(bool s)
{
    quit.store(false);
    silent = s;
    std::signal(SIGINT, &ConsoleScreen::signalReceiver);
    std::signal(SIGTERM, &ConsoleScreen::signalReceiver);
    if (!silent)
        initNCurses();
}

void ConsoleScreen::initNCurses()
{
    std::lock_guard<std::mutex> lock(curses_mutex);
    initscr();
    curs_set(0);
    noecho();
    keypad(stdscr, TRUE);
    clear();
    // Reads never block inside curses: the listener waits with poll() outside
    // the lock, so the main thread's output is never held up by a key read.
    wtimeout(stdscr, 0);
    static std::once_flag exit_hook;
    std::call_once(exit_hook, [] { std::atexit(&ConsoleScreen::leaveTerminal); });
    active_console.store(this);
    key_listener_thread = std::thread(&ConsoleScreen::keyListener, this);
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
    printw("%s", kTitle);
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

void ConsoleScreen::moveTo(int x, int y)
{
    if (silent)
        return;
    std::lock_guard<std::mutex> lock(curses_mutex);
    move(x, y);
}

void ConsoleScreen::clearToEndOfLine()
{
    if (silent)
        return;
    std::lock_guard<std::mutex> lock(curses_mutex);
    clrtoeol();
    refresh();
}

} // namespace Spectrafox
