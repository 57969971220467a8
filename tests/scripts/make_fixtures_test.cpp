// The fixture profiles in fixtures/ are what scripts/make-fixtures.py makes
// from the manual's channel table, and hold together (every mode's channels
// defined, 20 channels a canvas, GDTF attributes and features resolved):
// a desk patched from a stale or broken profile drives the wrong channels.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using Spectrafox::Test::ChildProcess;
using Spectrafox::Test::TempDir;

TEST(MakeFixtures, ProfilesMatchTheManualsChannelTable)
{
    TempDir dir;
    ChildProcess::Setup setup;
    setup.argv = {"python3", std::string(SPECTRAFOX_SOURCE_DIR) + "/scripts/make-fixtures.py", "--check"};
    setup.stderr_path = dir.file("stderr.txt");
    ChildProcess check(setup);
    int status = -1;
    ASSERT_TRUE(check.waitExit(30000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << Spectrafox::Test::readFile(dir.file("stderr.txt"));
}

} // namespace
