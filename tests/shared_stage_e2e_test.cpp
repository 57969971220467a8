// Two nodes share one stage, side by side with a blended overlap, as the
// manual's two-projector example: their pictures, composited as the
// projectors' light adds up, show the stage once and continuous.
#include "support/child_process.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <csignal>
#include <string>

using namespace Spectrafox::Test;

namespace {

constexpr int kStartMs = 30000; // llvmpipe start-up under sanitizers is slow
constexpr int kStopMs = 10000;
constexpr int kWidth = 440, kHeight = 270;
constexpr int kStageWidth = 800;  // 440 / 0.55
constexpr int kSecondStarts = 360; // 0.45 of the stage
constexpr int kColumns = 32;      // of the picture across the stage
constexpr int kRedColumn = 16;    // stage x 0.5 to 0.53: inside the overlap
constexpr double kGamma = 2.2;

RgbaImage runNode(const std::string& geometry)
{
    TempDir dir;
    std::vector<uint32_t> picture;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < kColumns; ++column)
            picture.push_back(column == kRedColumn ? 0xFF0000FF : 0xFFFFFFFF);
    writePng(dir.file("textures/000.png"), kColumns, 4, picture);
    dir.write("config.txt", "ANZAHL=1\n" + geometry);
    const std::string shot = dir.file("shot.png");
    ChildProcess program(
        ChildProcess::server(dir.path(), {"--headless=440x270", "--snapshot-frame=3", "--snapshot=" + shot}));
    EXPECT_TRUE(waitForFile(shot, kStartMs)) << readFile(dir.file("stderr.txt"));
    program.signal(SIGTERM);
    int status = 0;
    EXPECT_TRUE(program.waitExit(kStopMs, &status));
    return readRgbaPng(shot);
}

// The light a projector of this gamma gives for an 8-bit level.
double light(const uint8_t level) { return std::pow(level / 255.0, kGamma); }

} // namespace

TEST(SharedStageE2eTest, TwoBlendedNodesShowOneContinuousStage)
{
    const RgbaImage a = runNode("REGION=0,0,0.55,1\nBLEND_RIGHT=0.1818\n");
    const RgbaImage b = runNode("REGION=0.45,0,0.55,1\nBLEND_LEFT=0.1818\n");
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(a.width, kWidth);
    ASSERT_EQ(b.width, kWidth);
    const int y = kHeight / 2;
    int red_from = -1, red_to = -1;
    for (int x = 0; x < kStageWidth; ++x) {
        double red = 0, green = 0;
        if (x < kWidth)
            red += light(a.at(x, y)[0]), green += light(a.at(x, y)[1]);
        if (x >= kSecondStarts)
            red += light(b.at(x - kSecondStarts, y)[0]), green += light(b.at(x - kSecondStarts, y)[1]);
        EXPECT_NEAR(red, 1.0, 0.03) << "stage column " << x;
        if (green < 0.5) {
            red_from = red_from < 0 ? x : red_from;
            red_to = x;
        } else {
            EXPECT_NEAR(green, 1.0, 0.03) << "stage column " << x;
        }
    }
    // One red bar, where the picture has it: not two, not smeared.
    const int bar = kStageWidth / kColumns;
    EXPECT_NEAR(red_from, kRedColumn * bar, 1);
    EXPECT_NEAR(red_to, (kRedColumn + 1) * bar - 1, 1);
}
