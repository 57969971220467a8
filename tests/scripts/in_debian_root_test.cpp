// scripts/in-debian-root.sh binds /proc, /dev, /dev/pts and /sys into a root
// for the command's run. A mount left behind keeps the machine's /dev inside
// a folder that a later clean-up deletes, so every way out must undo them.
// Runs in a private mount namespace, on a tiny root made of this machine's
// own bash, so neither debootstrap nor the network is needed.
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace Spectrafox {
namespace {

using Test::ChildProcess;
using Test::TempDir;
using Test::readFile;

ChildProcess::Setup command(std::vector<std::string> argv)
{
    ChildProcess::Setup setup;
    setup.argv = std::move(argv);
    return setup;
}

// A root that looks made already (apt-get and debian_version present), with
// bash, env and sleep and the libraries they load.
const char* const kMakeRoot = R"sh(set -e
r="$1"
mkdir -p "$r/usr/bin" "$r/usr/lib" "$r/usr/lib64" "$r/etc" "$r/root" "$r/proc" "$r/dev" "$r/sys"
ln -s usr/bin "$r/bin"; ln -s usr/lib "$r/lib"; ln -s usr/lib64 "$r/lib64"
for b in /usr/bin/bash /usr/bin/env /usr/bin/sleep; do
  for f in "$b" $(ldd "$b" | grep -o '/[^ ]*'); do
    mkdir -p "$r$(dirname "$f")"; cp -L "$f" "$r$f"
  done
done
printf '#!/bin/sh\nexit 0\n' > "$r/usr/bin/apt-get"; chmod +x "$r/usr/bin/apt-get"
echo 13.0 > "$r/etc/debian_version"
)sh";

// Runs the script in a private mount namespace and reports its exit code and
// how many mounts below the root are left once it has ended. With interrupt
// set, Ctrl-C reaches its process group as soon as the command has started.
const char* const kRunScript = R"sh(r="$1"; shift; interrupt="$1"; shift
set -m
"$@" & pid=$!
if [ "$interrupt" = yes ]; then
  for i in $(seq 200); do [ -e "$r/root/started" ] && break; sleep 0.05; done
  kill -INT -- -"$pid"
fi
wait "$pid"; rc=$?
left=$(awk -v d="$r" '$2 == d || index($2, d "/") == 1' /proc/self/mounts | wc -l)
echo "rc=$rc left=$left"
)sh";

struct Outcome {
    int exit_code = -1;
    int mounts_left = -1;
};

Outcome runInRoot(const TempDir& dir, const std::string& root, bool interrupt,
                  const std::string& shell_command)
{
    ChildProcess::Setup setup;
    setup.argv = {"timeout", "60", "unshare", "--mount", "--propagation", "private",
                  "bash", "-c", kRunScript, "run", root, interrupt ? "yes" : "no",
                  std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/in-debian-root.sh",
                  "--root", root, "trixie", "bash", "-c", shell_command};
    setup.stdout_path = dir.file("run.txt");
    setup.stderr_path = dir.file("run.err");
    ChildProcess child(setup);
    int status = 0;
    Outcome outcome;
    if (!child.waitExit(90000, &status))
        return outcome;
    const std::string report = readFile(dir.file("run.txt"));
    std::sscanf(report.c_str() + std::min(report.find("rc="), report.size()), "rc=%d left=%d",
                &outcome.exit_code, &outcome.mounts_left);
    return outcome;
}

// Inside a chroot or a container the kernel may refuse a private mount
// namespace; the reason when it does, empty when it gives one.
std::string privateMountsRefused()
{
    TempDir dir;
    ChildProcess::Setup setup = command({"unshare", "--mount", "--propagation", "private", "true"});
    setup.stderr_path = dir.file("err.txt");
    ChildProcess probe(setup);
    int status = 0;
    if (probe.waitExit(10000, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    return "this machine gives no private mount namespace (a chroot or a container?): " +
           readFile(dir.file("err.txt"));
}

struct ExitCase {
    const char* name;
    std::string command;
    bool interrupt;
    int exit_code;
};

TEST(InDebianRootTest, UnmountsOnEveryWayOut)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "mounts and chroot need root";
    if (const std::string refused = privateMountsRefused(); !refused.empty())
        GTEST_SKIP() << refused;
    const std::vector<ExitCase> cases = {
        // The binds are there while the command runs, and the tree is copied in.
        {"success",
         "test -r /proc/self/status && test -c /dev/null && test -d /dev/pts/. && "
         "test -d /sys/kernel && test -w /dev/shm && "
         "test -x /root/spectrafox/scripts/in-debian-root.sh",
         false, 0},
        {"failure", "exit 3", false, 3},
        {"killed", "kill -KILL $$", false, 137},
        {"Ctrl-C", "touch /root/started; sleep 30", true, 130},
    };
    for (const ExitCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string root = dir.file("root");
        ChildProcess make(command({"bash", "-c", kMakeRoot, "make", root}));
        int status = 0;
        ASSERT_TRUE(make.waitExit(30000, &status));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        const Outcome outcome = runInRoot(dir, root, c.interrupt, c.command);
        EXPECT_EQ(outcome.exit_code, c.exit_code) << readFile(dir.file("run.err"));
        EXPECT_EQ(outcome.mounts_left, 0);
    }
}

TEST(InDebianRootTest, RefusesToRemoveAFolderThatIsNoDebianRoot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "the script runs as root only";
    TempDir dir;
    const std::string keep = dir.write("not-a-root/keep.txt", "precious");
    ChildProcess run(command({"bash", std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/in-debian-root.sh",
                              "--fresh", "--root", dir.file("not-a-root"), "trixie", "true"}));
    int status = 0;
    ASSERT_TRUE(run.waitExit(30000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
    EXPECT_EQ(readFile(keep), "precious");
}

} // namespace
} // namespace Spectrafox
