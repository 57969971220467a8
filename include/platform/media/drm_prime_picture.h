#pragma once

#include "platform/fixed_function/dma_buf_texture.h"

#include <string>

struct AVFrame;

namespace Spectrafox {

// The DMA-BUFs of a DRM PRIME picture (the board decoder's), as EGL imports
// them: one layer as it is, or a layer per plane (R8 and GR88, or three R8)
// as the NV12 or YUV420 picture they make. False, with the reason in `why`,
// for anything else, or for planes whose modifiers differ.
bool describeDrmPrime(const AVFrame& picture, DmaBufPicture* described, std::string* why);

} // namespace Spectrafox
