#pragma once

namespace Spectrafox {

// Every exit after a failure the system cannot go on from goes through here,
// so each failure kind has one stream and one way out: the hook first (the
// console hands the terminal back, so the text shows on it rather than on
// the discarded curses screen), then the text, then status 1. Safe from any
// thread.

// What the process must undo before a fatal exit; set by the layer that
// changed it (the console). Null means nothing.
void setFatalExitHook(void (*hook)());

// A failure of the running system (the Art-Net port taken, a broken video
// pipeline), on standard output.
[[noreturn]] void exitWithMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A failed display set-up check, on standard error, where a failed assertion
// would print it.
[[noreturn]] void exitWithDiagnostic(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

} // namespace Spectrafox
