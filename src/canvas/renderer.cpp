#include "canvas/renderer.h"

#include "base/fatal_error.h"

#include "platform/fixed_function/gl_fixed_function.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Spectrafox {

namespace {

constexpr double kPi = 3.14159265358979323846;

// 8 bits per colour channel with alpha, a 16-bit depth buffer, window surfaces.
constexpr EGLint attribute_list[] = {
    EGL_RED_SIZE,   8,  EGL_GREEN_SIZE,   8,
    EGL_BLUE_SIZE,  8,  EGL_ALPHA_SIZE,   8,
    EGL_DEPTH_SIZE, 16, EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
    EGL_NONE};

struct SetupCheck {
    const char* function;
    const char* operation;
    const char* condition;
};

SetupCheck checkFor(DisplaySetupStep step)
{
    switch (step) {
    case DisplaySetupStep::StartHost:
        return {"Renderer::Renderer", "bcm_host_init", "video driver started"};
    case DisplaySetupStep::GetDisplaySize:
        return {"Renderer::initOpenGL", "graphics_get_display_size", "success >= 0"};
    case DisplaySetupStep::GetDisplay:
        return {"Renderer::initOpenGL", "eglGetDisplay", "this->display!=((EGLDisplay)0)"};
    case DisplaySetupStep::Initialize:
        return {"Renderer::initOpenGL", "eglInitialize", "((EGLBoolean)0) != result"};
    case DisplaySetupStep::ChooseConfig:
        return {"Renderer::initOpenGL", "eglChooseConfig", "((EGLBoolean)0) != result"};
    case DisplaySetupStep::CreateContext:
        return {"Renderer::initOpenGL", "eglCreateContext", "this->context!=((EGLContext)0)"};
    case DisplaySetupStep::CreateSurface:
        return {"Renderer::initOpenGL", "eglCreateWindowSurface",
                "this->surface != ((EGLSurface)0)"};
    case DisplaySetupStep::MakeCurrent:
        return {"Renderer::initOpenGL", "eglMakeCurrent", "((EGLBoolean)0) != result"};
    }
    return {"Renderer::initOpenGL", "display set-up", "display set-up succeeded"};
}

// The standard orthographic projection, column-major.
void multiplyOrtho(float left, float right, float bottom, float top, float near_z, float far_z)
{
    float m[16] = {0};
    m[0] = 2.0f / (right - left);
    m[5] = 2.0f / (top - bottom);
    m[10] = -2.0f / (far_z - near_z);
    m[12] = -(right + left) / (right - left);
    m[13] = -(top + bottom) / (top - bottom);
    m[14] = -(far_z + near_z) / (far_z - near_z);
    m[15] = 1.0f;
    glMultMatrixf(m);
}

// The keystone as part of the projection: the region's clip coordinates
// (a, b) are region fractions u = (a + 1) / 2, v = (1 - b) / 2; the warp
// takes them to output fractions (x, y), whose clip coordinates are
// 2x - 1 and 1 - 2y. The homogeneous w that the warp leaves makes every
// texture's sampling perspective-correct, as a projector's keystone is,
// with no offscreen picture to sample again.
void multiplyWarp(const Homography& region_to_output)
{
    using Matrix = Homography::Matrix;
    const auto product = [](const Matrix& a, const Matrix& b) {
        Matrix out{};
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 3; ++column)
                for (int k = 0; k < 3; ++k)
                    out[row * 3 + column] += a[row * 3 + k] * b[k * 3 + column];
        return out;
    };
    const Matrix clip_to_fractions{0.5, 0, 0.5, 0, -0.5, 0.5, 0, 0, 1};
    const Matrix fractions_to_clip{2, 0, -1, 0, -2, 1, 0, 0, 1};
    Matrix n = product(fractions_to_clip, product(region_to_output.values(), clip_to_fractions));
    // The region's centre in front (w > 0), or everything would be clipped;
    // a convex quadrilateral keeps the whole region on that side.
    const double sign = n[8] < 0 ? -1.0 : 1.0;
    const auto at = [&](int row, int column) { return static_cast<GLfloat>(sign * n[row * 3 + column]); };
    // Column-major; z is 0 everywhere, as nothing is depth-tested.
    const GLfloat m[16] = {at(0, 0), at(1, 0), 0, at(2, 0), at(0, 1), at(1, 1), 0, at(2, 1),
                           0,        0,        0, 0,        at(0, 2), at(1, 2), 0, at(2, 2)};
    glMultMatrixf(m);
}

