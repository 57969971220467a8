#include "base/settings_file.h"

#include "base/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <unistd.h>

namespace Spectrafox {

SettingsFile::SettingsFile(std::string path) : file_path(std::move(path)) {}

std::string SettingsFile::besideConfig(const std::string& config_path)
{
    const std::size_t slash = config_path.rfind('/');
    return slash == std::string::npos ? "settings.txt" : config_path.substr(0, slash + 1) + "settings.txt";
}

bool SettingsFile::validKey(const std::string& key)
{
    if (key.empty())
        return false;
    for (char c : key)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

bool SettingsFile::validValue(const std::string& value)
{
    for (char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

bool SettingsFile::load()
{
    values.clear();
    std::ifstream file(file_path);
    if (!file.is_open())
        return ::access(file_path.c_str(), F_OK) != 0;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            set(line.substr(0, equals), line.substr(equals + 1));
    }
    return true;
}

bool SettingsFile::set(const std::string& key, const std::string& value)
{
    if (!validKey(key) || !validValue(value))
        return false;
    for (auto& entry : values) {
        if (entry.first == key) {
            entry.second = value;
            return true;
        }
    }
    values.emplace_back(key, value);
    return true;
}

void SettingsFile::remove(const std::string& key)
{
    for (auto entry = values.begin(); entry != values.end(); ++entry) {
        if (entry->first == key) {
            values.erase(entry);
            return;
        }
    }
}

bool SettingsFile::save()
{
    std::string text;
    for (const auto& entry : values)
        text += entry.first + "=" + entry.second + "\n";
    if (!RegularFile::replaceAtomically(file_path, text, &last_error))
        return false;
    last_error.clear();
    return true;
}

} // namespace Spectrafox
