#include "platform/omx/video_pipeline.h"
#include "platform/omx/clock_component.h"
#include "platform/omx/egl_render_component.h"
#include "platform/omx/omx_core.h"
#include "platform/omx/video_decode_component.h"
#include "platform/omx/video_scheduler_component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

using namespace Spectrafox;

namespace {

using Error = VideoPipeline::Error;

// Components alive now, of those made through the fixture's factories: a
// pipeline that is gone must have freed every one it created.
std::atomic<int> live_components{0};

template <class Base> class Counted : public Base {
public:
    template <class... Args> explicit Counted(Args... args) : Base(args...) { ++live_components; }
    ~Counted() override { --live_components; }
};

template <class Component> OmxCore::Factory countedFactory()
{
    return [] { return static_cast<OmxComponent*>(new Counted<Component>()); };
}

// Refuses one parameter index, as a component that does not support it.
template <class Base, OMX_INDEXTYPE kRefused> class Refusing : public Base {
protected:
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data) override
    {
        if (index == kRefused)
            return OMX_ErrorUnsupportedSetting;
        return Base::setComponentParameter(index, data);
    }
};

// A scheduler with pictures in and out but no port for a clock.
class SchedulerWithoutClockPort : public OmxComponent {
public:
    SchedulerWithoutClockPort() : OmxComponent("OMX.spectrafox.video_scheduler")
    {
        addPort({VideoSchedulerComponent::kInputPort, OMX_DirInput, OMX_PortDomainVideo, 0, 0, 4});
        addPort({VideoSchedulerComponent::kOutputPort, OMX_DirOutput, OMX_PortDomainVideo});
    }
};

// Every buffer handed to the decoder, in order.
struct Submission {
    OMX_BUFFERHEADERTYPE* header;
    OMX_U32 length;
    OMX_U32 flags;
};
std::mutex submissions_mutex;
std::vector<Submission> submissions;

// Stands in for "video_decode": keeps every buffer it is given until its
// input port is flushed or disabled, as a decoder held up by a full pipeline.
class HoldingDecoder : public OmxComponent {
public:
    HoldingDecoder() : OmxComponent("OMX.spectrafox.video_decode")
    {
        addPort({VideoDecodeComponent::kInputPort, OMX_DirInput, OMX_PortDomainVideo,
                 VideoDecodeComponent::kInputBufferCount, VideoDecodeComponent::kInputBufferSize});
        addPort({VideoDecodeComponent::kOutputPort, OMX_DirOutput, OMX_PortDomainVideo});
        static_cast<OMX_COMPONENTTYPE*>(handle())->EmptyThisBuffer = &recordAndKeep;
    }

protected:
    OMX_ERRORTYPE setComponentParameter(OMX_INDEXTYPE, OMX_PTR) override { return OMX_ErrorNone; }

private:
    static OMX_ERRORTYPE recordAndKeep(OMX_HANDLETYPE handle, OMX_BUFFERHEADERTYPE* header)
    {
        const OMX_ERRORTYPE result = fromHandle(handle)->emptyThisBuffer(header);
        if (result == OMX_ErrorNone) {
            std::lock_guard<std::mutex> lock(submissions_mutex);
            submissions.push_back({header, header->nFilledLen, header->nFlags});
        }
        return result;
    }
};

const char* const kComponentNames[] = {"video_decode", "egl_render", "clock", "video_scheduler"};

std::string fullName(const char* name) { return std::string(OmxCore::kNamePrefix) + name; }

class VideoPipelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        live_components = 0;
        submissions.clear();
        replace("video_decode", countedFactory<VideoDecodeComponent>());
        replace("egl_render", countedFactory<EglRenderComponent>());
        replace("clock", countedFactory<ClockComponent>());
        replace("video_scheduler", countedFactory<VideoSchedulerComponent>());
    }

    void TearDown() override
    {
        for (const char* name : kComponentNames)
            OmxCore::registerComponent(fullName(name), originals[name]);
    }

    // The first replacement of a name keeps the program's own factory.
    void replace(const char* name, OmxCore::Factory factory)
    {
        OmxCore::Factory previous = OmxCore::registerComponent(fullName(name), std::move(factory));
        if (originals.count(name) == 0)
            originals[name] = std::move(previous);
    }

    static void noPicture(void*, VideoPipeline&) {}

    std::map<std::string, OmxCore::Factory> originals;
    std::atomic<bool> keep_waiting{true};
};

