#pragma once

#include <functional>
#include <string>

namespace Spectrafox {

// An optional LED on a sysfs GPIO pin: lit while the receiver runs, toggled by
// the Art-Net traffic. Every operation does nothing unless the process runs as
// root and a pin (0 or more) is configured. The configured pin is the SoC's
// pin number; sysfs numbers it from the base of the SoC's GPIO chip (0 on
// older kernels, 512 and up since Linux 6.6). A failed export is reported
// once; other failed writes are ignored.
//
// Threading: init and the first set run before the listener thread starts,
// countPacket only on that thread, the final set and release after it was
// joined; the thread start and join order every access.
class StatusLed {
public:
    static constexpr const char* kSysfsGpioRoot = "/sys/class/gpio";
    using Reporter = std::function<void(const std::string& message)>;

    // Without a reporter, failures go to standard error.
    StatusLed(int led_gpio_pin, bool is_root, std::string gpio_root = kSysfsGpioRoot,
              Reporter reporter = nullptr);

    // Finds the chip's base, exports the pin and makes it an output.
    void init();
    // Level 1 for a value above 0, else 0; written only when it changes.
    void set(int value);
    // Unexports the pin.
    void release();
    // Counts a recognised packet; from the third on every packet toggles.
    void countPacket();

    int status() const { return led_status; }
    // The pin's number in sysfs, known after init.
    int sysfsNumber() const { return led_gpio_pin + chip_base; }

private:
    bool enabled() const;
    int findChipBase() const;
    std::string pinFile(const char* name) const;
    // 0 on success, else the errno of the failed step.
    static int writeFile(const std::string& path, const std::string& text);

    int led_gpio_pin;
    bool is_root;
    std::string gpio_root;
    Reporter reporter;
    int chip_base = 0;
    int led_status = 0;
    bool level_written = false;
    // Only "above 2" matters, so it stops counting there and never overflows.
    int led_packet_counter = 0;
};

} // namespace Spectrafox
