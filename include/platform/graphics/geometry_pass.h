#pragma once

#include "platform/graphics/light_map.h"

#include <GLES2/gl2.h>

#include <array>
#include <string>

namespace Spectrafox {

// The one extra drawing pass that shapes the picture for the surface: the
// frame, drawn straight to the output (through the keystone, which the
// renderer's projection carries), is multiplied by each pixel's light (the
// blend ramps and the mask, black outside the warped region: LightMap) in
// the blender, one texture fetch a pixel, over no more of the output than
// the light darkens (a soft edge's strip, a mask's extent, the whole output
// around a keystone). Render thread only; made and deleted while the
// context is current.
class GeometryPass {
public:
    GeometryPass(int output_width, int output_height);
    ~GeometryPass();
    GeometryPass(const GeometryPass&) = delete;
    GeometryPass& operator=(const GeometryPass&) = delete;

    // False, with the driver's words, when the program cannot be made;
    // the frame is then drawn unshaped.
    bool ready(std::string* error);
    // The light of the frames to come, of the output's size.
    void configure(const LightMap& light);
    // Multiplies the frame drawn on the output by its light.
    void finishFrame();

private:
    void uploadLight(const LightMap& light);
    void drawLight();

    int width;
    int height;
    bool built = false;
    GLuint light_texture = 0;
    GLuint light_program = 0;
    // Where the quad is drawn, in clip coordinates: left, bottom, right, top.
    std::array<GLfloat, 4> dimmed{-1, -1, 1, 1};
};

} // namespace Spectrafox
