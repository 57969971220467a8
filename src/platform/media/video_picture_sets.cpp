#include "platform/media/video_picture_sets.h"

#include "platform/media/drm_prime_picture.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <utility>

namespace Spectrafox {

DrmPrimeImport::DrmPrimeImport(const DmaBufImporter* dma_buf_importer, Notice on_notice)
    : importer(dma_buf_importer), notice(std::move(on_notice))
{
}

bool DrmPrimeImport::importInto(DmaBufTexture& texture, const AVFrame& picture)
{
    if (!wanted())
        return false;
    DmaBufPicture described;
    std::string why;
    if (!describeDrmPrime(picture, &described, &why) ||
        !texture.import(*importer, described, &why)) {
        refused = true;
        tell("Video: DMA-BUF import refused (" + why + "); pictures are copied");
        return false;
    }
    if (!told_imported) {
        tell("Video: decoder pictures shown without a copy (DMA-BUF)");
        told_imported = true;
    }
    return true;
}

void DrmPrimeImport::tell(const std::string& message) const
{
    if (notice)
        notice(message);
}

bool VideoPictureSets::show(const DecodedPicture& picture, int max_size)
{
    Set& set = sets[next];
    if (picture->format == AV_PIX_FMT_DRM_PRIME && import.importInto(set.imported, *picture)) {
        set.imported_frame = picture;
    } else {
        if (!upload.upload(*picture, set.planes, max_size))
            return false;
        set.imported.release();
        set.imported_frame.reset();
    }
    shown = next;
    next = (next + 1) % kSets;
    return true;
}

void VideoPictureSets::bind() const
{
    if (shown < 0)
        return;
    const Set& set = sets[shown];
    if (set.imported_frame)
        set.imported.bind();
    else
        set.planes.bind();
}

void VideoPictureSets::release()
{
    for (Set& set : sets) {
        set.planes.release();
        set.imported.release();
        set.imported_frame.reset();
    }
    shown = -1;
}

} // namespace Spectrafox