void drawQuad()
{
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

} // namespace

Renderer::Renderer() : Renderer(DisplayOptions()) {}

Renderer::Renderer(const DisplayOptions& options, const ContentOptions& content)
    : platform(new GraphicsPlatform(options))
{
    const float corners[12] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
    for (int i = 0; i < 12; ++i)
        quadx[i] = corners[i];
    for (float& component : color)
        component = 1.0f;
    zoom_type = 1;

    DisplaySetupFailure failure;
    if (!platform->startHost(&failure))
        stopOnDisplayFailure(failure);
    initOpenGL();
    initProjection();
    content_manager = new ContentManager(&display, &surface, &context, content);
}

Renderer::~Renderer()
{
    pass.reset();
    glClear(GL_COLOR_BUFFER_BIT);
    platform->presentFrame();
    // Plug-ins release their textures and players while the context is current.
    delete content_manager;
    platform->releaseEgl();
    delete platform;
}

void Renderer::initOpenGL()
{
    const int success = platform->getDisplaySize(&screen_width, &screen_height);
    if (!(success >= 0))
        stopOnDisplayFailure(platform->failureAt(DisplaySetupStep::GetDisplaySize, "no size"));
    screen_ratio = static_cast<float>(screen_width) / static_cast<float>(screen_height);
    stage_ratio.store(screen_ratio);
    drawn_ratio = screen_ratio;

    DisplaySetupFailure failure;
    if (!platform->createEglObjects(attribute_list, &display, &surface, &context, &failure))
        stopOnDisplayFailure(failure);

    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClear(GL_DEPTH_BUFFER_BIT);
    glShadeModel(GL_FLAT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);
}

