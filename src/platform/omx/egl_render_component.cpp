#include "platform/omx/egl_render_component.h"

#include <GLES2/gl2ext.h>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace Spectrafox {

namespace {

PFNGLEGLIMAGETARGETTEXTURE2DOESPROC imageTargetTexture()
{
    static const auto function = reinterpret_cast<PFNGLEGLIMAGETARGETTEXTURE2DOESPROC>(
        eglGetProcAddress("glEGLImageTargetTexture2DOES"));
    return function;
}

} // namespace

std::atomic<EglRenderComponent::PauseHook> EglRenderComponent::pause_hook{nullptr};

void EglRenderComponent::setPauseInsidePicture(PauseHook hook) { pause_hook.store(hook); }

EglRenderComponent::EglRenderComponent() : OmxComponent(std::string("OMX.spectrafox.egl_render"))
{
    addPort({kInputPort, OMX_DirInput, OMX_PortDomainVideo, 0, 0, 1});
    addPort({kOutputPort, OMX_DirOutput, OMX_PortDomainVideo, 1, 0});
}

OMX_ERRORTYPE EglRenderComponent::setComponentParameter(OMX_INDEXTYPE index, OMX_PTR data)
{
    if (index == OMX_IndexParamPortDefinition)
        return setTextureSize(data);
    if (index != OMX_IndexParamSpectrafoxEGLDisplay)
        return OMX_ErrorUnsupportedIndex;
    if (!recordFits(data, sizeof(OMX_PARAM_SPECTRAFOX_EGLDISPLAYTYPE)))
        return OMX_ErrorBadParameter;
    if (currentState() != OMX_StateLoaded)
        return OMX_ErrorIncorrectStateOperation;
    display.store(static_cast<const OMX_PARAM_SPECTRAFOX_EGLDISPLAYTYPE*>(data)->pDisplay);
    return OMX_ErrorNone;
}

// The frame size of the output port is the size of the client's textures:
// every picture is scaled to it. 0 x 0 writes pictures at their own size.
OMX_ERRORTYPE EglRenderComponent::setTextureSize(OMX_PTR data)
{
    if (!recordFits(data, sizeof(OMX_PARAM_PORTDEFINITIONTYPE)))
        return OMX_ErrorBadParameter;
    const auto* definition = static_cast<const OMX_PARAM_PORTDEFINITIONTYPE*>(data);
    if (definition->nPortIndex != kOutputPort)
        return OMX_ErrorBadPortIndex;
    const OMX_U32 width = definition->format.video.nFrameWidth;
    const OMX_U32 height = definition->format.video.nFrameHeight;
    if ((width == 0) != (height == 0) || width > kLargestSide || height > kLargestSide)
        return OMX_ErrorBadParameter;
    setFrameSize(kOutputPort, width, height);
    texture_size.store(TextureSize{static_cast<int>(width), static_cast<int>(height)});
    return OMX_ErrorNone;
}

OMX_ERRORTYPE EglRenderComponent::useEGLImage(OMX_BUFFERHEADERTYPE** out, OMX_U32 port,
                                              OMX_PTR app_private, void* egl_image)
{
    if (out == nullptr || egl_image == nullptr)
        return OMX_ErrorBadParameter;
    if (port != kOutputPort)
        return OMX_ErrorBadPortIndex;
    OMX_PARAM_PORTDEFINITIONTYPE definition{};
    definition.nSize = sizeof(definition);
    definition.nVersion = omxVersion();
    definition.nPortIndex = port;
    if (getParameterOrConfig(OMX_IndexParamPortDefinition, &definition) != OMX_ErrorNone ||
        !definition.bEnabled)
        return OMX_ErrorIncorrectStateOperation;
    *out = addHeader(port, static_cast<OMX_U8*>(egl_image), 0, app_private, false);
    return OMX_ErrorNone;
}

bool EglRenderComponent::acquireResources()
{
    const EGLDisplay target = display.load();
    if (target == EGL_NO_DISPLAY || imageTargetTexture() == nullptr)
        return false;
    // Any surface type (a mask of 0): the context never draws to a surface.
    const EGLint config_attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES2_BIT, EGL_SURFACE_TYPE, 0,
                                        EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(target, config_attributes, &config, 1, &count) || count < 1)
        return false;
    eglBindAPI(EGL_OPENGL_ES_API);
    const EGLint context_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    context = eglCreateContext(target, config, EGL_NO_CONTEXT, context_attributes);
    if (context == EGL_NO_CONTEXT)
        return false;
    // No surface: this context only ever writes into textures.
    if (!eglMakeCurrent(target, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        eglDestroyContext(target, context);
        context = EGL_NO_CONTEXT;
        return false;
    }
    return true;
}

