// The hint printed when the display cannot be set up names the cause, and
// never tells the user to install what the program no longer uses.
#include "platform/graphics/graphics_platform.h"

#include <gtest/gtest.h>

#include <string>

using namespace Spectrafox;

TEST(GraphicsPlatformHintTest, NamesTheCauseOfEachFailedStep)
{
    const struct {
        DisplaySetupStep step;
        const char* cause;
    } cases[] = {
        {DisplaySetupStep::GetDisplay, "EGL could not open the display"},
        {DisplaySetupStep::Initialize, "EGL could not open the display"},
        {DisplaySetupStep::ChooseConfig, "no OpenGL ES 2.0 configuration"},
        {DisplaySetupStep::CreateContext, "refused an OpenGL ES 2.0 context"},
        {DisplaySetupStep::MakeCurrent, "refused an OpenGL ES 2.0 context"},
        {DisplaySetupStep::CreateSurface, "could not create the surface"},
        {DisplaySetupStep::GetDisplaySize, "reports no display mode"},
    };
    GraphicsPlatform platform(DisplayOptions::headless(64, 32));
    for (const auto& c : cases) {
        const DisplaySetupFailure failure = platform.failureAt(c.step, "what SDL said");
        EXPECT_EQ(failure.step, c.step);
        EXPECT_EQ(failure.detail, "what SDL said");
        EXPECT_NE(failure.hint.find(c.cause), std::string::npos) << failure.hint;
        EXPECT_EQ(failure.hint.find("libgles1"), std::string::npos) << failure.hint;
        EXPECT_EQ(failure.hint.find("1.1"), std::string::npos) << failure.hint;
        EXPECT_EQ(failure.hint.find('\n'), std::string::npos) << "one line: " << failure.hint;
    }
}
