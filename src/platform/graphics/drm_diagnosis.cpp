#include "platform/graphics/drm_diagnosis.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

namespace Spectrafox {

namespace {

struct Connector {
    std::string name; // as the kernel names it, e.g. "HDMI-A-1"
    bool connected = false;
    bool has_modes = false;
};

struct Card {
    std::string name; // "card1"
    std::vector<Connector> connectors;
};

std::string firstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::vector<std::string> entriesOf(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* handle = ::opendir(dir.c_str());
    if (!handle)
        return names;
    while (const dirent* entry = ::readdir(handle))
        names.push_back(entry->d_name);
    ::closedir(handle);
    std::sort(names.begin(), names.end());
    return names;
}

bool isCardName(const std::string& name)
{
    return name.size() > 4 && name.compare(0, 4, "card") == 0 &&
           name.find_first_not_of("0123456789", 4) == std::string::npos;
}

// sysfs lists each connector beside its card as "card1-HDMI-A-1".
std::vector<Card> readCards(const std::string& sysfs_root)
{
    const std::vector<std::string> names = entriesOf(sysfs_root);
    std::vector<Card> cards;
    for (const std::string& name : names)
        if (isCardName(name))
            cards.push_back(Card{name, {}});
    for (Card& card : cards) {
        const std::string prefix = card.name + "-";
        for (const std::string& name : names) {
            if (name.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string dir = sysfs_root + "/" + name;
            Connector connector;
            connector.name = name.substr(prefix.size());
            connector.connected = firstLine(dir + "/status") == "connected";
            connector.has_modes = !firstLine(dir + "/modes").empty();
            card.connectors.push_back(connector);
        }
    }
    return cards;
}

// The connector to name in the advice: the first HDMI one, as on a Pi.
std::string preferredConnector(const Card& card)
{
    for (const Connector& connector : card.connectors)
        if (connector.name.compare(0, 4, "HDMI") == 0)
            return connector.name;
    return card.connectors.empty() ? "HDMI-A-1" : card.connectors.front().name;
}

std::string explainCard(const Card& card, const std::string& device_root)
{
    const std::string device = device_root + "/" + card.name;
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        std::string line = "cannot open " + device + " (" + std::strerror(error) + ")";
        if (error == EACCES || error == EPERM)
            line += ": run as root, or add the user to the video group";
        return line;
    }
    const auto connected = std::find_if(card.connectors.begin(), card.connectors.end(),
                                        [](const Connector& c) { return c.connected; });
    if (connected == card.connectors.end())
        return "no connected display on " + device +
               ": is the projector on and the HDMI cable in? " +
               DrmDiagnosis::forceOutputAdvice(preferredConnector(card));
    if (!connected->has_modes)
        return "the display on " + connected->name + " (" + device +
               ") reports no picture modes: check the cable and the projector's input; " +
               DrmDiagnosis::forceOutputAdvice(connected->name);
    return "a display is connected on " + connected->name + " (" + device +
           "), but the screen could not be taken: is a desktop or another program "
           "(another Spectrafox?) already using it?";
}

} // namespace

std::string DrmDiagnosis::forceOutputAdvice(const std::string& connector)
{
    return "To start without a display answering, force the output on: add video=" + connector +
           ":1920x1080@60D to the kernel command line (/boot/firmware/cmdline.txt), or "
           "hdmi_force_hotplug=1 in config.txt on older firmware.";
}

std::vector<std::string> DrmDiagnosis::explain(const std::string& sysfs_root,
                                               const std::string& device_root)
{
    std::vector<std::string> lines;
    for (const Card& card : readCards(sysfs_root))
        if (!card.connectors.empty())
            lines.push_back(explainCard(card, device_root));
    if (lines.empty())
        lines.push_back("no graphics device with display outputs (" + device_root +
                        "/card*): on a Raspberry Pi, enable the KMS driver with "
                        "dtoverlay=vc4-kms-v3d in /boot/firmware/config.txt");
    return lines;
}

} // namespace Spectrafox