void EglRenderComponent::releaseResources()
{
    sws_freeContext(converter);
    converter = nullptr;
    if (context == EGL_NO_CONTEXT)
        return;
    for (const BoundImage& bound : bound_images)
        glDeleteTextures(1, &bound.texture);
    bound_images.clear();
    const EGLDisplay target = display.load();
    eglMakeCurrent(target, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(target, context);
    eglReleaseThread();
    context = EGL_NO_CONTEXT;
}

bool EglRenderComponent::process()
{
    OmxPicture picture;
    if (!peekPicture(kInputPort, &picture))
        return false;
    if (picture.endOfStream()) {
        popPicture(kInputPort);
        raiseEvent(OMX_EventBufferFlag, kOutputPort, OMX_BUFFERFLAG_EOS);
        return true;
    }
    // Without a buffer the picture waits; OMX_FillThisBuffer wakes this thread.
    OMX_BUFFERHEADERTYPE* target = takeBuffer(kOutputPort);
    if (target == nullptr)
        return false;
    // Room for the next picture while this one is drawn.
    popPicture(kInputPort);
    render(target, *picture.frame);
    returnBuffer(target);
    return true;
}

void EglRenderComponent::render(OMX_BUFFERHEADERTYPE* target, const AVFrame& picture)
{
    target->nFlags = 0;
    target->nFilledLen = 0;
    target->nOffset = 0;
    const GLuint texture = textureFor(target);
    TextureSize size = texture_size.load();
    if (size.width == 0)
        size = TextureSize{picture.width, picture.height};
    if (texture == 0 || !convert(picture, size))
        return;
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    const PauseHook pause = pause_hook.load();
    // Half a picture in the texture and a pause there: the moment when a
    // reader of the same texture would see parts of two pictures.
    const int first_rows = pause != nullptr ? size.height / 2 : size.height;
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, size.width, first_rows, GL_RGBA, GL_UNSIGNED_BYTE,
                    rgba.data());
    if (pause != nullptr) {
        glFlush();
        pause();
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, first_rows, size.width, size.height - first_rows,
                        GL_RGBA, GL_UNSIGNED_BYTE,
                        rgba.data() + static_cast<size_t>(first_rows) * size.width * 4);
    }
    // A texture smaller than the picture refuses the upload and keeps its
    // last picture; the error must not linger for the next call.
    glGetError();
    glFinish();
    target->nFilledLen = static_cast<OMX_U32>(rgba.size());
}

GLuint EglRenderComponent::textureFor(OMX_BUFFERHEADERTYPE* header)
{
    for (const BoundImage& bound : bound_images)
        if (bound.header == header && bound.image == header->pBuffer)
            return bound.texture;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    imageTargetTexture()(GL_TEXTURE_2D, static_cast<GLeglImageOES>(header->pBuffer));
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &texture);
        return 0;
    }
    bound_images.push_back(BoundImage{header, header->pBuffer, texture});
    return texture;
}

bool EglRenderComponent::convert(const AVFrame& picture, TextureSize size)
{
    if (picture.width <= 0 || picture.height <= 0 || size.width <= 0 || size.height <= 0)
        return false;
    converter = sws_getCachedContext(converter, picture.width, picture.height,
                                     static_cast<AVPixelFormat>(picture.format), size.width,
                                     size.height, AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr,
                                     nullptr);
    if (converter == nullptr)
        return false;
    const int stride = size.width * 4;
    rgba.resize(static_cast<size_t>(stride) * size.height);
    // GL's first row is the bottom one: write the rows upwards.
    uint8_t* rows[4] = {rgba.data() + static_cast<size_t>(stride) * (size.height - 1), nullptr,
                        nullptr, nullptr};
    const int strides[4] = {-stride, 0, 0, 0};
    sws_scale(converter, picture.data, picture.linesize, 0, picture.height, rows, strides);
    return true;
}

} // namespace Spectrafox
