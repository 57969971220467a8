// scripts/install-service.sh, always into a scratch root: this machine's own
// systemd is never touched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/tmux_session.h"

using Spectrafox::Test::readFile;
using Spectrafox::Test::runCommand;
using Spectrafox::Test::TempDir;

namespace {

const std::string kScript = std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/install-service.sh";
const std::string kUnit = "/etc/systemd/system/spectrafox.service";
const std::string kWants = "/etc/systemd/system/multi-user.target.wants/spectrafox.service";

std::string quote(const std::string& text) { return "'" + text + "'"; }

bool exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int runScript(const std::string& arguments, std::string* output = nullptr)
{
    int status = -1;
    const std::string text = runCommand(quote(kScript) + " " + arguments + " 2>&1", &status);
    if (output)
        *output = text;
    return status;
}

struct Scratch {
    Scratch()
    {
        root.write(".keep", "");
        show.write("show folder/config.txt", "ANZAHL=2\n");
        show_dir = show.file("show folder");
    }
    std::string rootArg() const { return "--root " + quote(root.path()); }
    TempDir root, show;
    std::string show_dir;
};

TEST(InstallService, InstallsAnEnabledUnitThatVerifiesAndUninstallsCleanly)
{
    Scratch s;
    const std::string binary = std::string("--binary ") + quote(SPECTRAFOX_BINARY);
    std::string output;
    ASSERT_EQ(runScript(s.rootArg() + " " + binary + " " + quote(s.show_dir), &output), 0) << output;
    const std::string unit_path = s.root.path() + kUnit;
    const std::string unit = readFile(unit_path);
    const std::vector<std::string> lines = {
        "WorkingDirectory=" + s.show_dir + "\n",
        std::string("ExecStart=\"") + SPECTRAFOX_BINARY + "\" --service\n",
        "Type=notify\n",
        "WatchdogSec=15\n",
        "Restart=on-failure\n",
        "StartLimitIntervalSec=300\n",
        "StartLimitBurst=5\n",
        "KillSignal=SIGTERM\n",
        "TimeoutStopSec=10\n",
        "TTYPath=/dev/tty1\n",
        "StandardInput=tty\n",
        "Conflicts=getty@tty1.service\n",
        "WantedBy=multi-user.target\n",
    };
    for (const std::string& line : lines)
        EXPECT_NE(unit.find("\n" + line), std::string::npos) << "missing " << line << unit;
    EXPECT_EQ(unit.find("--headless"), std::string::npos) << "a service must not render to nowhere";
    EXPECT_TRUE(exists(s.root.path() + kWants)) << "not enabled";
    EXPECT_FALSE(exists(unit_path + ".part"));

    // Installing again replaces the unit in place.
    ASSERT_EQ(runScript(s.rootArg() + " " + binary + " " + quote(s.show_dir), &output), 0) << output;
    EXPECT_EQ(readFile(unit_path), unit);

    ASSERT_EQ(runScript(s.rootArg() + " --uninstall", &output), 0) << output;
    EXPECT_FALSE(exists(unit_path));
    EXPECT_FALSE(exists(s.root.path() + kWants));
    // Nothing left to remove is not an error.
    ASSERT_EQ(runScript(s.rootArg() + " --uninstall", &output), 0) << output;
    EXPECT_NE(output.find("not installed"), std::string::npos) << output;

    // Last, on a fresh copy: the tool may be missing where the test packages
    // were not installed (scripts/install-deps.sh --test brings it).
    if (runCommand("command -v systemd-analyze").empty())
        GTEST_SKIP() << "systemd-analyze missing: the unit file was not verified";
    ASSERT_EQ(runScript(s.rootArg() + " " + binary + " " + quote(s.show_dir), &output), 0) << output;
    int status = -1;
    const std::string verdict =
        runCommand("systemd-analyze verify " + quote(unit_path) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << verdict;
    EXPECT_EQ(verdict.find("Unknown key"), std::string::npos) << verdict;
    EXPECT_EQ(verdict.find("ignoring"), std::string::npos) << verdict;
}

TEST(InstallService, RefusesWhatWouldGiveABrokenServiceAndWritesNothing)
{
    Scratch s;
    s.show.write("empty/.keep", "");
    s.show.write("odd%name/config.txt", "");
    const std::string binary = std::string("--binary ") + quote(SPECTRAFOX_BINARY);
    const struct {
        const char* name;
        std::string arguments;
        const char* says;
    } cases[] = {
        {"show folder without config.txt", s.rootArg() + " " + binary + " " + quote(s.show.file("empty")),
         "has no config.txt"},
        {"no such show folder", s.rootArg() + " " + binary + " " + quote(s.show.file("gone")),
         "no such show folder"},
        {"server not built", s.rootArg() + " --binary " + quote(s.show.file("none")) + " " + quote(s.show_dir),
         "build first"},
        {"systemd specifier in the path", s.rootArg() + " " + binary + " " + quote(s.show.file("odd%name")),
         "unusable characters"},
        {"no such root", "--root " + quote(s.root.file("gone")) + " " + binary + " " + quote(s.show_dir),
         "no such root"},
        {"unknown option", s.rootArg() + " --force", "unknown option"},
    };
    for (const auto& c : cases) {
        std::string output;
        EXPECT_EQ(runScript(c.arguments, &output), 2) << c.name << "\n" << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << c.name << "\n" << output;
        EXPECT_FALSE(exists(s.root.path() + kUnit)) << c.name;
    }
}

} // namespace
