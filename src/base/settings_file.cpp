#include "base/settings_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace Spectrafox {

namespace {

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

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
    if (baseName(file_path) == "config.txt") {
        last_error = "refusing to write config.txt";
        return false;
    }
    const std::string temporary = file_path + ".new";
    if (!writeTemporary(temporary)) {
        last_error = "cannot write " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    // rename replaces a link under the name rather than writing through it.
    if (::rename(temporary.c_str(), file_path.c_str()) != 0) {
        last_error = "cannot rename " + temporary + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    const int folder = ::open(folderOf(file_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    last_error.clear();
    return true;
}

// O_NOFOLLOW and O_EXCL: a link or a file left under the temporary name is
// never written through; a stale one from a power cut is removed first.
bool SettingsFile::writeTemporary(const std::string& temporary)
{
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        return false;
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::string text;
    for (const auto& entry : values)
        text += entry.first + "=" + entry.second + "\n";
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const int saved_errno = errno;
    ::close(fd);
    errno = saved_errno;
    return written;
}

} // namespace Spectrafox
