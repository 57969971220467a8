#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "shell/terminal_state.h"

namespace Spectrafox {

// The text console on the starting terminal, and keeper of the process-wide
// quit flag. Silent mode shows nothing and never touches curses.
class ConsoleScreen {
public:
    ConsoleScreen();
    explicit ConsoleScreen(bool silent);
    ~ConsoleScreen();
    ConsoleScreen(const ConsoleScreen&) = delete;
    ConsoleScreen& operator=(const ConsoleScreen&) = delete;

    static void signalReceiver(int signal);
    // Asks the main loop to end, as the key q does (a closed window, say).
    static void requestQuit();
    bool isQuit() const;
    // Ends curses mode at once if it is on and puts the terminal back as
    // the program found it (line settings, console keyboard), from any
    // thread; for failures that end the process. Also runs when the process
    // exits.
    static void leaveTerminal();
    // One line for the technician, from any thread: on its own row of the
    // console, or on standard error without one; nothing when silent.
    static void showNotice(const std::string& text);

    void showTitle();
    void print(const char* aFormat, ...) __attribute__((format(printf, 2, 3)));
    // The live frame-rate line. Skipped, never waited for, while the key
    // reader holds the terminal: the render loop must not stall on a key.
    void showFrameRate(double fps);

private:
    void init(bool s);
    void initNCurses();
    void endNCurses();
    void keyListener();
    static void saveTerminal();
    static void allowKeysThroughFlowControl();

    // A lock-free atomic is safe to store from a signal handler.
    static std::atomic<bool> quit;
    // The console in curses mode, if any, for the exit hook.
    static std::atomic<ConsoleScreen*> active_console;
    // The terminal as found before the first console touched it.
    static TerminalState found_terminal;
    static std::atomic<bool> silent_process;
    bool silent = true;
    std::thread key_listener_thread;
    // Curses is not thread-safe: every curses call holds this lock.
    std::mutex curses_mutex;
    std::atomic<bool> stop_listener{false};
};

} // namespace Spectrafox
