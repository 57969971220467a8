// The package lists of scripts/install-deps.sh for each release we support:
// a name that the release lacks stops a new user's first command at once.
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace Spectrafox {
namespace {

using Test::ChildProcess;
using Test::TempDir;

struct Listing {
    int exit_code = -1;
    std::vector<std::string> packages;

    bool has(const std::string& name) const
    {
        return std::find(packages.begin(), packages.end(), name) != packages.end();
    }
};

Listing listPackages(const TempDir& dir, const std::string& os_release, const std::string& group)
{
    const std::string release_file = dir.write("os-release", os_release);
    ChildProcess::Setup setup;
    setup.argv = {"bash", std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/install-deps.sh", "--print"};
    if (!group.empty())
        setup.argv.push_back(group);
    setup.environment = {{"SPECTRAFOX_OS_RELEASE", release_file}};
    setup.stdout_path = dir.file("out.txt");
    ChildProcess child(setup);
    int status = 0;
    Listing listing;
    if (!child.waitExit(20000, &status) || !WIFEXITED(status))
        return listing;
    listing.exit_code = WEXITSTATUS(status);
    std::istringstream lines(Test::readFile(dir.file("out.txt")));
    for (std::string line; std::getline(lines, line);)
        listing.packages.push_back(line);
    return listing;
}

const char* const kBookworm = "ID=debian\nVERSION_ID=\"12\"\nVERSION_CODENAME=bookworm\n";
const char* const kTrixie = "ID=debian\nVERSION_ID=\"13\"\nVERSION_CODENAME=trixie\n";
const char* const kRaspbianBookworm =
    "PRETTY_NAME=\"Raspbian GNU/Linux 12 (bookworm)\"\nID=raspbian\nID_LIKE=debian\n"
    "VERSION_CODENAME=bookworm\n";
const char* const kPiOsTrixie =
    "PRETTY_NAME=\"Debian GNU/Linux 13 (trixie)\"\nID=debian\nVERSION_CODENAME=trixie\n";

struct ReleaseCase {
    const char* name;
    const char* os_release;
    const char* group;
    std::vector<std::string> wanted;
    std::vector<std::string> not_wanted;
};

TEST(InstallDepsTest, ListsOnlyPackagesTheReleaseHas)
{
    // Gone from Debian 13, or never needed any more: these must not be asked
    // for on any release.
    const std::vector<std::string> never = {"libomxil-bellagio-dev", "mediainfo"};
    const std::vector<ReleaseCase> cases = {
        {"bookworm test", kBookworm, "--test",
         {"libfuzzer-14-dev", "libclang-rt-14-dev", "clang", "libgtest-dev", "libgif-dev",
          "libgles-dev", "libgles1?"},
         {"libfuzzer-19-dev", "libgles1"}},
        {"trixie test", kTrixie, "--test",
         {"libfuzzer-19-dev", "libclang-rt-19-dev", "clang", "libgtest-dev", "libgles-dev",
          "libgles1?"},
         {"libfuzzer-14-dev", "libclang-rt-14-dev", "libgles1"}},
        {"Raspbian bookworm test", kRaspbianBookworm, "--test",
         {"libfuzzer-14-dev", "libclang-rt-14-dev"}, {"libfuzzer-19-dev"}},
        {"Raspberry Pi OS trixie test", kPiOsTrixie, "--test",
         {"libfuzzer-19-dev", "libclang-rt-19-dev"}, {"libfuzzer-14-dev"}},
        // Building and running: GLES2 headers, no GLES1 library, no test tools.
        {"trixie build", kTrixie, "",
         {"build-essential", "cmake", "pkg-config", "libgles-dev", "libegl-dev", "libsdl2-dev",
          "libstb-dev", "libsystemd-dev"},
         {"libgles1", "libgles1?", "libgtest-dev", "libgif-dev", "clang", "imagemagick"}},
        {"bookworm demo", kBookworm, "--demo",
         {"libgles-dev", "imagemagick", "ffmpeg"},
         {"libgtest-dev", "libgmock-dev", "clang", "ola"}},
    };
    for (const ReleaseCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Listing listing = listPackages(dir, c.os_release, c.group);
        ASSERT_EQ(listing.exit_code, 0);
        for (const std::string& name : c.wanted)
            EXPECT_TRUE(listing.has(name)) << name;
        for (const std::string& name : c.not_wanted)
            EXPECT_FALSE(listing.has(name)) << name;
        for (const std::string& name : never)
            EXPECT_FALSE(listing.has(name)) << name;
    }
}

// apt-get, dpkg-query and sudo stubbed on PATH: cmake is missing, and its
// download fails `failures` times with what apt says then.
struct FlakyCase {
    const char* name;
    const char* apt_says;
    int failures;
    int install_calls; // each with apt's own retries asked for
    const char* said;
    bool blames_network;
};

TEST(InstallDepsTest, RetriesDownloadsAndBlamesTheNetworkNotThePackage)
{
    const char* const timeout = "E: Failed to fetch http://deb.debian.org/debian/pool/main/c/cmake/"
                                "cmake_3.25.1-1_amd64.deb  Could not connect to deb.debian.org:80, connection timed out";
    const FlakyCase cases[] = {
        {"two time-outs, then it downloads", timeout, 2, 3, "trying again", true},
        {"the network never comes back", timeout, 99, 3, "could not download cmake after 3 tries", true},
        {"a package the release lacks", "E: Unable to locate package cmake", 99, 1, "Unable to locate", false},
    };
    for (const FlakyCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("bin/sudo", "#!/bin/sh\nexec \"$@\"\n");
        dir.write("bin/dpkg-query", "#!/bin/sh\nfor a; do last=$a; done\n"
                                    "[ \"$last\" = cmake ] && exit 1; echo 'install ok installed'\n");
        const std::string calls = dir.file("calls");
        dir.write("bin/apt-get", "#!/bin/sh\necho \"$*\" >> " + calls + "\n"
                                 "case \"$*\" in *install*) ;; *) exit 0 ;; esac\n"
                                 "[ $(grep -c install " + calls + ") -gt " + std::to_string(c.failures) +
                                     " ] && exit 0\necho '" + c.apt_says + "' >&2; exit 100\n");
        ASSERT_EQ(std::system(("chmod +x " + dir.file("bin") + "/*").c_str()), 0);
        ChildProcess::Setup setup;
        setup.argv = {"bash", std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/install-deps.sh"};
        setup.environment = {{"PATH", dir.file("bin") + ":" + std::getenv("PATH")},
                             {"SPECTRAFOX_FETCH_PAUSE", "0"}};
        setup.stdout_path = dir.file("out.txt");
        setup.stderr_path = dir.file("err.txt");
        ChildProcess child(setup);
        int status = 0;
        ASSERT_TRUE(child.waitExit(20000, &status));
        const std::string said =
            Spectrafox::Test::readFile(dir.file("out.txt")) + Spectrafox::Test::readFile(dir.file("err.txt"));
        EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, c.failures < c.install_calls) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(said.find("the network failed") != std::string::npos, c.blames_network) << said;
        std::istringstream lines(Spectrafox::Test::readFile(calls));
        int installs = 0;
        for (std::string line; std::getline(lines, line);)
            installs += line.rfind("-o Acquire::Retries=5 install", 0) == 0;
        EXPECT_EQ(installs, c.install_calls);
    }
}

// An optional package the release has is installed, however long
// apt-cache's answer about it (a browser's lists hundreds of versions).
TEST(InstallDepsTest, InstallsTheOptionalPackagesTheReleaseHas)
{
    TempDir dir;
    dir.write("bin/sudo", "#!/bin/sh\nexec \"$@\"\n");
    dir.write("bin/npm", "#!/bin/sh\n");
    dir.write("bin/dpkg-query", "#!/bin/sh\nfor a; do last=$a; done\n[ \"$last\" = chromium ] || echo 'install ok installed'\n");
    dir.write("bin/apt-cache", "#!/bin/sh\necho '  Candidate: 1.0-1'; seq 100000\n");
    dir.write("bin/apt-get", "#!/bin/sh\necho \"$*\" >> " + dir.file("calls") + "\n");
    ASSERT_EQ(std::system(("chmod +x " + dir.file("bin") + "/*").c_str()), 0);
    ChildProcess::Setup setup;
    setup.argv = {"bash", std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/install-deps.sh", "--test"};
    setup.environment = {{"PATH", dir.file("bin") + ":" + std::getenv("PATH")},
                         {"SPECTRAFOX_OS_RELEASE", dir.write("os-release", kBookworm)}};
    ChildProcess child(setup);
    int status = 0;
    ASSERT_TRUE(child.waitExit(20000, &status));
    EXPECT_NE(Spectrafox::Test::readFile(dir.file("calls")).find(" chromium"), std::string::npos);
}

TEST(InstallDepsTest, RefusesAnUnknownGroup)
{
    TempDir dir;
    EXPECT_EQ(listPackages(dir, kTrixie, "--everything").exit_code, 2);
}

} // namespace
} // namespace Spectrafox
