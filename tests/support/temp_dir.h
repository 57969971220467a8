#pragma once

#include <string>

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

} // namespace Spectrafox::Test
