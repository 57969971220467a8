#include "platform/media/sequence_parameter_set.h"

#include <algorithm>

namespace Spectrafox {

namespace {

constexpr uint8_t kSpsType = 7;
// Past the largest level's frame size, in macroblocks a side.
constexpr uint32_t kMostMacroblocksASide = 2048;

// Reads bits of an RBSP, skipping the 0x03 after two zero bytes; reading
// past the end sets `overrun` and gives zeros.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t length) : data(data), length(length) {}

    uint32_t bits(int count)
    {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = value << 1 | bit();
        return value;
    }

    // Exp-Golomb, unsigned; at most 31 leading zeros.
    uint32_t ue()
    {
        int zeros = 0;
        while (bit() == 0 && !overrun) {
            if (++zeros > 31) {
                overrun = true;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
    }

    int32_t se()
    {
        const uint32_t code = ue();
        return (code & 1) != 0 ? static_cast<int32_t>((code + 1) / 2) : -static_cast<int32_t>(code / 2);
    }

    bool overrun = false;

private:
    uint32_t bit()
    {
        if (bit_in_byte == 0 && !nextByte())
            return 0;
        bit_in_byte = (bit_in_byte + 7) % 8;
        return (current >> bit_in_byte) & 1;
    }

    bool nextByte()
    {
        if (position < length && zeros >= 2 && data[position] == 3) {
            ++position;
            zeros = 0;
        }
        if (position >= length) {
            overrun = true;
            return false;
        }
        current = data[position++];
        zeros = current == 0 ? zeros + 1 : 0;
        bit_in_byte = 8;
        return true;
    }

    const uint8_t* data;
    size_t length;
    size_t position = 0;
    int zeros = 0;
    uint8_t current = 0;
    int bit_in_byte = 0;
};

bool hasChromaFields(uint32_t profile)
{
    for (uint32_t high : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == high)
            return true;
    return false;
}

void skipScalingList(BitReader& in, int size)
{
    int32_t last = 8;
    int32_t next = 8;
    for (int j = 0; j < size && !in.overrun; ++j) {
        if (next != 0)
            next = (last + in.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

// chroma_format_idc; the scaling lists are skipped.
uint32_t readChromaFields(BitReader& in)
{
    const uint32_t chroma = in.ue();
    if (chroma == 3)
        in.bits(1); // separate_colour_plane_flag: treated as 4:4:4 for cropping
    in.ue();        // bit_depth_luma_minus8
    in.ue();        // bit_depth_chroma_minus8
    in.bits(1);     // qpprime_y_zero_transform_bypass_flag
    if (in.bits(1) != 0) {
        for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i)
            if (in.bits(1) != 0)
                skipScalingList(in, i < 6 ? 16 : 64);
    }
    return chroma;
}

void skipPictureOrderFields(BitReader& in)
{
    const uint32_t type = in.ue();
    if (type == 0) {
        in.ue(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (type == 1) {
        in.bits(1);
        in.se();
        in.se();
        const uint32_t cycle = in.ue();
        for (uint32_t i = 0; i < cycle && i < 256 && !in.overrun; ++i)
            in.se();
    }
}

} // namespace

bool SequenceParameterSet::size(const uint8_t* payload, size_t length, int* width, int* height)
{
    BitReader in(payload, length);
    const uint32_t profile = in.bits(8);
    in.bits(16); // constraint flags, level
    in.ue();     // seq_parameter_set_id
    const uint32_t chroma = hasChromaFields(profile) ? readChromaFields(in) : 1;
    in.ue();     // log2_max_frame_num_minus4
    skipPictureOrderFields(in);
    in.ue();     // max_num_ref_frames
    in.bits(1);  // gaps_in_frame_num_value_allowed_flag
    const uint64_t columns = uint64_t{in.ue()} + 1;
    const uint64_t map_rows = uint64_t{in.ue()} + 1;
    const uint32_t frames_only = in.bits(1);
    if (frames_only == 0)
        in.bits(1); // mb_adaptive_frame_field_flag
    in.bits(1);     // direct_8x8_inference_flag
    uint64_t crop[4] = {0, 0, 0, 0}; // left, right, top, bottom
    if (in.bits(1) != 0)
        for (uint64_t& side : crop)
            side = in.ue();
    const uint64_t rows = map_rows * (2 - frames_only);
    if (in.overrun || chroma > 3 || columns > kMostMacroblocksASide || rows > kMostMacroblocksASide)
        return false;
    const uint64_t crop_x = chroma == 1 || chroma == 2 ? 2 : 1;
    const uint64_t crop_y = (chroma == 1 ? 2 : 1) * (2 - frames_only);
    const uint64_t cropped_x = crop_x * (crop[0] + crop[1]);
    const uint64_t cropped_y = crop_y * (crop[2] + crop[3]);
    if (cropped_x >= columns * 16 || cropped_y >= rows * 16)
        return false;
    *width = static_cast<int>(columns * 16 - cropped_x);
    *height = static_cast<int>(rows * 16 - cropped_y);
    return true;
}

bool SequenceParameterSet::sizeInStream(const std::vector<uint8_t>& stream, int* width, int* height)
{
    const uint8_t kStartCode[3] = {0, 0, 1};
    auto at = std::search(stream.begin(), stream.end(), kStartCode, kStartCode + 3);
    while (at != stream.end()) {
        const auto nal = at + 3;
        const auto next = std::search(nal, stream.end(), kStartCode, kStartCode + 3);
        if (nal != stream.end() && (*nal & 0x1F) == kSpsType)
            return size(&*nal + 1, static_cast<size_t>(next - nal - 1), width, height);
        at = next;
    }
    return false;
}

} // namespace Spectrafox
