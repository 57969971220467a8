#include "canvas/canvas_manager.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

#include "platform/fixed_function/gl_fixed_function.h"

#include <cmath>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

DisplayOptions headless(int width, int height)
{
    DisplayOptions options = DisplayOptions::headless(width, height);
    options.offscreen_fps_cap = 0;
    return options;
}

TEST(CanvasManagerTest, GroupsAndTheirCopies)
{
    CanvasManager manager(headless(64, 36));
    EXPECT_EQ(manager.generateCanvasGroup(3, "CONTENT_TEXTURE_256"), 0);
    EXPECT_EQ(manager.generateCanvasGroup(0, "CONTENT_EXAMPLE"), 1);
    EXPECT_EQ(manager.generateCanvasGroup(-4, "CONTENT_EXAMPLE"), 2);
    EXPECT_EQ(manager.generateCanvasGroup(2, "CONTENT_EXAMPLE"), 3);

    const auto all = manager.getAllCanvases();
    ASSERT_EQ(all.size(), 5u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(all[i]->getContentType(), "CONTENT_TEXTURE_256");
        EXPECT_EQ(all[i]->getContentData(), 0);
    }
    EXPECT_EQ(manager.getCanvasGroup(0), std::vector<Canvas*>(all.begin(), all.begin() + 3));
    EXPECT_TRUE(manager.getCanvasGroup(1).empty());
    EXPECT_TRUE(manager.getCanvasGroup(2).empty());
    EXPECT_EQ(manager.getCanvasGroup(3), std::vector<Canvas*>(all.begin() + 3, all.end()));
    for (int unknown : {-1, 4, 1000})
        EXPECT_TRUE(manager.getCanvasGroup(unknown).empty()) << unknown;

    auto copy = manager.getCanvasGroup(0);
    copy.clear();
    auto all_copy = manager.getAllCanvases();
    all_copy.pop_back();
    EXPECT_EQ(manager.getCanvasGroup(0).size(), 3u);
    EXPECT_EQ(manager.getAllCanvases().size(), 5u);
}

TEST(CanvasManagerTest, PassesScreenGeometryAndZoomThrough)
{
    CanvasManager manager(headless(320, 180));
    EXPECT_EQ(manager.getScreenWidth(), 320);
    EXPECT_EQ(manager.getScreenHeight(), 180);
    EXPECT_FLOAT_EQ(manager.getScreenRatio(), 320.0f / 180.0f);

    manager.generateCanvasGroup(1, "CONTENT_EXAMPLE");
    Canvas* canvas = manager.getAllCanvases()[0];
    canvas->setScalingX(0.02f);
    canvas->setScalingY(0.02f);
    canvas->setNumber(1);
    canvas->setZoom(0.25f);
    // One copy to the left: 2 * zoom in mode 1, zoom in mode 2.
    manager.setZoom(2);
    manager.renderFrame();
    EXPECT_EQ(readPixelAt(120, 90, 180), (Rgba{255, 255, 0, 255}));
    EXPECT_EQ(readPixelAt(80, 90, 180), (Rgba{0, 0, 0, 255}));
    manager.setZoom(7);
    manager.renderFrame();
    EXPECT_EQ(readPixelAt(80, 90, 180), (Rgba{255, 255, 0, 255}));
}

TEST(CanvasManagerTest, RenderFrameStepsDrawsAndCounts)
{
    CanvasManager manager(headless(64, 36));
    manager.generateCanvasGroup(2, "CONTENT_EXAMPLE");
    const auto canvases = manager.getAllCanvases();
    for (Canvas* canvas : canvases)
        canvas->setSpeed(10.0f);
    canvases[1]->setScalingX(0.25f);
    canvases[1]->setR(0.0f);
    for (int frame = 0; frame < 12; ++frame)
        manager.renderFrame();
    for (Canvas* canvas : canvases)
        EXPECT_FLOAT_EQ(canvas->getRotation(), 120.0f);
    // The second canvas is drawn over the first.
    EXPECT_EQ(readPixelAt(32, 18, 36), (Rgba{0, 255, 0, 255}));
    EXPECT_TRUE(std::isfinite(manager.getFPS()));
    EXPECT_GT(manager.getFPS(), 0.0f);
}

TEST(CanvasManagerTest, EmptyGroupStillClearsTheScreen)
{
    CanvasManager manager(headless(64, 36));
    manager.generateCanvasGroup(0, "CONTENT_EXAMPLE");
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 1);
    manager.renderFrame();
    EXPECT_EQ(readPixelAt(5, 5, 36), (Rgba{0, 0, 0, 255}));
}

TEST(CanvasManagerTest, EachGroupCarriesThePluginResolvedForItsType)
{
    CanvasManager manager(headless(64, 36));
    const struct {
        const char* type;
        int count;
        bool served;
    } cases[] = {
        {"CONTENT_TEXTURE_256", 3, true},
        {"CONTENT_EXAMPLE", 2, true},
        {"NO_SUCH_CONTENT", 2, false},
        {"content_example", 1, false},
    };
    for (const auto& c : cases) {
        const auto group = manager.getCanvasGroup(manager.generateCanvasGroup(c.count, c.type));
        ASSERT_EQ(group.size(), static_cast<size_t>(c.count)) << c.type;
        ContentInterface* plugin = group[0]->getContentPlugin();
        EXPECT_EQ(plugin != nullptr, c.served) << c.type;
        if (plugin) {
            EXPECT_EQ(plugin->getContentTypeName(), c.type);
        }
        for (Canvas* canvas : group) {
            EXPECT_EQ(canvas->getContentPlugin(), plugin) << c.type;
            EXPECT_EQ(canvas->getContentType(), c.type);
        }
    }
    // Groups of every kind draw together.
    manager.renderFrame();
}

} // namespace

} // namespace Spectrafox::Test
