#pragma once

#include <termios.h>

namespace Spectrafox {

// The controlling terminal as the program found it: its line settings and,
// on a Linux virtual console, the keyboard and display modes. The KMS/DRM
// video layer switches the console keyboard off while it runs; a process
// that ends without its clean-up (a fatal error, _Exit) would leave the
// console dead until reboot, so every way out puts these back.
class TerminalState {
public:
    // The ioctl(2) used for the console modes; tests give their own.
    using Control = int (*)(int fd, unsigned long request, void* argument);

    explicit TerminalState(Control control = &systemControl);

    // Remembers what fd's terminal is set to now; what cannot be read is
    // left alone later. Keeps no ownership of fd.
    void save(int fd);
    // Puts back what was saved; safe to repeat, and safe in a signal handler.
    void restore() const;

    bool hasKeyboardMode() const { return has_keyboard_mode; }
    bool hasLineSettings() const { return has_line_settings; }

    static int systemControl(int fd, unsigned long request, void* argument);

private:
    Control control;
    int fd = -1;
    bool has_line_settings = false;
    termios line_settings{};
    bool has_keyboard_mode = false;
    int keyboard_mode = 0;
    bool has_display_mode = false;
    int display_mode = 0;
};

} // namespace Spectrafox
