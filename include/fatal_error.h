#pragma once

namespace Spectrafox {

// Ends the process after a failure the system cannot go on from (the Art-Net
// port taken, a broken video pipeline): hands the terminal back first, so the
// message shows on it rather than on the discarded curses screen, prints the
// message on standard output and exits with status 1.
[[noreturn]] void exitWithMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace Spectrafox
