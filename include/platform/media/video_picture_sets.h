#pragma once

#include "platform/fixed_function/dma_buf_texture.h"
#include "platform/fixed_function/yuv_texture.h"
#include "platform/media/clip_decoder.h"
#include "platform/media/yuv_frame_upload.h"

#include <functional>
#include <string>

namespace Spectrafox {

// What the slots of one video player share about pictures that the board
// decoder leaves in DMA-BUFs (DRM PRIME): they are imported as they are
// where the display and the context can, until the first refusal; from
// then on they are copied. The first import and the refusal are each told
// once. Render thread only.
class DrmPrimeImport {
public:
    using Notice = std::function<void(const std::string& message)>;

    // Null `importer`: nothing is imported.
    DrmPrimeImport(const DmaBufImporter* importer, Notice notice);

    // Whether decoders opened now should keep their DRM PRIME frames: not
    // once an import was refused, so that later decoders hand over their
    // pictures in memory rather than in a layout only the GPU may read.
    bool wanted() const { return importer != nullptr && importer->canImport() && !refused; }
    // False, once any import was refused: the picture is to be copied.
    bool importInto(DmaBufTexture& texture, const AVFrame& picture);

private:
    void tell(const std::string& message) const;

    const DmaBufImporter* importer;
    Notice notice;
    bool refused = false;
    bool told_imported = false;
};

// The picture sets that one video slot cycles through, so that a new
// picture never goes where the last ones may still be drawn from: each
// holds an uploaded picture or an imported one, whose decoder frame it keeps
// while the picture can be shown (the decoder would write into it otherwise).
class VideoPictureSets {
public:
    static constexpr int kSets = 3;

    explicit VideoPictureSets(DrmPrimeImport& shared_import) : import(shared_import) {}
    VideoPictureSets(const VideoPictureSets&) = delete;
    VideoPictureSets& operator=(const VideoPictureSets&) = delete;

    // Puts the picture into the next set and shows it; false, keeping the
    // last one, when it can be neither imported nor uploaded.
    bool show(const DecodedPicture& picture, int max_size);
    bool showsAny() const { return shown >= 0; }
    // Binds the picture shown.
    void bind() const;
    // Lets every picture and frame go (the context must be current).
    void release();

private:
    struct Set {
        YuvTexture planes;
        DmaBufTexture imported;
        DecodedPicture imported_frame; // null: the planes are shown
    };

    DrmPrimeImport& import;
    Set sets[kSets];
    YuvFrameUpload upload;
    int shown = -1;
    int next = 0;
};

} // namespace Spectrafox
