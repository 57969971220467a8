// Names of uploaded files and the kinds their first bytes show: pure.
#include <gtest/gtest.h>

#include <string>

#include "status/texture_name.h"

using namespace Spectrafox;

namespace {

TEST(TextureName, OnlyASlotNumberAndAKindMakeAName)
{
    const struct {
        std::string text;
        bool taken;
        const char* built; // what the name on disk is
    } cases[] = {
        {"000.png", true, "000.png"},
        {"255.mkv", true, "255.mkv"},
        {"042.h264", true, "042.h264"},
        {"256.png", false, nullptr},
        {"7.png", false, nullptr},
        {"0007.png", false, nullptr},
        {"007.PNG", false, nullptr},
        {"007.png/", false, nullptr},
        {"007.jpg", false, nullptr},
        {"../007.png", false, nullptr},
        {"%2e%2e/007.png", false, nullptr},
        {std::string("007.png\0.sh", 11), false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int slot = -1;
        TextureName::Kind kind{};
        ASSERT_EQ(TextureName::parse(c.text, &slot, &kind), c.taken);
        if (c.taken) {
            EXPECT_EQ(TextureName::build(slot, kind), c.built);
        }
    }
}

TEST(TextureName, FirstBytesMustBeWhatTheNameSays)
{
    using Kind = TextureName::Kind;
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);
    const std::string gif("GIF89a\x01\0\x01\0\0\0", 12);
    const std::string h264("\0\0\0\x01\x67\x42\0\x1e\0\0\0\0", 12);
    const std::string mp4("\0\0\0\x18" "ftypisom\0\0", 14);
    const std::string mov("\0\0\0\x14" "ftypqt  \0\0", 14);
    const std::string mkv("\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01\0\0\0", 12);
    const struct {
        const char* name;
        Kind kind;
        std::string head;
        bool matches;
    } cases[] = {
        {"png", Kind::Png, png, true},     {"mp4 as png", Kind::Png, mp4, false},
        {"gif", Kind::Gif, gif, true},     {"png as gif", Kind::Gif, png, false},
        {"h264", Kind::H264, h264, true},  {"mkv as h264", Kind::H264, mkv, false},
        {"mp4", Kind::Mp4, mp4, true},     {"mov as mp4", Kind::Mp4, mov, true},
        {"mov", Kind::Mov, mov, true},     {"gif as mov", Kind::Mov, gif, false},
        {"mkv", Kind::Mkv, mkv, true},     {"h264 as mkv", Kind::Mkv, h264, false},
        {"half a PNG signature", Kind::Png, png.substr(0, 5), false},
        {"an empty file", Kind::Mp4, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextureName::looksLike(c.kind, reinterpret_cast<const unsigned char*>(c.head.data()), c.head.size()),
                  c.matches);
    }
}

} // namespace
