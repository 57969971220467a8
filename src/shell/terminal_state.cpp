#include "shell/terminal_state.h"

#include <cstdint>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Spectrafox {

TerminalState::TerminalState(Control console_control) : control(console_control) {}

int TerminalState::systemControl(int fd, unsigned long request, void* argument)
{
    return ::ioctl(fd, request, argument);
}

void TerminalState::save(int terminal_fd)
{
    fd = terminal_fd;
    has_line_settings = ::tcgetattr(fd, &line_settings) == 0;
    keyboard_mode = 0;
    has_keyboard_mode = control(fd, KDGKBMODE, &keyboard_mode) == 0;
    display_mode = 0;
    has_display_mode = control(fd, KDGETMODE, &display_mode) == 0;
}

void TerminalState::restore() const
{
    if (fd < 0)
        return;
    // KDSKBMODE and KDSETMODE take the mode as the argument itself.
    if (has_display_mode)
        control(fd, KDSETMODE, reinterpret_cast<void*>(static_cast<intptr_t>(display_mode)));
    if (has_keyboard_mode)
        control(fd, KDSKBMODE, reinterpret_cast<void*>(static_cast<intptr_t>(keyboard_mode)));
    if (has_line_settings)
        ::tcsetattr(fd, TCSANOW, &line_settings);
}

} // namespace Spectrafox
