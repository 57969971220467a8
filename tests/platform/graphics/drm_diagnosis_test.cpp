#include "platform/graphics/drm_diagnosis.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

using Spectrafox::DrmDiagnosis;
using Spectrafox::Test::TempDir;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// Trees laid out as the kernel lays out /sys/class/drm and /dev/dri on a Pi 4:
// card0 is the 3D core without outputs, card1 the display controller.
struct DiagnosisCase {
    std::string name;
    Files sysfs;
    std::vector<std::string> devices;
    std::vector<std::string> expected_parts; // each must appear in the only line
    std::vector<std::string> absent_parts;
};

class DrmDiagnosisCases : public ::testing::TestWithParam<DiagnosisCase> {};

TEST_P(DrmDiagnosisCases, SaysWhatIsWrongAndWhatToDo)
{
    const DiagnosisCase& c = GetParam();
    TempDir sysfs, dev;
    sysfs.write(".keep", "");
    for (const auto& [path, content] : c.sysfs)
        sysfs.write(path, content);
    for (const std::string& device : c.devices)
        dev.write(device, "");
    const std::vector<std::string> lines = DrmDiagnosis::explain(sysfs.path(), dev.path());
    ASSERT_EQ(lines.size(), 1u);
    for (const std::string& part : c.expected_parts)
        EXPECT_NE(lines[0].find(part), std::string::npos) << "missing '" << part << "' in " << lines[0];
    for (const std::string& part : c.absent_parts)
        EXPECT_EQ(lines[0].find(part), std::string::npos) << "unexpected '" << part << "' in " << lines[0];
}

const Files kRenderOnlyCard0 = {{"card0/dev", "226:0\n"}};

Files pi4(const std::string& hdmi0_status, const std::string& hdmi0_modes)
{
    Files files = kRenderOnlyCard0;
    files.push_back({"card1/dev", "226:1\n"});
    files.push_back({"card1-HDMI-A-1/status", hdmi0_status + "\n"});
    files.push_back({"card1-HDMI-A-1/modes", hdmi0_modes});
    files.push_back({"card1-HDMI-A-2/status", "disconnected\n"});
    files.push_back({"card1-HDMI-A-2/modes", ""});
    return files;
}

INSTANTIATE_TEST_SUITE_P(
    Trees, DrmDiagnosisCases,
    ::testing::Values(
        DiagnosisCase{"ProjectorOffOrUnplugged", pi4("disconnected", ""), {"card0", "card1"},
                      {"no connected display on ", "/card1", "is the projector on and the HDMI cable in?",
                       "video=HDMI-A-1:1920x1080@60D", "cmdline.txt", "hdmi_force_hotplug=1"},
                      {"card0"}},
        DiagnosisCase{"ConnectedWithoutModes", pi4("connected", ""), {"card0", "card1"},
                      {"HDMI-A-1", "reports no picture modes", "video=HDMI-A-1:1920x1080@60D"},
                      {}},
        DiagnosisCase{"ConnectedAndReadyButTaken", pi4("connected", "1920x1080\n1280x720\n"),
                      {"card0", "card1"},
                      {"a display is connected on HDMI-A-1", "another program"},
                      {"video="}},
        DiagnosisCase{"DeviceNodeMissing", pi4("connected", "1920x1080\n"), {"card0"},
                      {"cannot open ", "/card1", "No such file"}, {}},
        DiagnosisCase{"NoGraphicsDevice", {}, {}, {"no graphics device", "dtoverlay=vc4-kms-v3d"}, {}},
        DiagnosisCase{"OnlyARenderDevice", kRenderOnlyCard0, {"card0"}, {"no graphics device"}, {}},
        DiagnosisCase{"ConnectorsOtherThanHdmiNamedAsTheyAre",
                      {{"card0/dev", "226:0\n"}, {"card0-Composite-1/status", "disconnected\n"}},
                      {"card0"},
                      {"no connected display on ", "video=Composite-1:1920x1080@60D"}, {}}),
    [](const ::testing::TestParamInfo<DiagnosisCase>& info) { return info.param.name; });

TEST(DrmDiagnosis, OneLinePerCardWithOutputs)
{
    TempDir sysfs, dev;
    sysfs.write("card1-HDMI-A-1/status", "disconnected\n");
    sysfs.write("card1/dev", "");
    sysfs.write("card2-HDMI-A-1/status", "connected\n");
    sysfs.write("card2-HDMI-A-1/modes", "1920x1080\n");
    sysfs.write("card2/dev", "");
    // "card10" must not take card1's connectors.
    sysfs.write("card10/dev", "");
    dev.write("card1", "");
    dev.write("card2", "");
    dev.write("card10", "");
    const std::vector<std::string> lines = DrmDiagnosis::explain(sysfs.path(), dev.path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("no connected display on " + dev.path() + "/card1:"), std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("a display is connected on HDMI-A-1 (" + dev.path() + "/card2)"),
              std::string::npos)
        << lines[1];
}

} // namespace
