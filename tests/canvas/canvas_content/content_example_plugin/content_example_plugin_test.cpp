#include "canvas/canvas_content/content_example_plugin/content_example_plugin.h"
#include "support/gl_fixture.h"

#include <gtest/gtest.h>

#include <climits>

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

// The renderer's context is current before the handles are taken.
class ContentExamplePluginTest : public GlTest, protected CurrentEglHandles {};

TEST_F(ContentExamplePluginTest, EveryNumberBindsTheSameSquareTexture)
{
    ContentExamplePlugin plugin(&display, &surface, &context);
    EXPECT_EQ(plugin.getContentTypeName(), "CONTENT_EXAMPLE");
    glBindTexture(GL_TEXTURE_2D, 0);
    plugin.setContent(0);
    const GLint texture = boundTexture();
    ASSERT_NE(texture, 0);
    for (int number : {-1, 0, 1, 255, 256, INT_MIN, INT_MAX}) {
        glBindTexture(GL_TEXTURE_2D, 0);
        plugin.setContent(number);
        EXPECT_EQ(boundTexture(), texture) << number;
        float ratio = -3.0f;
        plugin.getContentRatio(number, &ratio);
        EXPECT_EQ(ratio, 1.0f) << number;
    }
}

TEST_F(ContentExamplePluginTest, DestructorReleasesTheTexture)
{
    GLuint texture = 0;
    {
        ContentExamplePlugin plugin(&display, &surface, &context);
        plugin.setContent(0);
        texture = static_cast<GLuint>(boundTexture());
        EXPECT_TRUE(glIsTexture(texture));
    }
    EXPECT_FALSE(glIsTexture(texture));
}

// Under the canvas colour (r, g, b, a) the yellow texel shows as (r, g, 0, a).
TEST_F(ContentExamplePluginTest, TintDropsBlue)
{
    const struct {
        float r, g, b;
        Rgba expected;
    } cases[] = {
        {1.0f, 1.0f, 1.0f, {255, 255, 0, 255}},
        {0.2f, 0.6f, 1.0f, {51, 153, 0, 255}},
        {0.0f, 0.0f, 1.0f, {0, 0, 0, 255}},
        {1.0f, 0.0f, 0.5f, {255, 0, 0, 255}},
    };
    for (const auto& c : cases) {
        Canvas canvas("CONTENT_EXAMPLE");
        canvas.setR(c.r);
        canvas.setG(c.g);
        canvas.setB(c.b);
        gl.renderer().drawCanvases({&canvas});
        EXPECT_TRUE(near(gl.pixelAt(160, 90), c.expected))
            << gl.pixelAt(160, 90) << " for " << c.r << "," << c.g << "," << c.b;
    }
}

} // namespace

} // namespace Spectrafox::Test
