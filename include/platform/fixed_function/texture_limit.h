#pragma once

namespace Spectrafox {

// The one place that asks the GPU how large a texture may be: pictures
// beyond it are scaled down, videos beyond it are refused.
class TextureLimit {
public:
    // No video is played larger than this on either side, whatever the GPU
    // takes: its pictures would cost the decoder and the uploads too much.
    static constexpr int kLargestVideoSide = 4096;
    // Taken when the context cannot say.
    static constexpr int kFallbackSide = 2048;

    // The largest side of a texture of the current context (render thread).
    static int gpuSide();
    // The largest side of a video to be played: the GPU's, or
    // kLargestVideoSide where that is smaller (render thread).
    static int videoSide();
};

} // namespace Spectrafox
