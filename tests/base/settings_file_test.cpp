// settings.txt as the desk's changes leave it: what a set refuses, and that
// a save replaces the file whole without writing through a link or into
// config.txt. What a load keeps is config_loader_test's.
#include "base/settings_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

using namespace Spectrafox;
using namespace Spectrafox::Test;

namespace {

TEST(SettingsFile, SaveReplacesTheFileWholeAndNeverWritesThroughALinkOrIntoConfig)
{
    struct Case {
        const char* name;
        const char* file;          // the settings file's name in the folder
        const char* link_target;   // made a link to a file "victim" first, or null
        bool stale_temporary_link; // a link under the temporary name
        bool saved;
    };
    const Case cases[] = {
        {"fresh file", "settings.txt", nullptr, false, true},
        {"link under the name: replaced, not followed", "settings.txt", "victim", false, true},
        {"link under the temporary name: not followed", "settings.txt", nullptr, true, true},
        {"config.txt", "config.txt", nullptr, false, false},
        {"folder that does not exist", "missing/settings.txt", nullptr, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("victim", "untouched\n");
        const std::string path = dir.file(c.file);
        if (c.link_target) {
            ASSERT_EQ(::symlink(dir.file(c.link_target).c_str(), path.c_str()), 0);
        }
        if (c.stale_temporary_link) {
            ASSERT_EQ(::symlink(dir.file("victim").c_str(), (path + ".part").c_str()), 0);
        }
        SettingsFile settings(path);
        EXPECT_FALSE(settings.set("DEVICE_LABEL", "bell\a"));
        EXPECT_FALSE(settings.set("bad key", "1"));
        ASSERT_TRUE(settings.set("DMX_START", "41"));
        ASSERT_TRUE(settings.set("DEVICE_LABEL", "Stage left"));
        EXPECT_EQ(settings.save(), c.saved) << settings.error();
        EXPECT_EQ(readFile(dir.file("victim")), "untouched\n");
        EXPECT_EQ(settings.entries().size(), 2u); // kept for this run either way
        if (!c.saved)
            continue;
        struct stat info{};
        ASSERT_EQ(::lstat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(readFile(path), "DMX_START=41\nDEVICE_LABEL=Stage left\n");
        EXPECT_NE(::access((path + ".part").c_str(), F_OK), 0);
    }
}

} // namespace
