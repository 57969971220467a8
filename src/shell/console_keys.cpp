#include "shell/console_keys.h"

namespace Spectrafox {

namespace {
constexpr char kEscape = '\x1b';

bool isFinalByte(char c)
{
    return c >= 0x40 && c <= 0x7e;
}

// Index just past the escape sequence that starts at `start`.
size_t skipEscapeSequence(const char* bytes, size_t count, size_t start)
{
    size_t i = start + 1;
    if (i >= count)
        return i;
    if (bytes[i] == 'O') // SS3: one more byte names the key
        return i + 2;
    if (bytes[i] != '[') // Alt with a key, or a lone Esc before it
        return i + 1;
    for (++i; i < count; ++i)
        if (isFinalByte(bytes[i]))
            return i + 1;
    return i;
}
} // namespace

std::string plainKeysIn(const char* bytes, size_t count)
{
    std::string keys;
    for (size_t i = 0; i < count;) {
        if (bytes[i] == kEscape) {
            i = skipEscapeSequence(bytes, count, i);
            continue;
        }
        keys += bytes[i];
        ++i;
    }
    return keys;
}

} // namespace Spectrafox
