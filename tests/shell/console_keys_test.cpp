#include "shell/console_keys.h"

#include <gtest/gtest.h>

#include <string>

using Spectrafox::plainKeysIn;

namespace {

// Letters inside a function or keypad key's sequence must not act as the
// keys q (quit) or s (snapshot).
TEST(ConsoleKeysTest, EscapeSequencesAreNotKeys)
{
    const struct {
        const char* what;
        std::string bytes;
        std::string keys;
    } cases[] = {
        {"plain keys", "xqs", "xqs"},
        {"keypad 1 in application mode (Esc O q)", "\x1bOq", ""},
        {"F5 between keys", "s\x1b[15~q", "sq"},
        {"Ctrl-arrow with parameters", "\x1b[1;5A", ""},
        {"Alt-q", "\x1bq", ""},
        {"a sequence cut off at the end of a read", "\x1b[1;5", ""},
        {"lone Esc", "\x1b", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plainKeysIn(c.bytes.data(), c.bytes.size()), c.keys) << c.what;
}

} // namespace
