#include "status_led.h"

#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace Spectrafox {

namespace {

constexpr int kPacketsBeforeToggling = 2;

} // namespace

StatusLed::StatusLed(int pin, bool root, std::string root_dir)
    : led_gpio_pin(pin), is_root(root), gpio_root(std::move(root_dir))
{
}

void StatusLed::init()
{
    if (!enabled())
        return;
    // A pin still exported by an earlier run refuses the export; the
    // direction and value writes work all the same.
    writeFile(gpio_root + "/export", std::to_string(led_gpio_pin));
    writeFile(pinFile("direction"), "out");
}

void StatusLed::set(int value)
{
    if (!enabled())
        return;
    led_status = value > 0 ? 1 : 0;
    writeFile(pinFile("value"), led_status ? "1" : "0");
}

void StatusLed::release()
{
    if (!enabled())
        return;
    writeFile(gpio_root + "/unexport", std::to_string(led_gpio_pin));
}

void StatusLed::countPacket()
{
    if (led_packet_counter <= kPacketsBeforeToggling) {
        ++led_packet_counter;
        if (led_packet_counter <= kPacketsBeforeToggling)
            return;
    }
    set(led_status == 0 ? 1 : 0);
}

bool StatusLed::enabled() const
{
    return is_root && led_gpio_pin >= 0;
}

std::string StatusLed::pinFile(const char* name) const
{
    return gpio_root + "/gpio" + std::to_string(led_gpio_pin) + "/" + name;
}

// Opened, written and closed at once; sysfs files are never created here.
void StatusLed::writeFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t ignored = ::write(fd, text.data(), text.size());
    (void)ignored;
    ::close(fd);
}

} // namespace Spectrafox
