#include "base/geometry.h"

#include <gtest/gtest.h>

#include <string>

namespace Spectrafox {

// Every malformed or out-of-range value is refused with the key and a reason,
// and leaves the geometry exactly as it was: never a garbled projector.
TEST(GeometryTest, BadValuesAreRefusedByNameAndChangeNothing)
{
    const struct {
        const char* line;
        const char* reason_part;
    } cases[] = {
        {"WARP=0,0 1,0 1,1", "four corners"},
        {"WARP=0,0 1,0 1,x 0,1", "not a number"},
        {"WARP=0,0 1,0 1 0,1", "corner 3"},
        {"WARP=0,0 1,0 0.2,0.2 0,1", "convex"},      // dented
        {"WARP=0,0 1,1 1,0 0,1", "convex"},          // crosses itself
        {"WARP=0,0 1,0 1,0 0,1", "convex"},          // two corners in one place
        {"WARP=0,0 1,0 1,1 0,9", "too far"},
        {"REGION=0,0,1", "4 numbers"},
        {"REGION=-0.1,0,1,1", "between 0 and 1"},
        {"REGION=0.5,0,0.6,1", "inside the stage"},
        {"REGION=0,0,1,a", "not a number"},
        {"BLEND_LEFT=0.6", "between 0 and 0.5"},
        {"BLEND_TOP=1/4", "not a number"},
        {"BLEND_CURVE=0.5", "between 1 and 4"},
        {"BLEND_GAMMA=3.5", "between 1 and 3"},
        {"BLEND_GAMMA=nan", "not a number"},
        {"MASK=../door.png", "show folder"},
        {"MASK=door.jpg", ".png"},
        {"TEST_PATTERN=yes", "0 or 1"},
    };
    Geometry before;
    std::string refusal;
    ASSERT_TRUE(before.applyLine("BLEND_LEFT=0.2", &refusal));
    ASSERT_TRUE(before.applyLine("REGION=0.45,0,0.55,1  # node B", &refusal));
    ASSERT_EQ(refusal, "");
    for (const auto& c : cases) {
        Geometry geometry = before;
        std::string why;
        EXPECT_TRUE(geometry.applyLine(c.line, &why)) << c.line;
        const std::string key = std::string(c.line).substr(0, std::string(c.line).find('=') + 1);
        EXPECT_EQ(why.rfind(key, 0), 0u) << c.line << ": " << why;
        EXPECT_NE(why.find(c.reason_part), std::string::npos) << c.line << ": " << why;
        EXPECT_TRUE(geometry == before) << c.line;
    }
}

} // namespace Spectrafox
