#include "console_screen.h"
#include "base/fatal_error.h"

#include "base/product_identity.h"
#include "shell/console_keys.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <ncurses.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace Spectrafox {

namespace {
constexpr int kKeyPollMs = 50;
// How long curses waits for the rest of an escape sequence. A terminal sends
// a sequence in one write, so its bytes are there at once; a lone Esc must
// not hold the terminal for the default second.
constexpr int kEscapeDelayMs = 10;
// The writer wakes this often even without output, to notice a close.
constexpr std::chrono::milliseconds kWriterWake{100};
// From the end of the show to a terminal handed back; a terminal that takes
// nothing for this long keeps the curses screen, never the process.
constexpr std::chrono::milliseconds kLeaveLimit{300};
constexpr int kFrameRateRow = 4;
constexpr int kTimecodeRow = 5;
constexpr int kNoticeRow = 6;
constexpr size_t kKeyReadBytes = 64;

// A write that gives up rather than wait. A file never keeps a writer
// waiting; a terminal or pipe is written through a descriptor of its own,
// non-blocking, so the shared one keeps its mode; anything else (a socket)
// only when it takes output now.
void writeWithoutWaiting(int fd, const std::string& text)
{
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    if (known && S_ISREG(info.st_mode)) {
        (void)!::write(fd, text.data(), text.size());
        return;
    }
    if (known && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        const std::string path = "/proc/self/fd/" + std::to_string(fd);
        const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (own >= 0) {
            (void)!::write(own, text.data(), text.size());
            ::close(own);
            return;
        }
    }
    pollfd output{fd, POLLOUT, 0};
    if (::poll(&output, 1, 0) == 1 && (output.revents & POLLOUT))
        (void)!::write(fd, text.data(), text.size());
}

// Ctrl-S would otherwise stop the terminal's output, and curses with it.
void allowKeysThroughFlowControl()
{
    termios settings{};
    if (::tcgetattr(STDIN_FILENO, &settings) != 0)
        return;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    def_prog_mode(); // curses puts this mode back after a suspend
}

// Curses on the writer thread. False when the terminal type is unknown:
// the console then stays quiet rather than end the process from here.
bool enterCurses()
{
    if (!newterm(nullptr, stdout, stdin))
        return false;
    set_escdelay(kEscapeDelayMs); // after newterm, which reads $ESCDELAY
    curs_set(0);
    noecho();
    allowKeysThroughFlowControl();
    clear();
    return true;
}

void writeEntry(const ConsoleOutbox::Entry& entry)
{
    switch (entry.kind) {
    case ConsoleOutbox::Kind::Title:
        attrset(A_BOLD);
        printw("%s", entry.text.c_str());
        attrset(A_NORMAL);
        break;
    case ConsoleOutbox::Kind::Text: printw("%s", entry.text.c_str()); break;
    case ConsoleOutbox::Kind::Notice:
    case ConsoleOutbox::Kind::Timecode: {
        int row = 0;
        int column = 0;
        getyx(stdscr, row, column);
        mvprintw(entry.kind == ConsoleOutbox::Kind::Notice ? kNoticeRow : kTimecodeRow, 0, "%s",
                 entry.text.c_str());
        clrtoeol();
        move(row, column); // later lines go where they would have gone
        break;
    }
    }
}

void writeBatch(const ConsoleOutbox::Batch& batch)
{
    for (const ConsoleOutbox::Entry& entry : batch.entries)
        writeEntry(entry);
    if (batch.has_frame_rate) {
        mvprintw(kFrameRateRow, 0, " FPS: %5.2f ", batch.frame_rate);
        // A shorter figure must not leave digits of a longer one behind.
        clrtoeol();
    }
    refresh();
}
} // namespace

std::atomic<bool> ConsoleScreen::quit{false};
std::atomic<bool> ConsoleScreen::snapshot_wanted{false};
std::atomic<int> ConsoleScreen::test_pattern_presses{0};
std::atomic<bool> ConsoleScreen::quit_key_ends_show{true};
std::atomic<bool> ConsoleScreen::terminal_gone{false};
std::atomic<ConsoleScreen*> ConsoleScreen::active_console{nullptr};
TerminalState ConsoleScreen::found_terminal;
std::atomic<bool> ConsoleScreen::silent_process{false};
std::string ConsoleScreen::stop_hint;

// Whatever ends the process (a fatal error, exit from any thread) must not
// leave the terminal in curses mode, nor the console keyboard off, and must
// not wait on a terminal that takes no output.
void ConsoleScreen::leaveTerminal()
{
    ConsoleScreen* console = active_console.exchange(nullptr);
    if (console)
        console->finishWriter(kLeaveLimit);
    found_terminal.restore();
}

ConsoleScreen::ConsoleScreen() { init(false); }

ConsoleScreen::ConsoleScreen(bool s) { init(s); }

