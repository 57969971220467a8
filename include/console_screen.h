#pragma once

#include <atomic>
#include <mutex>
#include <thread>

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
    // Ends curses mode at once if it is on, from any thread; for failures
    // that end the process. Also runs when the process exits.
    static void leaveTerminal();

    void showTitle();
    void print(const char* aFormat, ...) __attribute__((format(printf, 2, 3)));
    void moveTo(int x, int y);
    // Blanks the rest of the cursor's line: a shorter figure must not leave
    // digits of a longer one behind.
    void clearToEndOfLine();

private:
    void init(bool s);
    void initNCurses();
    void endNCurses();
    void keyListener();

    // A lock-free atomic is safe to store from a signal handler.
    static std::atomic<bool> quit;
    // The console in curses mode, if any, for the exit hook.
    static std::atomic<ConsoleScreen*> active_console;
    bool silent = true;
    std::thread key_listener_thread;
    // Curses is not thread-safe: every curses call holds this lock.
    std::mutex curses_mutex;
    std::atomic<bool> stop_listener{false};
};

} // namespace Spectrafox
