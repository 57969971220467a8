#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/regular_file.h"

struct AVFormatContext;

namespace Spectrafox {

// Where each picture of a raw H.264 stream lies in its file, in which order
// it is shown, and from which IDR picture it is decoded. Order counts start
// again at each IDR picture, so pictures are shown in (IDR, count) order.
//
// Indexing reads the whole stream, so the indexes of the files read last are
// kept (for kKeptPictures pictures in all) for the next open of the same
// version of a file: a clip called again is not read through again.
class RawStreamIndex {
public:
    struct Picture {
        int64_t pos;
        int32_t size;
        int32_t rank;        // presentation order
        int32_t key_picture; // decoding index of its IDR picture
    };

    // Of more pictures than this a stream is not indexed (9 hours at 60 per second).
    static constexpr size_t kMostPictures = 2000000;
    static constexpr size_t kKeptPictures = 1000000;

    // The stream's index, kept from an earlier open of this version of the
    // file, or read from `format` (opened on it, nothing read yet); null when
    // it holds no picture, too many, or *keep_going turned false.
    static std::shared_ptr<const RawStreamIndex> of(const RegularFile::Version& version,
                                                    AVFormatContext* format, int stream,
                                                    const std::atomic<bool>* keep_going);

    std::vector<Picture> pictures;       // in decoding order
    std::vector<int32_t> decoding_of_rank;

private:
    static std::shared_ptr<RawStreamIndex> read(AVFormatContext* format, int stream,
                                                const std::atomic<bool>* keep_going);
    void rankByOrderCounts(const std::vector<int32_t>& idr, const std::vector<int32_t>& counts);
};

} // namespace Spectrafox