ConsoleScreen::~ConsoleScreen()
{
    if (!silent) {
        // The listener wakes at least every kKeyPollMs: a bounded join.
        stop_listener.store(true);
        if (key_listener_thread.joinable())
            key_listener_thread.join();
        active_console.store(nullptr);
        // A writer stuck on the terminal is left to the end of the process;
        // what it uses is shared with it, not owned by this object.
        if (finishWriter(kLeaveLimit))
            writer_thread.join();
        else
            writer_thread.detach();
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
    std::signal(SIGHUP, &ConsoleScreen::terminalHungUp);
    std::signal(SIGUSR1, &ConsoleScreen::snapshotSignal);
    if (!silent)
        startConsole();
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

void ConsoleScreen::startConsole()
{
    writer = std::make_shared<Writer>();
    active_console.store(this);
    writer_thread = std::thread(&ConsoleScreen::runWriter, writer);
    key_listener_thread = std::thread(&ConsoleScreen::keyListener, this);
}

// The one thread that writes to the terminal; it may block there as long as
// the terminal pleases, nobody waits for it without a limit.
void ConsoleScreen::runWriter(std::shared_ptr<Writer> writer)
{
    const bool in_curses = enterCurses();
    if (!in_curses)
        writeWithoutWaiting(STDERR_FILENO, "rpi_spectrafox: unknown terminal type (TERM): the "
                                           "console stays blank; --silent runs without one\n");
    for (;;) {
        const ConsoleOutbox::Batch batch = writer->outbox.take(kWriterWake);
        if (in_curses && !terminal_gone.load(std::memory_order_relaxed))
            writeBatch(batch);
        if (batch.closed)
            break;
    }
    if (in_curses) {
        curs_set(1); // endwin leaves a hidden cursor hidden on some terminals
        endwin();
    }
    {
        std::lock_guard<std::mutex> lock(writer->finished_mutex);
        writer->finished = true;
    }
    writer->finished_changed.notify_all();
}

bool ConsoleScreen::finishWriter(std::chrono::milliseconds limit)
{
    writer->outbox.close();
    std::unique_lock<std::mutex> lock(writer->finished_mutex);
    return writer->finished_changed.wait_for(lock, limit, [this] { return writer->finished; });
}

// Keys are read straight from the terminal, never through curses, so a key
// never waits for output and output never waits for a key.
void ConsoleScreen::keyListener()
{
    while (!stop_listener.load()) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kKeyPollMs);
        if (ready == 0)
            continue;
        char bytes[kKeyReadBytes];
        const ssize_t count = ready > 0 && (input.revents & POLLIN)
                                  ? ::read(STDIN_FILENO, bytes, sizeof bytes)
                                  : -1;
        if (count <= 0) {
            // The terminal is gone or at its end; keep the loop alive for
            // the destructor without spinning.
            usleep(kKeyPollMs * 1000);
            continue;
        }
        handleKeys(plainKeysIn(bytes, static_cast<size_t>(count)));
    }
}

void ConsoleScreen::handleKeys(const std::string& keys)
{
    for (const char key : keys) {
        if (key == 's')
            snapshot_wanted.store(true);
        if (key == 't')
            testPatternKeyPressed();
        if (key == 'q') // upper-case Q is ignored
            quitKeyPressed();
    }
}

void ConsoleScreen::quitKeyPressed()
{
    if (quit_key_ends_show.load(std::memory_order_acquire))
        requestQuit();
    else
        showNotice(stop_hint);
}

void ConsoleScreen::signalReceiver(int) { requestQuit(); }

void ConsoleScreen::testPatternKeyPressed() { test_pattern_presses.fetch_add(1); }

// Two presses between frames cancel out.
bool ConsoleScreen::takeTestPatternKey()
{
    return test_pattern_presses.exchange(0) % 2 == 1;
}

// The SSH session or the terminal window closed: the show goes on. Output
// meant for that terminal goes nowhere from here on; a journal or a file on
// standard error keeps it (open, isatty and dup2 are safe in a handler).
void ConsoleScreen::terminalHungUp(int)
{
    terminal_gone.store(true);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere < 0)
        return;
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
        if (::isatty(fd))
            ::dup2(nowhere, fd);
    ::close(nowhere);
}

void ConsoleScreen::snapshotSignal(int) { snapshot_wanted.store(true); }

void ConsoleScreen::requestQuit() { quit.store(true); }

bool ConsoleScreen::isQuit() const { return quit.load(); }

void ConsoleScreen::keepShowOnQuitKey(const std::string& how_to_stop)
{
    stop_hint = how_to_stop;
    quit_key_ends_show.store(false, std::memory_order_release);
}

bool ConsoleScreen::takeSnapshotRequest()
{
    return snapshot_wanted.exchange(false, std::memory_order_relaxed);
}

void ConsoleScreen::showTitle()
{
    if (silent)
        return;
    writer->outbox.post(ConsoleOutbox::Kind::Title, Product::versionLine() + "\n");
}

void ConsoleScreen::print(const char* aFormat, ...)
{
    if (silent)
        return;
    va_list args;
    va_start(args, aFormat);
    char* text = nullptr;
    const int length = vasprintf(&text, aFormat, args);
    va_end(args);
    if (length < 0)
        return;
    writer->outbox.post(ConsoleOutbox::Kind::Text, text);
    std::free(text);
}

void ConsoleScreen::showFrameRate(double fps)
{
    if (silent)
        return;
    writer->outbox.postFrameRate(fps);
}

void ConsoleScreen::showNotice(const std::string& text)
{
    postLine(ConsoleOutbox::Kind::Notice, text);
}

void ConsoleScreen::showTimecode(const std::string& text)
{
    postLine(ConsoleOutbox::Kind::Timecode, text);
}

void ConsoleScreen::postLine(ConsoleOutbox::Kind kind, const std::string& text)
{
    if (silent_process.load() || terminal_gone.load())
        return;
    ConsoleScreen* console = active_console.load();
    if (!console) {
        writeWithoutWaiting(STDERR_FILENO, text + "\n");
        return;
    }
    console->writer->outbox.post(kind, text);
}

} // namespace Spectrafox
