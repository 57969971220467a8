#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Spectrafox::Test {

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // Writes (creating parent directories) and returns the full path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string dir;
};

// Changes the working directory for the lifetime of the object.
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string& dir);
    ~ScopedChdir();

private:
    std::string previous;
};

std::string readFile(const std::string& path);

// A copy of the executable at `from` in `dir`, that every user may run: the
// build tree may lie under a home that no other user can enter (mode 700).
// The folder is opened to every user too. Empty when it cannot be made.
std::string reachableCopy(const std::string& from, const TempDir& dir);
// This process's sanitizer options for a program run as another user beside
// such a copy: suppressions files copied into `dir`, readable by every user.
std::vector<std::pair<std::string, std::string>> reachableSanitizerOptions(const TempDir& dir);

} // namespace Spectrafox::Test
