#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Spectrafox {

// settings.txt: the values changed from the network, one KEY=value a line,
// kept beside config.txt and read after it. A value is everything after the
// first '=' to the line's end (a label keeps its spaces). Lines that are no
// KEY=value, or hold control characters, are skipped on load, as config.txt's
// are. Saving writes a temporary file in the same folder, syncs it and
// renames it over the old one, so a power cut leaves the old file or the new
// one; a link under the name is replaced, never followed, and a file named
// config.txt is never written.
//
// Not thread-safe: one thread owns it.
class SettingsFile {
public:
    explicit SettingsFile(std::string path);

    // False when the file cannot be read (a missing file is no error: empty).
    bool load();
    // False, and nothing changed, for a key that is not [A-Z0-9_]+ or a value
    // with a control character.
    bool set(const std::string& key, const std::string& value);
    void remove(const std::string& key);
    // False, with the reason in error(), when the file could not be written;
    // the values stay set.
    bool save();

    const std::vector<std::pair<std::string, std::string>>& entries() const { return values; }
    const std::string& error() const { return last_error; }
    const std::string& path() const { return file_path; }
    // settings.txt beside the given config.txt path.
    static std::string besideConfig(const std::string& config_path);

private:
    static bool validKey(const std::string& key);
    static bool validValue(const std::string& value);

    std::string file_path;
    std::vector<std::pair<std::string, std::string>> values;
    std::string last_error;
};

} // namespace Spectrafox
