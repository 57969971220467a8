#include "shell/terminal_state.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <linux/kd.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

using Spectrafox::TerminalState;

namespace {

// Stands in for ioctl(2) on a virtual console: answers the mode queries as
// the case says and records every call, so no real console is touched.
struct FakeConsole {
    struct Call {
        unsigned long request;
        intptr_t argument;
    };
    static inline bool keyboard_readable = true;
    static inline bool display_readable = true;
    static inline int keyboard_mode = K_UNICODE;
    static inline int display_mode = KD_TEXT;
    static inline std::vector<Call> calls;

    static int control(int, unsigned long request, void* argument)
    {
        if (request == KDGKBMODE || request == KDGETMODE) {
            const bool readable = request == KDGKBMODE ? keyboard_readable : display_readable;
            if (!readable) {
                errno = ENOTTY;
                return -1;
            }
            *static_cast<int*>(argument) = request == KDGKBMODE ? keyboard_mode : display_mode;
            return 0;
        }
        calls.push_back({request, reinterpret_cast<intptr_t>(argument)});
        return 0;
    }
};

struct Pty {
    Pty() { ok = openpty(&master, &slave, nullptr, nullptr, nullptr) == 0; }
    ~Pty()
    {
        if (ok) {
            close(master);
            close(slave);
        }
    }
    bool ok = false;
    int master = -1;
    int slave = -1;
};

bool sameLineSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(a.c_cc, a.c_cc + NCCS, b.c_cc);
}

TEST(TerminalState, PutsBackWhatTheConsoleHadWhateverChangedSince)
{
    struct Case {
        const char* name;
        bool keyboard_readable, display_readable;
        int keyboard_mode, display_mode;
        std::vector<FakeConsole::Call> expected; // per restore
    };
    const Case cases[] = {
        {"console in unicode text mode", true, true, K_UNICODE, KD_TEXT,
         {{KDSETMODE, KD_TEXT}, {KDSKBMODE, K_UNICODE}}},
        {"console in xlate mode", true, true, K_XLATE, KD_TEXT,
         {{KDSETMODE, KD_TEXT}, {KDSKBMODE, K_XLATE}}},
        {"keyboard only", true, false, K_UNICODE, KD_TEXT, {{KDSKBMODE, K_UNICODE}}},
        {"not a console (a pty, a serial line)", false, false, K_UNICODE, KD_TEXT, {}},
    };
    for (const Case& c : cases) {
        Pty pty;
        ASSERT_TRUE(pty.ok);
        FakeConsole::keyboard_readable = c.keyboard_readable;
        FakeConsole::display_readable = c.display_readable;
        FakeConsole::keyboard_mode = c.keyboard_mode;
        FakeConsole::display_mode = c.display_mode;
        FakeConsole::calls.clear();

        TerminalState state(&FakeConsole::control);
        state.save(pty.slave);
        EXPECT_EQ(state.hasKeyboardMode(), c.keyboard_readable) << c.name;
        EXPECT_TRUE(FakeConsole::calls.empty()) << c.name << ": save changed something";

        // The video layer switches the keyboard off meanwhile; twice, as an
        // exit hook after a fatal path would.
        FakeConsole::keyboard_mode = K_OFF;
        FakeConsole::display_mode = KD_GRAPHICS;
        state.restore();
        state.restore();
        std::vector<FakeConsole::Call> twice = c.expected;
        twice.insert(twice.end(), c.expected.begin(), c.expected.end());
        ASSERT_EQ(FakeConsole::calls.size(), twice.size()) << c.name;
        for (size_t i = 0; i < twice.size(); ++i) {
            EXPECT_EQ(FakeConsole::calls[i].request, twice[i].request) << c.name << " call " << i;
            EXPECT_EQ(FakeConsole::calls[i].argument, twice[i].argument) << c.name << " call " << i;
        }
    }
}

TEST(TerminalState, RestoresTheLineSettingsOfAPseudoTerminal)
{
    Pty pty;
    ASSERT_TRUE(pty.ok);
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ECHO);

    TerminalState state(&FakeConsole::control);
    state.save(pty.slave);
    ASSERT_TRUE(state.hasLineSettings());
    termios raw = before;
    cfmakeraw(&raw);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON);
    ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &raw), 0);

    state.restore();
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_TRUE(sameLineSettings(before, after));
    EXPECT_TRUE(after.c_lflag & ECHO);
    EXPECT_TRUE(after.c_lflag & ICANON);
}

TEST(TerminalState, NothingSavedNothingTouched)
{
    FakeConsole::calls.clear();
    TerminalState never_saved(&FakeConsole::control);
    never_saved.restore();
    EXPECT_TRUE(FakeConsole::calls.empty());

    // Not a terminal at all: a pipe.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    FakeConsole::keyboard_readable = false;
    FakeConsole::display_readable = false;
    TerminalState on_pipe(&FakeConsole::control);
    on_pipe.save(fds[0]);
    EXPECT_FALSE(on_pipe.hasLineSettings());
    on_pipe.restore();
    EXPECT_TRUE(FakeConsole::calls.empty());
    close(fds[0]);
    close(fds[1]);
}

} // namespace
