#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "shell/console_outbox.h"
#include "shell/terminal_state.h"

namespace Spectrafox {

// The text console on the starting terminal, and keeper of the process-wide
// quit flag. Silent mode shows nothing and never touches curses.
//
// Only the console's own writer thread touches curses and the terminal's
// output: the render loop and every other thread hand their text over and go
// on, so a terminal that stops taking output (an SSH client gone to sleep)
// never holds up the picture, nor the stop.
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
    // Under the boot service a stray q on a keyboard left at the projector
    // must not end the show: q then only says how to stop the service.
    static void keepShowOnQuitKey(const std::string& how_to_stop);
    // The key q, on the terminal or in the window: a quit, or under the
    // service the hint how to stop it.
    static void quitKeyPressed();
    // A snapshot of the next frame was asked for (key s, SIGUSR1); true once
    // per request.
    static bool takeSnapshotRequest();
    // The key t, on the terminal or in the window: the test pattern on or
    // off. takeTestPatternKey is true once per press.
    static void testPatternKeyPressed();
    static bool takeTestPatternKey();
    // Ends curses mode if it is on and puts the terminal back as the program
    // found it (line settings, console keyboard), from any thread; for
    // failures that end the process. Also runs when the process exits. A
    // terminal that takes no output gets its line settings back only.
    static void leaveTerminal();
    // One line for the technician, from any thread: on its own row of the
    // console, or on standard error without one; nothing when silent.
    static void showNotice(const std::string& text);
    // The timecode's line, on a row of its own (from any thread).
    static void showTimecode(const std::string& text);

    void showTitle();
    void print(const char* aFormat, ...) __attribute__((format(printf, 2, 3)));
    // The live frame-rate line; a figure the terminal has not taken yet is
    // replaced by the newer one.
    void showFrameRate(double fps);

private:
    static void postLine(ConsoleOutbox::Kind kind, const std::string& text);
    // What the writer thread shares with the rest; it outlives the console
    // if the writer is left stuck on a terminal at the end.
    struct Writer {
        ConsoleOutbox outbox;
        std::mutex finished_mutex;
        std::condition_variable finished_changed;
        bool finished = false;
    };

    void init(bool s);
    void startConsole();
    void keyListener();
    void handleKeys(const std::string& keys);
    // Closes the outbox and waits at most `limit` for the writer to leave
    // curses mode; false when it is stuck on the terminal.
    bool finishWriter(std::chrono::milliseconds limit);
    static void runWriter(std::shared_ptr<Writer> writer);
    static void terminalHungUp(int signal);
    static void snapshotSignal(int signal);
    static void saveTerminal();

    // A lock-free atomic is safe to store from a signal handler.
    static std::atomic<bool> quit;
    static std::atomic<bool> snapshot_wanted;
    static std::atomic<int> test_pattern_presses;
    static std::atomic<bool> quit_key_ends_show;
    // Set on SIGHUP: the terminal is gone, nothing more is written to it.
    static std::atomic<bool> terminal_gone;
    // The console in curses mode, if any, for the exit hook.
    static std::atomic<ConsoleScreen*> active_console;
    // The terminal as found before the first console touched it.
    static TerminalState found_terminal;
    static std::atomic<bool> silent_process;
    static std::string stop_hint;
    bool silent = true;
    std::thread key_listener_thread;
    std::thread writer_thread;
    std::shared_ptr<Writer> writer;
    std::atomic<bool> stop_listener{false};
};

} // namespace Spectrafox