TEST_F(VideoPipelineTest, AFailedSetUpStepIsReportedAndWhatWasBuiltIsFreed)
{
    struct Case {
        const char* what;
        const char* replaced; // null: the real components only
        OmxCore::Factory factory;
        Error expected;
        int created; // components alive when the step failed
    };
    const Case cases[] = {
        {"all components work", nullptr, {}, Error::None, 4},
        {"no decoder", "video_decode", [] { return nullptr; }, Error::Component, 0},
        {"no renderer", "egl_render", [] { return nullptr; }, Error::Component, 1},
        {"renderer refuses the display", "egl_render",
         countedFactory<Refusing<EglRenderComponent, OMX_IndexParamSpectrafoxEGLDisplay>>(),
         Error::Component, 2},
        {"no clock", "clock", [] { return nullptr; }, Error::Component, 2},
        {"clock refuses to wait for the start", "clock",
         countedFactory<Refusing<ClockComponent, OMX_IndexConfigTimeClockState>>(),
         Error::ClockState, 3},
        {"no scheduler", "video_scheduler", [] { return nullptr; }, Error::Component, 3},
        {"scheduler without a clock port", "video_scheduler",
         countedFactory<SchedulerWithoutClockPort>(), Error::ClockTunnel, 4},
        {"decoder refuses H.264", "video_decode",
         countedFactory<Refusing<VideoDecodeComponent, OMX_IndexParamVideoPortFormat>>(),
         Error::InputPort, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        if (c.replaced != nullptr)
            replace(c.replaced, c.factory);
        {
            VideoPipeline pipeline(EGL_NO_DISPLAY, noPicture, nullptr, &keep_waiting);
            EXPECT_EQ(pipeline.build(), c.expected);
            EXPECT_EQ(live_components.load(), c.created);
            // Nothing was handed to the renderer: there is no image to fill.
            EXPECT_EQ(pipeline.fill(0), Error::Fill);
            // A stream that never started has no end to send.
            pipeline.endStream();
        }
        EXPECT_EQ(live_components.load(), 0);
        TearDown();
    }
}

// The decoder holds what it was given until it is flushed; the end of the
// stream must travel in a buffer the client has back, never in one the
// decoder is still reading.
TEST_F(VideoPipelineTest, TheEndOfTheStreamTravelsInABufferTheDecoderDoesNotHold)
{
    struct Case {
        const char* what;
        int submitted;       // buffers fed before the end
        bool hold_one;       // a buffer taken but not fed when the end came
    };
    const Case cases[] = {
        {"stopped before any input", 0, true},
        {"one buffer fed", 1, false},
        {"one fed, one in hand", 1, true},
        {"every buffer with the decoder", int(VideoDecodeComponent::kInputBufferCount), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        replace("video_decode", countedFactory<HoldingDecoder>());
        {
            VideoPipeline pipeline(EGL_NO_DISPLAY, noPicture, nullptr, &keep_waiting);
            ASSERT_EQ(pipeline.build(), Error::None);
            pipeline.startStreaming();
            for (int i = 0; i < c.submitted; ++i) {
                ASSERT_TRUE(pipeline.takeInputBuffer());
                ASSERT_GE(pipeline.inputRoom(), size_t(1000));
                std::fill(pipeline.inputData(), pipeline.inputData() + 1000, uint8_t(i + 1));
                ASSERT_EQ(pipeline.submitInput(1000), Error::None);
            }
            if (c.hold_one) {
                ASSERT_TRUE(pipeline.takeInputBuffer());
            }
            pipeline.endStream();
        }
        EXPECT_EQ(live_components.load(), 0);

        std::lock_guard<std::mutex> lock(submissions_mutex);
        ASSERT_EQ(submissions.size(), size_t(c.submitted + 1));
        for (int i = 0; i < c.submitted; ++i) {
            EXPECT_EQ(submissions[i].length, 1000u);
            EXPECT_EQ(submissions[i].flags, OMX_U32(i == 0 ? OMX_BUFFERFLAG_STARTTIME
                                                           : OMX_BUFFERFLAG_TIME_UNKNOWN));
        }
        const Submission& end = submissions.back();
        EXPECT_EQ(end.length, 0u);
        EXPECT_EQ(end.flags, OMX_U32(OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS));
        // Only a flush, which hands all of them back, lets a fed one go again.
        const bool all_fed = c.submitted == int(VideoDecodeComponent::kInputBufferCount);
        for (int i = 0; i < c.submitted && !all_fed; ++i) {
            EXPECT_NE(end.header, submissions[i].header) << "fed buffer " << i << " sent again";
        }
        TearDown();
    }
}

// The scheduler never announces a picture size (nothing was decoded), so the
// tunnel to the renderer cannot be set up: the step is named, no image is
// given, and the half-connected pipeline comes apart whole.
TEST_F(VideoPipelineTest, AHalfCompletedPipelineNamesTheStepAndTearsDownWhole)
{
    VideoPipeline pipeline(EGL_NO_DISPLAY, noPicture, nullptr, &keep_waiting);
    ASSERT_EQ(pipeline.build(), Error::None);
    pipeline.startStreaming();
    EXPECT_FALSE(pipeline.pictureSizeKnown(false));
    const EGLImageKHR images[1] = {EGL_NO_IMAGE_KHR};
    EXPECT_EQ(pipeline.complete(images, 1, 0, 0, 0), Error::RendererTunnel);
    EXPECT_EQ(pipeline.fill(0), Error::Fill);
    pipeline.endStream();
    pipeline.tearDown();
    EXPECT_EQ(live_components.load(), 0);
    pipeline.tearDown(); // again: nothing left to release
    EXPECT_EQ(live_components.load(), 0);
}

} // namespace
