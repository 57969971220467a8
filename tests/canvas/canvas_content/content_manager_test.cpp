#include "canvas/canvas_content/content_manager.h"
#include "support/gl_fixture.h"

#include "platform/fixed_function/gl_fixed_function.h"
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace Spectrafox {

class ContentManagerTestAccess {
public:
    static int pluginId(ContentManager& manager, const std::string& type)
    {
        return manager.getPluginId(type);
    }
    static void add(ContentManager& manager, ContentInterface* plugin)
    {
        manager.addPlugin(plugin);
    }
};

} // namespace Spectrafox

// Inside the namespace the GL calls reach our layer, as in the drawing code.
namespace Spectrafox::Test {

namespace {

const void* texCoordPointer()
{
    void* pointer = nullptr;
    glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &pointer);
    return pointer;
}

// Records what reaches it, and what was still alive when it was destroyed.
struct Log {
    std::vector<std::string> destroyed;
    std::vector<int> contents;
    bool example_texture_alive_at_first_destruction = true;
    GLuint example_texture = 0;
};

class FakePlugin : public ContentInterface {
public:
    FakePlugin(std::string type_name, float picture_ratio, Log* record)
        : name(std::move(type_name)), ratio_value(picture_ratio), log(record)
    {
    }
    ~FakePlugin() override
    {
        if (log->destroyed.empty())
            log->example_texture_alive_at_first_destruction = glIsTexture(log->example_texture);
        log->destroyed.push_back(name + "@" + std::to_string(ratio_value));
    }
    std::string getContentTypeName() override { return name; }
    void getContentRatio(int content_data, float* ratio) override
    {
        log->contents.push_back(content_data);
        *ratio = ratio_value;
    }
    void setContent(int content_data) override { log->contents.push_back(content_data); }

private:
    std::string name;
    float ratio_value;
    Log* log;
};

// The renderer's context is current before the handles are taken.
class ContentManagerTest : public GlTest, protected CurrentEglHandles {};

TEST_F(ContentManagerTest, LookupIsExactAndCaseSensitive)
{
    ContentManager manager(&display, &surface, &context);
    const struct {
        const char* type;
        int id;
    } cases[] = {
        {"CONTENT_EXAMPLE", 0},   {"content_example", -1}, {"CONTENT_EXAMPLE ", -1},
        {"CONTENT_EXAMPL", -1},   {"", -1},                {"content_texture_256", -1},
        {"CONTENT_EXAMPLE\n", -1}, {"CONTENT_TEXTURE_256", 1}, {"CONTENT_TEXTURE_25", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ContentManagerTestAccess::pluginId(manager, c.type), c.id) << '"' << c.type << '"';
}

TEST_F(ContentManagerTest, UnregisteredTypeChangesNothing)
{
    ContentManager manager(&display, &surface, &context);
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    const float coords[8] = {0};
    glTexCoordPointer(2, GL_FLOAT, 0, coords);

    manager.setContent("NO_SUCH_CONTENT", 3);
    EXPECT_EQ(boundTexture(), static_cast<GLint>(other));
    EXPECT_EQ(texCoordPointer(), coords);

    float ratio = 7.5f;
    manager.getContentRatio("NO_SUCH_CONTENT", 3, &ratio);
    EXPECT_EQ(ratio, 7.5f);

    manager.setContent("CONTENT_EXAMPLE", 3);
    EXPECT_NE(boundTexture(), static_cast<GLint>(other));
    EXPECT_NE(texCoordPointer(), coords);
    manager.getContentRatio("CONTENT_EXAMPLE", 3, &ratio);
    EXPECT_EQ(ratio, 1.0f);
    glDeleteTextures(1, &other);
}

TEST_F(ContentManagerTest, RoutesByNameFirstRegisteredWinsAndPassesNumbersUnchanged)
{
    Log log;
    {
        ContentManager manager(&display, &surface, &context);
        ContentManagerTestAccess::add(manager, new FakePlugin("FAKE", 2.0f, &log));
        ContentManagerTestAccess::add(manager, new FakePlugin("FAKE", 3.0f, &log));
        EXPECT_EQ(ContentManagerTestAccess::pluginId(manager, "FAKE"), 2);

        float ratio = 1.0f;
        manager.getContentRatio("FAKE", -5, &ratio);
        EXPECT_EQ(ratio, 2.0f);
        for (int number : {0, 255, 256, -1, 1 << 30})
            manager.setContent("FAKE", number);
        EXPECT_EQ(log.contents, (std::vector<int>{-5, 0, 255, 256, -1, 1 << 30}));

        manager.setContent("CONTENT_EXAMPLE", 0);
        log.example_texture = static_cast<GLuint>(boundTexture());
        ASSERT_TRUE(glIsTexture(log.example_texture));
    }
    // Deleted from the first registered upwards: the example plug-in (and its
    // texture) went before the fakes, which went in order.
    EXPECT_FALSE(log.example_texture_alive_at_first_destruction);
    EXPECT_EQ(log.destroyed, (std::vector<std::string>{"FAKE@2.000000", "FAKE@3.000000"}));
}

TEST_F(ContentManagerTest, FindPluginGivesTheFirstRegisteredOrNull)
{
    Log log;
    ContentManager manager(&display, &surface, &context);
    ContentManagerTestAccess::add(manager, new FakePlugin("FAKE", 2.0f, &log));
    ContentManagerTestAccess::add(manager, new FakePlugin("FAKE", 3.0f, &log));
    const struct {
        const char* type;
        const char* found_name; // null: no plug-in
        float ratio;
    } cases[] = {
        {"CONTENT_EXAMPLE", "CONTENT_EXAMPLE", 1.0f},
        {"CONTENT_TEXTURE_256", "CONTENT_TEXTURE_256", 1.0f}, // slot 0 is empty here
        {"FAKE", "FAKE", 2.0f},
        {"fake", nullptr, 0.0f},
        {"", nullptr, 0.0f},
        {"CONTENT_TEXTURE_2567", nullptr, 0.0f},
    };
    for (const auto& c : cases) {
        ContentInterface* plugin = manager.findPlugin(c.type);
        if (!c.found_name) {
            EXPECT_EQ(plugin, nullptr) << c.type;
            continue;
        }
        ASSERT_NE(plugin, nullptr) << c.type;
        EXPECT_EQ(plugin->getContentTypeName(), c.found_name);
        float ratio = -1.0f;
        plugin->getContentRatio(0, &ratio);
        EXPECT_EQ(ratio, c.ratio) << c.type;
        EXPECT_EQ(plugin, manager.findPlugin(std::string(c.type))) << "the same every time";
    }
}

} // namespace

} // namespace Spectrafox::Test
