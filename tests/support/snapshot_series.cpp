#include "support/snapshot_series.h"

#include <dirent.h>

#include <cstdio>

namespace Spectrafox::Test {

namespace {
constexpr long long kFileNumbers = 1000000000;
}

std::map<long long, std::string> snapshotsByInterval(const std::string& dir, long long started)
{
    std::map<long long, std::string> files;
    DIR* folder = opendir(dir.c_str());
    while (dirent* entry = folder ? readdir(folder) : nullptr) {
        long long number = 0;
        if (std::sscanf(entry->d_name, "shot-%lld.png", &number) != 1)
            continue;
        long long interval = number + started - started % kFileNumbers;
        if (interval < started - 1000)
            interval += kFileNumbers; // numbered after the wrap
        files[interval] = dir + "/" + entry->d_name;
    }
    if (folder)
        closedir(folder);
    return files;
}

} // namespace Spectrafox::Test
