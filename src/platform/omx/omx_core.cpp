#include "platform/omx/omx_core.h"

#include "platform/omx/clock_component.h"
#include "platform/omx/egl_render_component.h"
#include "platform/omx/omx_component.h"
#include "platform/omx/video_decode_component.h"
#include "platform/omx/video_scheduler_component.h"

extern "C" {
#include <libavutil/log.h>
}

#include <map>
#include <mutex>

namespace Spectrafox {

namespace {

struct Registry {
    std::mutex lock;
    std::map<std::string, OmxCore::Factory> factories;
};

Registry& registry()
{
    static Registry instance{
        {},
        {
            {std::string(OmxCore::kNamePrefix) + "video_decode",
             [] { return static_cast<OmxComponent*>(new VideoDecodeComponent()); }},
            {std::string(OmxCore::kNamePrefix) + "clock",
             [] { return static_cast<OmxComponent*>(new ClockComponent()); }},
            {std::string(OmxCore::kNamePrefix) + "video_scheduler",
             [] { return static_cast<OmxComponent*>(new VideoSchedulerComponent()); }},
            {std::string(OmxCore::kNamePrefix) + "egl_render",
             [] { return static_cast<OmxComponent*>(new EglRenderComponent()); }},
        }};
    return instance;
}

} // namespace

OmxCore::Factory OmxCore::registerComponent(const std::string& full_name, Factory factory)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    Factory previous;
    auto it = r.factories.find(full_name);
    if (it != r.factories.end()) {
        previous = std::move(it->second);
        r.factories.erase(it);
    }
    if (factory)
        r.factories.emplace(full_name, std::move(factory));
    return previous;
}

OmxComponent* OmxCore::create(const std::string& full_name)
{
    Factory factory;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.factories.find(full_name);
        if (it == r.factories.end())
            return nullptr;
        factory = it->second;
    }
    return factory();
}

} // namespace Spectrafox

using Spectrafox::OmxComponent;
using Spectrafox::OmxCore;

OMX_ERRORTYPE OMX_Init(void)
{
    // FFmpeg would write its diagnostics over the console screen; the layer
    // reports failures through OpenMAX IL errors instead.
    av_log_set_level(AV_LOG_QUIET);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_Deinit(void) { return OMX_ErrorNone; }

OMX_ERRORTYPE OMX_GetHandle(OMX_HANDLETYPE* handle, OMX_STRING name, OMX_PTR app_data,
                            OMX_CALLBACKTYPE* callbacks)
{
    if (handle == nullptr || name == nullptr)
        return OMX_ErrorBadParameter;
    OmxComponent* component = OmxCore::create(name);
    if (component == nullptr)
        return OMX_ErrorComponentNotFound;
    component->start(callbacks, app_data);
    *handle = component->handle();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_FreeHandle(OMX_HANDLETYPE handle)
{
    if (handle == nullptr)
        return OMX_ErrorBadParameter;
    OmxComponent* component = OmxComponent::fromHandle(handle);
    component->shutDown();
    delete component;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE OMX_SetupTunnel(OMX_HANDLETYPE output, OMX_U32 output_port, OMX_HANDLETYPE input,
                              OMX_U32 input_port)
{
    if (output == nullptr && input == nullptr)
        return OMX_ErrorBadParameter;
    OMX_TUNNELSETUPTYPE setup{0, OMX_BufferSupplyUnspecified};
    if (output != nullptr) {
        const OMX_ERRORTYPE error =
            OmxComponent::fromHandle(output)->tunnelRequest(output_port, input, input_port, &setup);
        if (error != OMX_ErrorNone)
            return error;
    }
    if (input != nullptr) {
        const OMX_ERRORTYPE error =
            OmxComponent::fromHandle(input)->tunnelRequest(input_port, output, output_port, &setup);
        if (error != OMX_ErrorNone) {
            if (output != nullptr)
                OmxComponent::fromHandle(output)->tunnelRequest(output_port, nullptr, 0, nullptr);
            return error;
        }
    }
    return OMX_ErrorNone;
}
