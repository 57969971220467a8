#include "platform/media/raw_stream_index.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <list>
#include <mutex>
#include <numeric>
#include <utility>

namespace Spectrafox {

namespace {

bool isIdrPicture(const uint8_t* data, int size)
{
    for (int i = 0; i + 3 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && (data[i + 3] & 0x1f) == 5)
            return true;
    return false;
}

// Picture order counts, packet by packet, from FFmpeg's H.264 parser (which
// reads the slice headers, nothing more).
class OrderCounter {
public:
    OrderCounter()
        : codec(avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264))),
          parser(av_parser_init(AV_CODEC_ID_H264))
    {
        if (parser != nullptr)
            parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }
    ~OrderCounter()
    {
        if (parser != nullptr)
            av_parser_close(parser);
        avcodec_free_context(&codec);
    }
    OrderCounter(const OrderCounter&) = delete;
    OrderCounter& operator=(const OrderCounter&) = delete;

    bool ready() const { return codec != nullptr && parser != nullptr; }
    int countOf(const AVPacket& packet)
    {
        uint8_t* out = nullptr;
        int out_size = 0;
        av_parser_parse2(parser, codec, &out, &out_size, packet.data, packet.size, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        return parser->output_picture_number;
    }

private:
    AVCodecContext* codec;
    AVCodecParserContext* parser;
};

// The indexes read last, newest first, for kKeptPictures pictures in all.
struct KeptIndexes {
    std::mutex mutex;
    std::list<std::pair<RegularFile::Version, std::shared_ptr<const RawStreamIndex>>> newest_first;
    size_t pictures = 0;

    std::shared_ptr<const RawStreamIndex> find(const RegularFile::Version& version)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = newest_first.begin(); it != newest_first.end(); ++it) {
            if (it->first != version)
                continue;
            newest_first.splice(newest_first.begin(), newest_first, it);
            return it->second;
        }
        return nullptr;
    }

    void keep(const RegularFile::Version& version, std::shared_ptr<const RawStreamIndex> index)
    {
        std::lock_guard<std::mutex> lock(mutex);
        pictures += index->pictures.size();
        newest_first.emplace_front(version, std::move(index));
        while (pictures > RawStreamIndex::kKeptPictures && newest_first.size() > 1) {
            pictures -= newest_first.back().second->pictures.size();
            newest_first.pop_back();
        }
    }
};

KeptIndexes& keptIndexes()
{
    static KeptIndexes kept;
    return kept;
}

} // namespace

std::shared_ptr<const RawStreamIndex> RawStreamIndex::of(const RegularFile::Version& version,
                                                         AVFormatContext* format, int stream,
                                                         const std::atomic<bool>* keep_going)
{
    if (std::shared_ptr<const RawStreamIndex> kept = keptIndexes().find(version))
        return kept;
    std::shared_ptr<const RawStreamIndex> index = read(format, stream, keep_going);
    if (index)
        keptIndexes().keep(version, index);
    return index;
}

std::shared_ptr<RawStreamIndex> RawStreamIndex::read(AVFormatContext* format, int stream,
                                                     const std::atomic<bool>* keep_going)
{
    OrderCounter counter;
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || !counter.ready()) {
        av_packet_free(&packet);
        return nullptr;
    }
    auto index = std::make_shared<RawStreamIndex>();
    std::vector<int32_t> idr, counts;
    int32_t key_picture = 0;
    bool complete = true;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && packet->pos >= 0 && packet->size > 0) {
            const int32_t decoding = static_cast<int32_t>(index->pictures.size());
            if (isIdrPicture(packet->data, packet->size))
                key_picture = decoding;
            idr.push_back(key_picture);
            counts.push_back(counter.countOf(*packet));
            index->pictures.push_back(Picture{packet->pos, packet->size, 0, key_picture});
        }
        av_packet_unref(packet);
        if (index->pictures.size() > kMostPictures || (keep_going != nullptr && !keep_going->load())) {
            complete = false;
            break;
        }
    }
    av_packet_free(&packet);
    if (!complete || index->pictures.empty())
        return nullptr;
    index->rankByOrderCounts(idr, counts);
    return index;
}

void RawStreamIndex::rankByOrderCounts(const std::vector<int32_t>& idr,
                                       const std::vector<int32_t>& counts)
{
    decoding_of_rank.resize(pictures.size());
    std::iota(decoding_of_rank.begin(), decoding_of_rank.end(), 0);
    std::stable_sort(decoding_of_rank.begin(), decoding_of_rank.end(), [&](int32_t a, int32_t b) {
        return idr[a] != idr[b] ? idr[a] < idr[b] : counts[a] < counts[b];
    });
    for (size_t rank = 0; rank < decoding_of_rank.size(); ++rank)
        pictures[decoding_of_rank[rank]].rank = static_cast<int32_t>(rank);
}

} // namespace Spectrafox
