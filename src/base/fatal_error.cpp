#include "base/fatal_error.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace Spectrafox {

namespace {

std::atomic<void (*)()> fatal_exit_hook{nullptr};

void runHookThenWrite(std::FILE* stream, const char* format, va_list args)
{
    if (void (*hook)() = fatal_exit_hook.load())
        hook();
    std::vfprintf(stream, format, args);
    std::fflush(stream);
    std::fflush(stdout);
}

[[noreturn]] void endProcess()
{
    // _Exit: the caller may be any thread, and the others still run; they must
    // not see the program's static objects torn down under them.
    std::_Exit(EXIT_FAILURE);
}

} // namespace

void setFatalExitHook(void (*hook)())
{
    fatal_exit_hook.store(hook);
}

void exitWithMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runHookThenWrite(stdout, format, args);
    va_end(args);
    endProcess();
}

void exitWithDiagnostic(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runHookThenWrite(stderr, format, args);
    va_end(args);
    endProcess();
}

} // namespace Spectrafox
