#include "fatal_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "console_screen.h"

namespace Spectrafox {

void exitWithMessage(const char* format, ...)
{
    ConsoleScreen::leaveTerminal();
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
    // _Exit: the caller may be any thread, and the others still run; they must
    // not see the program's static objects torn down under them.
    std::_Exit(1);
}

} // namespace Spectrafox