void Renderer::initProjection()
{
    // Two units wide with square units: 16:9 shows y from -0.5625 to 0.5625.
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glViewport(0, 0, static_cast<GLsizei>(screen_width), static_cast<GLsizei>(screen_height));
    loadProjection();

    // Registered once; every draw reads the arrays' current contents.
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, quadx);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(4, GL_FLOAT, 0, color);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The stage is two units wide and 2 / ratio high; the output shows the
// region of it. Without REGION these are the screen's bounds, as always.
void Renderer::loadProjection()
{
    const float half_height = 1.0f / drawn_ratio;
    float left = -1.0f, right = 1.0f, bottom = -half_height, top = half_height;
    if (geometry.hasRegion()) {
        const Geometry::Region& r = geometry.region;
        left = -1.0f + 2.0f * static_cast<float>(r.x);
        right = -1.0f + 2.0f * static_cast<float>(r.x + r.w);
        top = half_height - 2.0f * half_height * static_cast<float>(r.y);
        bottom = half_height - 2.0f * half_height * static_cast<float>(r.y + r.h);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (geometry.hasWarp())
        multiplyWarp(geometry.regionToOutput());
    multiplyOrtho(left, right, bottom, top, -1.0f, 1.0f);
    glMatrixMode(GL_MODELVIEW);
}

void Renderer::setGeometry(const Geometry& wanted, std::shared_ptr<const MaskPicture> mask)
{
    const double stage_w = wanted.stageWidth(static_cast<int>(screen_width));
    const double stage_h = wanted.stageHeight(static_cast<int>(screen_height));
    const float ratio = wanted.hasRegion() ? static_cast<float>(stage_w / stage_h) : screen_ratio;
    stage_ratio.store(ratio);
    std::shared_ptr<const LightMap> light;
    if (wanted.needsPass())
        light = std::make_shared<const LightMap>(
            LightMap::make(wanted, mask.get(), getScreenWidth(), getScreenHeight()));
    std::lock_guard<std::mutex> lock(pending_lock);
    // TEST_PATTERN= counts when it changes; the key t toggles in between.
    if (wanted.test_pattern != last_set_pattern)
        test_pattern.store(wanted.test_pattern);
    last_set_pattern = wanted.test_pattern;
    pending_geometry = wanted;
    pending_ratio = ratio;
    pending_light = std::move(light);
    geometry_pending = true;
}

void Renderer::takePendingGeometry()
{
    std::unique_lock<std::mutex> lock(pending_lock, std::try_to_lock);
    if (!lock.owns_lock() || !geometry_pending)
        return;
    const Geometry wanted = pending_geometry;
    drawn_ratio = pending_ratio;
    const std::shared_ptr<const LightMap> light = std::move(pending_light);
    geometry_pending = false;
    lock.unlock();
    applyGeometry(wanted, light.get());
}

void Renderer::applyGeometry(const Geometry& wanted, const LightMap* light)
{
    geometry = wanted;
    loadProjection();
    pass_active = false;
    if (!geometry.needsPass() || !light)
        return;
    if (!pass)
        pass = std::make_unique<GeometryPass>(getScreenWidth(), getScreenHeight());
    std::string error;
    pass_active = pass->ready(&error);
    if (pass_active)
        pass->configure(*light);
    if (!pass_active && say)
        say("Geometry: " + error + "; the picture is drawn unshaped");
}

void Renderer::drawCanvases(const std::vector<Canvas*>& canvases)
{
    takePendingGeometry();
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    if (testPatternOn())
        drawTestPattern();
    else
        for (size_t i = 0; i < canvases.size(); ++i)
            drawCanvas(canvases[i], static_cast<int>(i));
    content_manager->frameDone();
    if (pass_active)
        pass->finishFrame();
    platform->presentFrame();
}

void Renderer::drawTestPattern()
{
    TestPattern::Frame frame;
    frame.stage_ratio = drawn_ratio;
    frame.region = geometry.region;
    frame.output_width = getScreenWidth();
    frame.output_height = getScreenHeight();
    frame.label = pattern_label;
    char line[96];
    std::snprintf(line, sizeof line, "OUTPUT %dx%d", frame.output_width, frame.output_height);
    frame.label.push_back(line);
    const Geometry::Region& r = geometry.region;
    std::snprintf(line, sizeof line, "REGION %.4g,%.4g,%.4g,%.4g", r.x, r.y, r.w, r.h);
    frame.label.push_back(line);
    glDisable(GL_TEXTURE_2D);
    for (const TestPattern::Bar& bar : TestPattern::bars(frame)) {
        for (int vertex = 0; vertex < 4; ++vertex)
            for (int k = 0; k < 4; ++k)
                color[vertex * 4 + k] = k == 3 ? 1.0f : bar.grey;
        const float corners[12] = {-bar.half_w, -bar.half_h, 0, bar.half_w, -bar.half_h, 0,
                                   -bar.half_w, bar.half_h,  0, bar.half_w, bar.half_h,  0};
        std::copy(corners, corners + 12, quadx);
        glPushMatrix();
        glTranslatef(bar.x, bar.y, 0.0f);
        glRotatef(bar.angle, 0.0f, 0.0f, 1.0f);
        drawQuad();
        glPopMatrix();
    }
    glEnable(GL_TEXTURE_2D);
}

ContentInterface* Renderer::findContent(const std::string& content_type) const
{
    return content_manager->findPlugin(content_type);
}

// A group's canvases carry the plug-in resolved when the group was made; a
// canvas made on its own is looked up by name.
ContentInterface* Renderer::contentOf(const Canvas* canvas) const
{
    if (ContentInterface* plugin = canvas->getContentPlugin())
        return plugin;
    return findContent(canvas->getContentType());
}

void Renderer::drawCanvas(Canvas* canvas, int index)
{
    ContentInterface* content = contentOf(canvas);
    // Read once: the ratio and the picture must be the same item's.
    const int data = canvas->getContentData();
    setColour(canvas);
    setHalfSizes(canvas, content, data);
    // Every canvas gets its content each frame, even behind a closed shutter,
    // so animations keep their clock. A type without a plug-in binds nothing.
    if (content)
        content->setContentFor(data, {index, canvas->getAlpha() > 0.0f, canvas->getPlayMode(),
                                      canvas->getPlaySpeed(), canvas->getPlayPosition()});
    glPushMatrix();
    if (canvas->getShutterState() == 0) {
        const unsigned int copies = canvas->getNumber();
        if (copies == 0)
            drawSingle(canvas);
        else
            drawRing(canvas, copies);
    }
    glPopMatrix();
}

void Renderer::setColour(const Canvas* canvas)
{
    const float rgba[4] = {canvas->getR(), canvas->getG(), canvas->getB(), canvas->getAlpha()};
    for (int vertex = 0; vertex < 4; ++vertex)
        for (int k = 0; k < 4; ++k)
            color[vertex * 4 + k] = rgba[k];
}

void Renderer::setHalfSizes(const Canvas* canvas, ContentInterface* content, int data)
{
    const float sx = canvas->getScalingX();
    float sy = canvas->getScalingY();
    if (sy < 0.0f) {
        // Negative height: keep the content's own proportions.
        float ratio = 1.0f;
        if (content)
            content->getContentRatio(data, &ratio);
        sy = sx * ratio;
    }
    const float corners[12] = {-sx, -sy, 0, sx, -sy, 0, -sx, sy, 0, sx, sy, 0};
    for (int i = 0; i < 12; ++i)
        quadx[i] = corners[i];
}

void Renderer::drawSingle(const Canvas* canvas)
{
    // DMX y grows downwards; GL y grows upwards.
    glTranslatef(canvas->getPositionX(), -canvas->getPositionY(), 0.0f);
    glRotatef(canvas->getRotation(), 0.0f, 0.0f, 1.0f);
    drawQuad();
}

void Renderer::drawRing(Canvas* canvas, unsigned int copies)
{
    for (int j = static_cast<int>(copies) - 1; j >= 0; --j) {
        glPushMatrix();
        glTranslatef(canvas->getPositionX(), -canvas->getPositionY(), 0.0f);
        placeCopy(canvas, j, copies);
        glRotatef(canvas->getRotation(), 0.0f, 0.0f, 1.0f);
        drawQuad();
        glPopMatrix();
    }
}

// Copy j sits at angle rotation_all + j/n of a full turn, counted
// counter-clockwise from the left of the centre.
void Renderer::placeCopy(Canvas* canvas, int j, unsigned int copies)
{
    const float zoom = canvas->getZoom();
    if (zoom_type == 1) {
        // An ellipse with the stage's proportions.
        const double angle = canvas->getRotationAll() * kPi / 180.0 + (2.0 * kPi / copies) * j;
        const float theta = static_cast<float>(angle);
        glTranslatef(-2.0f * zoom * std::cos(theta), -2.0f * zoom * std::sin(theta) / drawn_ratio,
                     0.0f);
    } else {
        // A true circle of radius zoom; the copy's own orientation is undone.
        const float a = canvas->getRotationAll() +
                        static_cast<float>(j * 360) / static_cast<float>(copies);
        glRotatef(correctAngleRange(a), 0.0f, 0.0f, 1.0f);
        glTranslatef(-zoom, 0.0f, 0.0f);
        glRotatef(correctAngleRange(-a), 0.0f, 0.0f, 1.0f);
    }
}

void Renderer::setZoom(int type)
{
    zoom_type = (type == 1 || type == 2) ? type : 1;
}

float Renderer::correctAngleRange(float angle)
{
    return Canvas::correctAngleRange(angle);
}

void Renderer::stopOnDisplayFailure(const DisplaySetupFailure& failure)
{
    const SetupCheck check = checkFor(failure.step);
    exitWithDiagnostic(
        "rpi_spectrafox: src/canvas/renderer.cpp: %s: %s: Assertion `%s' failed (%s).\n"
        "hint: %s\n",
        check.function, check.operation, check.condition, failure.detail.c_str(),
        failure.hint.c_str());
}

} // namespace Spectrafox
