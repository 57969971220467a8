#pragma once

#include <cstdint>

#include "platform/fixed_function/gl_fixed_function.h"

namespace Spectrafox {

// One RGBA picture uploaded into a new texture a band of rows at a time, so
// that a large picture spreads its upload over several frames and nothing
// shows it half uploaded. Render thread; the pixels must stay meanwhile.
class BandedUpload {
public:
    BandedUpload(const unsigned char* rgba, int width, int height);
    ~BandedUpload(); // the texture goes with it unless taken
    BandedUpload(const BandedUpload&) = delete;
    BandedUpload& operator=(const BandedUpload&) = delete;

    // Whether the GPU takes a picture of this size as it is.
    static bool fits(int width, int height);
    // Uploads whole rows for up to *budget bytes (at least one row) and takes
    // them off it; true once every row is in.
    bool uploadWithin(std::uint64_t* budget);
    // The complete texture, the caller's from now on.
    GLuint take();

private:
    const unsigned char* const rgba;
    const int width;
    const int height;
    int next_row = 0;
    GLuint texture = 0;
};

} // namespace Spectrafox
