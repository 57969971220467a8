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
    std::exit(1);
}

} // namespace Spectrafox
