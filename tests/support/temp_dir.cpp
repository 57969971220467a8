#include "support/temp_dir.h"

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace Spectrafox::Test {

TempDir::TempDir()
{
    char pattern[] = "/tmp/spectrafox-test-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& content) const
{
    const std::string path = file(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
}

ScopedChdir::ScopedChdir(const std::string& dir)
{
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer) || chdir(dir.c_str()) != 0)
        throw std::runtime_error("chdir failed: " + dir);
    previous = buffer;
}

ScopedChdir::~ScopedChdir()
{
    if (chdir(previous.c_str()) != 0) {
        // Nothing sensible left to do in a destructor.
    }
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string reachableCopy(const std::string& from, const TempDir& dir)
{
    namespace fs = std::filesystem;
    const std::string to = dir.file(fs::path(from).filename().string());
    std::error_code failed;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, failed);
    if (!failed)
        fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec, failed);
    if (!failed)
        fs::permissions(dir.path(), fs::perms::all, failed);
    return failed ? std::string() : to;
}

std::vector<std::pair<std::string, std::string>> reachableSanitizerOptions(const TempDir& dir)
{
    namespace fs = std::filesystem;
    const std::string key = "suppressions=";
    std::vector<std::pair<std::string, std::string>> environment;
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"}) {
        std::istringstream tokens(std::getenv(name) ? std::getenv(name) : "");
        std::string options;
        for (std::string token; tokens >> token; options += token + " ") {
            if (token.rfind(key, 0) != 0)
                continue;
            const std::string from = token.substr(key.size());
            const std::string copy = dir.file(fs::path(from).filename().string());
            std::error_code failed;
            if (fs::copy_file(from, copy, fs::copy_options::overwrite_existing, failed)) {
                fs::permissions(copy, fs::perms::others_read, fs::perm_options::add, failed);
                token = key + copy;
            }
        }
        if (std::getenv(name))
            environment.emplace_back(name, options);
    }
    return environment;
}

} // namespace Spectrafox::Test
