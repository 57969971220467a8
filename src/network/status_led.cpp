#include "network/status_led.h"


#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>
#include <cstdlib>

namespace Spectrafox {

namespace {

constexpr int kPacketsBeforeToggling = 2;

// The labels of the pin controllers that own the header pins, best first:
// the Pi 5's RP1, then the Pi 4's and the older Pis' SoC.
constexpr const char* kHeaderChipLabels[] = {"pinctrl-rp1", "pinctrl-bcm2711", "pinctrl-bcm2835"};

std::string firstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

bool isDirectory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The chip directories (gpiochipN) under the root.
std::vector<std::string> chipDirectories(const std::string& root)
{
    std::vector<std::string> chips;
    DIR* dir = ::opendir(root.c_str());
    if (!dir)
        return chips;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, "gpiochip", 8) == 0)
            chips.push_back(root + "/" + entry->d_name);
    ::closedir(dir);
    return chips;
}

int labelRank(const std::string& label)
{
    int rank = 0;
    for (const char* known : kHeaderChipLabels) {
        if (label == known)
            return rank;
        ++rank;
    }
    return -1;
}

void reportOnStandardError(const std::string& message)
{
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

} // namespace

StatusLed::StatusLed(int pin, bool root, std::string root_dir, Reporter report)
    : led_gpio_pin(pin), is_root(root), gpio_root(std::move(root_dir)),
      reporter(report ? std::move(report) : Reporter(&reportOnStandardError))
{
}

void StatusLed::init()
{
    if (!enabled())
        return;
    chip_base = findChipBase();
    const int export_error = writeFile(gpio_root + "/export", std::to_string(sysfsNumber()));
    // A pin still exported by an earlier run refuses the export; the
    // direction and value writes work all the same. Without its directory
    // the LED can never light: say so once.
    if (!isDirectory(gpio_root + "/gpio" + std::to_string(sysfsNumber()))) {
        reporter("Status LED: cannot export GPIO " + std::to_string(led_gpio_pin) + " (sysfs " +
                 std::to_string(sysfsNumber()) + ") in " + gpio_root + ": " +
                 std::strerror(export_error ? export_error : ENOENT));
        return;
    }
    writeFile(pinFile("direction"), "out");
}

// Older kernels number the SoC's pins from 0, and so do trees without a
// recognised chip.
int StatusLed::findChipBase() const
{
    int best_rank = -1;
    int base = 0;
    for (const std::string& chip : chipDirectories(gpio_root)) {
        const int rank = labelRank(firstLine(chip + "/label"));
        if (rank < 0 || (best_rank >= 0 && rank >= best_rank))
            continue;
        const std::string text = firstLine(chip + "/base");
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || value < 0 || value > 1000000)
            continue;
        best_rank = rank;
        base = static_cast<int>(value);
    }
    return base;
}

void StatusLed::set(int value)
{
    if (!enabled())
        return;
    const int level = value > 0 ? 1 : 0;
    // sysfs is touched only when the level changes.
    if (level_written && level == led_status)
        return;
    led_status = level;
    level_written = true;
    writeFile(pinFile("value"), led_status ? "1" : "0");
}

void StatusLed::release()
{
    if (!enabled())
        return;
    writeFile(gpio_root + "/unexport", std::to_string(sysfsNumber()));
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
    return gpio_root + "/gpio" + std::to_string(sysfsNumber()) + "/" + name;
}

// Opened, written and closed at once; sysfs files are never created here.
int StatusLed::writeFile(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int error = written < 0 ? errno : 0;
    ::close(fd);
    return error;
}

} // namespace Spectrafox
