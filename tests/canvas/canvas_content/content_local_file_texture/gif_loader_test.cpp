#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include "support/gif_writer.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <random>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Spectrafox {

// Reaches the decoder's private steps and turns C buffers into vectors.
class GIFLoaderTestPeer {
public:
    static std::optional<std::vector<uint8_t>> lzw(const std::string& codeStream, int minCodeSize, int imageSize)
    {
        unsigned char* out = GIFLoader::LZW_decompression(
            reinterpret_cast<const unsigned char*>(codeStream.data()), static_cast<int>(codeStream.size()),
            minCodeSize, imageSize);
        if (!out)
            return std::nullopt;
        std::vector<uint8_t> indices(out, out + imageSize);
        free(out);
        return indices;
    }

    static bool deinterlace(std::vector<uint8_t>& indices, int width, int height)
    {
        return GIFLoader::deinterlace(indices.data(), width, height);
    }

    static unsigned char** loadWithBudget(const char* fileName, int* width, int* height, GifAnimationInfo* info,
                                          std::size_t budget)
    {
        return GIFLoader::loadWithBudget(fileName, width, height, info, budget);
    }
};

} // namespace Spectrafox

namespace {

using Spectrafox::GIFLoader;
using Spectrafox::GIFLoaderTestPeer;
using Spectrafox::GifAnimationInfo;
using Spectrafox::Test::CodeWriter;
using Spectrafox::Test::GifBuilder;
using Spectrafox::Test::GifColor;
using Spectrafox::Test::GifImage;
using Spectrafox::Test::interlaceRows;
using Spectrafox::Test::lzwEncode;
using Spectrafox::Test::TempDir;
using Pixel = std::array<uint8_t, 4>;

const std::vector<GifColor> kPalette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
constexpr Pixel kRed{255, 0, 0, 255};
constexpr Pixel kGreen{0, 255, 0, 255};
constexpr Pixel kBlue{0, 0, 255, 255};
constexpr Pixel kWhite{255, 255, 255, 255};
constexpr Pixel kBlack{0, 0, 0, 255};

// A load's result copied out of the C buffers, which are freed at once.
struct Loaded {
    bool ok = false;
    int width = -1;
    int height = -1;
    GifAnimationInfo info{-1, -1, -1, nullptr};
    std::vector<int> delays;
    std::vector<std::vector<uint8_t>> frames;

    Pixel pixel(int frame, int x, int y) const
    {
        const uint8_t* p = frames.at(frame).data() + 4 * (y * width + x);
        return {p[0], p[1], p[2], p[3]};
    }
};

Loaded loadFile(const std::string& path, std::size_t budget = GIFLoader::kMaxLoadBytes)
{
    Loaded loaded;
    unsigned char** frames =
        GIFLoaderTestPeer::loadWithBudget(path.c_str(), &loaded.width, &loaded.height, &loaded.info, budget);
    loaded.ok = frames != nullptr;
    if (!frames)
        return loaded;
    const std::size_t frameBytes = 4 * static_cast<std::size_t>(loaded.width) * loaded.height;
    for (int i = 0; i < loaded.info.numberOfImages; ++i) {
        loaded.frames.emplace_back(frames[i], frames[i] + frameBytes);
        loaded.delays.push_back(loaded.info.delayArray[i]);
        free(frames[i]);
    }
    free(frames);
    free(loaded.info.delayArray);
    loaded.info.delayArray = nullptr;
    return loaded;
}

Loaded loadBytes(const std::string& bytes, std::size_t budget = GIFLoader::kMaxLoadBytes)
{
    TempDir dir;
    return loadFile(dir.write("picture.gif", bytes), budget);
}

GifImage solid(int left, int top, int width, int height, uint8_t index)
{
    GifImage image;
    image.left = left;
    image.top = top;
    image.width = width;
    image.height = height;
    image.indices.assign(static_cast<std::size_t>(width) * height, index);
    return image;
}

std::string codes(const std::vector<std::pair<int, int>>& codesAndWidths)
{
    CodeWriter writer;
    for (const auto& [code, width] : codesAndWidths)
        writer.put(code, width);
    return writer.bytes();
}

std::vector<uint8_t> randomIndices(std::size_t count, int alphabet, unsigned int generatorStart)
{
    std::mt19937 generator(generatorStart);
    std::uniform_int_distribution<int> pick(0, alphabet - 1);
    std::vector<uint8_t> indices(count);
    for (auto& index : indices)
        index = static_cast<uint8_t>(pick(generator));
    return indices;
}

// ---- LZW decompression ----

TEST(GifLzwTest, HandWrittenCodeStreams)
{
    struct Case {
        const char* name;
        int minCodeSize;
        std::vector<std::pair<int, int>> codes; // code, width in bits
        int imageSize;
        std::optional<std::vector<uint8_t>> expected;
    };
    std::vector<Case> cases = {
        {"min 2 widens once the table holds 8 cells", 2,
         {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}}, 4, std::vector<uint8_t>{0, 1, 2, 3}},
        {"min 1 widens after its first code", 1, {{2, 2}, {1, 2}, {0, 3}, {3, 3}}, 2, std::vector<uint8_t>{1, 0}},
        {"mid-stream clear resets table and width", 2,
         {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {4, 4}, {3, 3}, {3, 3}, {6, 3}, {5, 4}}, 7,
         std::vector<uint8_t>{1, 2, 3, 3, 3, 3, 3}},
        {"code equal to the table length", 2, {{4, 3}, {1, 3}, {2, 3}, {6, 3}, {8, 4}, {5, 4}}, 7,
         std::vector<uint8_t>{1, 2, 1, 2, 1, 2, 1}},
        {"code beyond the table length repeats the previous string", 2, {{4, 3}, {1, 3}, {7, 3}, {5, 3}}, 3,
         std::vector<uint8_t>{1, 1, 1}},
        {"stream without a leading clear", 2, {{3, 3}, {0, 3}, {5, 3}}, 2, std::vector<uint8_t>{3, 0}},
        {"codes after the end code are ignored", 2, {{4, 3}, {1, 3}, {5, 3}, {7, 3}, {7, 3}}, 1,
         std::vector<uint8_t>{1}},
        {"clear then end code closes the data", 2, {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {5, 3}}, 2,
         std::vector<uint8_t>{1, 2}},
        {"one index too many", 2, {{4, 3}, {1, 3}, {2, 3}, {5, 3}}, 1, std::nullopt},
        {"one index too few", 2, {{4, 3}, {1, 3}, {2, 3}, {5, 3}}, 3, std::nullopt},
        {"end code first", 2, {{5, 3}}, 0, std::nullopt},
        {"end code right after the leading clear", 2, {{4, 3}, {5, 3}}, 0, std::nullopt},
        {"first code names no cell", 2, {{4, 3}, {6, 3}, {1, 3}, {5, 3}}, 2, std::nullopt},
        {"first code names no cell, no leading clear", 2, {{7, 3}, {1, 3}, {5, 3}}, 2, std::nullopt},
        {"code after a mid-stream clear names no cell", 2, {{4, 3}, {1, 3}, {4, 3}, {6, 3}, {1, 3}, {5, 3}}, 3,
         std::nullopt},
        {"stream ends without an end code", 2, {{4, 3}, {1, 3}, {1, 3}}, 8, std::nullopt},
        {"empty stream", 2, {}, 1, std::nullopt},
        {"minimum code size 0", 0, {{1, 1}, {0, 1}}, 1, std::nullopt},
        {"minimum code size 9", 9, {{512, 10}, {1, 10}, {513, 10}}, 1, std::nullopt},
        {"minimum code size 12", 12, {{4096, 13}, {1, 13}, {4097, 13}}, 1, std::nullopt},
    };
    // Width 9 holds until the table reaches 512 cells: 255 codes after a clear.
    Case min8{"min 8 widens at 512 cells, not one code earlier", 8, {{256, 9}}, 256, std::vector<uint8_t>{}};
    for (int i = 0; i < 255; ++i) {
        min8.codes.push_back({i, 9});
        min8.expected->push_back(static_cast<uint8_t>(i));
    }
    min8.codes.push_back({7, 10});
    min8.codes.push_back({257, 10});
    min8.expected->push_back(7);
    cases.push_back(min8);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GIFLoaderTestPeer::lzw(codes(c.codes), c.minCodeSize, c.imageSize), c.expected);
    }
}

TEST(GifLzwTest, EncodedStreamsDecodeToTheirIndices)
{
    struct Case {
        const char* name;
        int minCodeSize;
        std::vector<uint8_t> indices;
        bool clearWhenFull;
        bool clearAtEnd;
    };
    const Case cases[] = {
        {"min 1, two colours", 1, randomIndices(3000, 2, 1), true, false},
        {"min 2, four colours", 2, randomIndices(3000, 4, 2), true, false},
        {"min 8, noise refills the table", 8, randomIndices(40000, 256, 3), true, false},
        {"min 8, full table kept without clear", 8, randomIndices(40000, 256, 4), false, false},
        {"min 8, few colours make long strings", 8, randomIndices(200000, 3, 5), false, false},
        {"min 4, one colour makes the longest strings", 4, std::vector<uint8_t>(100000, 9), true, false},
        {"min 8, clear right before the end code", 8, randomIndices(5000, 200, 6), true, true},
        {"min 8, single index", 8, {42}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string stream = lzwEncode(c.indices, c.minCodeSize, c.clearWhenFull, c.clearAtEnd);
        const int size = static_cast<int>(c.indices.size());
        EXPECT_EQ(GIFLoaderTestPeer::lzw(stream, c.minCodeSize, size), c.indices);
        EXPECT_EQ(GIFLoaderTestPeer::lzw(stream, c.minCodeSize, size - 1), std::nullopt);
        EXPECT_EQ(GIFLoaderTestPeer::lzw(stream, c.minCodeSize, size + 1), std::nullopt);
    }
}

TEST(GifLzwTest, GarbageStreamsNeverReadOutsideTheTable)
{
    // Random codes hit undefined cells, overlong output and early ends; ASan
    // checks every access, the test that the decoder answers at all.
    std::mt19937 generator(7);
    for (int round = 0; round < 3000; ++round) {
        std::string stream(generator() % 64, '\0');
        for (char& byte : stream)
            byte = static_cast<char>(generator());
        const int minCodeSize = 1 + static_cast<int>(generator() % 8);
        const auto result = GIFLoaderTestPeer::lzw(stream, minCodeSize, static_cast<int>(generator() % 200));
        if (result) {
            for (uint8_t index : *result)
                ASSERT_LT(index, 1 << minCodeSize);
        }
    }
}

TEST(GifDeinterlaceTest, EightRowsLandInPassOrder)
{
    // Source rows 0..7 go to rows 0, 4, 2, 6, 1, 3, 5, 7.
    std::vector<uint8_t> rows = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(GIFLoaderTestPeer::deinterlace(rows, 1, 8));
    EXPECT_EQ(rows, (std::vector<uint8_t>{0, 4, 2, 5, 1, 6, 3, 7}));
}

TEST(GifDeinterlaceTest, EveryHeightRestoresNaturalOrder)
{
    const int width = 3;
    for (int height = 1; height <= 40; ++height) {
        SCOPED_TRACE(height);
        std::vector<uint8_t> natural;
        for (int row = 0; row < height; ++row)
            natural.insert(natural.end(), width, static_cast<uint8_t>(row));
        std::vector<uint8_t> rows = interlaceRows(natural, width, height);
        ASSERT_TRUE(GIFLoaderTestPeer::deinterlace(rows, width, height));
        EXPECT_EQ(rows, natural);
    }
}

// ---- Loader ----

TEST(GifLoaderTest, StillImageGivesOneFrameWithoutTiming)
{
    GifImage image = solid(0, 0, 2, 2, 0);
    image.indices = {0, 1, 2, 3};
    const Loaded loaded = loadBytes(GifBuilder(2, 2, kPalette).image(image).trailer().bytes());
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.width, 2);
    EXPECT_EQ(loaded.height, 2);
    EXPECT_EQ(loaded.info.numberOfImages, 1);
    EXPECT_EQ(loaded.delays, std::vector<int>{0});
    EXPECT_EQ(loaded.info.isLoopImage, 0);
    EXPECT_EQ(loaded.info.loopCount, 0);
    EXPECT_EQ(loaded.pixel(0, 0, 0), kRed);
    EXPECT_EQ(loaded.pixel(0, 1, 0), kGreen);
    EXPECT_EQ(loaded.pixel(0, 0, 1), kBlue);
    EXPECT_EQ(loaded.pixel(0, 1, 1), kWhite);
}

TEST(GifLoaderTest, Gif87aLoads)
{
    const Loaded loaded = loadBytes(GifBuilder(1, 1, kPalette, 0, "GIF87a").image(solid(0, 0, 1, 1, 2)).trailer().bytes());
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixel(0, 0, 0), kBlue);
}

TEST(GifLoaderTest, FileWithoutImagesShowsTheBackground)
{
    const Loaded withTable = loadBytes(GifBuilder(3, 2, kPalette, 2).trailer().bytes());
    ASSERT_TRUE(withTable.ok);
    ASSERT_EQ(withTable.info.numberOfImages, 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(withTable.pixel(0, x, y), kBlue);

    // Even without a table the file must be longer than the smallest table would need.
    const Loaded withoutTable = loadBytes(GifBuilder(3, 2).comment("padding").trailer().bytes());
    ASSERT_TRUE(withoutTable.ok);
    EXPECT_EQ(withoutTable.frames.at(0), std::vector<uint8_t>(3 * 2 * 4, 0));
}

TEST(GifLoaderTest, ImagesAreGroupedIntoFramesByTheirDelays)
{
    struct Case {
        const char* name;
        std::vector<int> delays; // -1: no graphic control extension
        std::vector<int> expectedDelays;
    };
    const Case cases[] = {
        {"delays 10 and 20", {10, 20}, {10, 20}},
        {"delay 0 then 5 share a frame", {0, 5}, {5}},
        {"no extensions at all", {-1, -1}, {0}},
        {"last frame without a delay keeps 0", {10, -1}, {10, 0}},
        {"three timed images", {10, 10, 10}, {10, 10, 10}},
        {"mixed", {-1, 7, 0, -1, 3}, {7, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GifBuilder gif(4, 1, kPalette);
        for (int delay : c.delays) {
            if (delay >= 0)
                gif.graphicControl(delay);
            gif.image(solid(0, 0, 1, 1, 1));
        }
        const Loaded loaded = loadBytes(gif.trailer().bytes());
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.info.numberOfImages, static_cast<int>(c.expectedDelays.size()));
        EXPECT_EQ(loaded.delays, c.expectedDelays);
    }
}

TEST(GifLoaderTest, LaterFrameShowsEarlierImagesBeneath)
{
    const std::string bytes = GifBuilder(3, 1, kPalette, 3)
                                  .graphicControl(10).image(solid(0, 0, 2, 1, 0))
                                  .graphicControl(20).image(solid(1, 0, 1, 1, 1))
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.info.numberOfImages, 2);
    EXPECT_EQ(loaded.pixel(0, 0, 0), kRed);
    EXPECT_EQ(loaded.pixel(0, 1, 0), kRed);
    EXPECT_EQ(loaded.pixel(0, 2, 0), kWhite);
    EXPECT_EQ(loaded.pixel(1, 0, 0), kRed);
    EXPECT_EQ(loaded.pixel(1, 1, 0), kGreen);
    EXPECT_EQ(loaded.pixel(1, 2, 0), kWhite);
}

TEST(GifLoaderTest, UntimedImageIsDrawnIntoTheSameFrame)
{
    const std::string bytes = GifBuilder(2, 1, kPalette)
                                  .graphicControl(0).image(solid(0, 0, 1, 1, 2))
                                  .graphicControl(5).image(solid(1, 0, 1, 1, 1))
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.info.numberOfImages, 1);
    EXPECT_EQ(loaded.delays, std::vector<int>{5});
    EXPECT_EQ(loaded.pixel(0, 0, 0), kBlue);
    EXPECT_EQ(loaded.pixel(0, 1, 0), kGreen);
}

TEST(GifLoaderTest, LaterOfTwoGraphicControlsCounts)
{
    const std::string bytes = GifBuilder(1, 1, kPalette)
                                  .graphicControl(30, 1).graphicControl(40).image(solid(0, 0, 1, 1, 1))
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.delays, std::vector<int>{40});
    EXPECT_EQ(loaded.pixel(0, 0, 0), kGreen); // the earlier transparency is gone
}

TEST(GifLoaderTest, LoopingBlock)
{
    struct Case {
        const char* name;
        std::string identifier;
        std::string payload;
        int isLoop;
        int loopCount;
    };
    const Case cases[] = {
        {"loop forever", "NETSCAPE2.0", std::string("\x01\x00\x00", 3), 1, 0},
        {"loop count 3", "NETSCAPE2.0", std::string("\x01\x03\x00", 3), 1, 3},
        {"loop count 0x1234", "NETSCAPE2.0", std::string("\x01\x34\x12", 3), 1, 0x1234},
        {"other identifier", "ANIMEXTS1.0", std::string("\x01\x03\x00", 3), 0, 0},
        {"other sub-block id", "NETSCAPE2.0", std::string("\x02\x03\x00", 3), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = loadBytes(
            GifBuilder(1, 1, kPalette).application(c.identifier, c.payload).image(solid(0, 0, 1, 1, 0)).trailer().bytes());
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.info.isLoopImage, c.isLoop);
        EXPECT_EQ(loaded.info.loopCount, c.loopCount);
    }
}

TEST(GifLoaderTest, TransparentIndexGivesTableColourAtAlphaZero)
{
    GifImage second = solid(0, 0, 2, 1, 1);
    second.indices = {1, 2};
    const std::string bytes = GifBuilder(2, 1, kPalette)
                                  .graphicControl(10).image(solid(0, 0, 2, 1, 0))
                                  .graphicControl(10, 1).image(second)
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    ASSERT_EQ(loaded.info.numberOfImages, 2);
    EXPECT_EQ(loaded.pixel(1, 0, 0), (Pixel{0, 255, 0, 0})); // replaces the red beneath
    EXPECT_EQ(loaded.pixel(1, 1, 0), kBlue);
}

TEST(GifLoaderTest, InterlacedRowsComeOutInNaturalOrder)
{
    GifImage image = solid(0, 0, 2, 11, 0);
    for (int row = 0; row < 11; ++row)
        image.indices[2 * row] = image.indices[2 * row + 1] = static_cast<uint8_t>(row % 4);
    image.interlaced = true;
    const Loaded loaded = loadBytes(GifBuilder(2, 11, kPalette).image(image).trailer().bytes());
    ASSERT_TRUE(loaded.ok);
    const Pixel byIndex[4] = {kRed, kGreen, kBlue, kWhite};
    for (int row = 0; row < 11; ++row)
        EXPECT_EQ(loaded.pixel(0, 1, row), byIndex[row % 4]) << "row " << row;
}

TEST(GifLoaderTest, LocalTableServesItsOwnImageOnly)
{
    GifImage local = solid(0, 0, 1, 1, 1);
    local.localTable = {{9, 9, 9}, {8, 7, 6}};
    const std::string bytes =
        GifBuilder(2, 1, kPalette).image(local).image(solid(1, 0, 1, 1, 1)).trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    EXPECT_EQ(loaded.pixel(0, 0, 0), (Pixel{8, 7, 6, 255}));
    EXPECT_EQ(loaded.pixel(0, 1, 0), kGreen);
}

TEST(GifLoaderTest, ImagesAreClippedToTheScreen)
{
    GifImage overhanging = solid(2, 1, 3, 3, 0);
    overhanging.indices = {1, 2, 2, 2, 2, 2, 2, 2, 2};
    const std::string bytes = GifBuilder(3, 2, kPalette, 3)
                                  .image(overhanging)
                                  .image(solid(3, 0, 5, 5, 0)) // wholly right of the screen
                                  .image(solid(0, 2, 5, 5, 0)) // wholly below it
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(loaded.pixel(0, x, y), (x == 2 && y == 1) ? kGreen : kWhite) << x << "," << y;
}

TEST(GifLoaderTest, MissingColoursAreBlack)
{
    const std::vector<GifColor> twoColours = {{10, 20, 30}, {40, 50, 60}};
    GifImage beyondTable = solid(0, 0, 1, 1, 3);
    beyondTable.minCodeSize = 2;
    const Loaded beyond = loadBytes(GifBuilder(2, 1, twoColours, 200).image(beyondTable).trailer().bytes());
    ASSERT_TRUE(beyond.ok);
    EXPECT_EQ(beyond.pixel(0, 0, 0), kBlack); // index past the table
    EXPECT_EQ(beyond.pixel(0, 1, 0), kBlack); // background index past the table

    const Loaded noTable =
        loadBytes(GifBuilder(2, 1).graphicControl(0, 5).image(solid(0, 0, 2, 1, 4)).trailer().bytes());
    ASSERT_TRUE(noTable.ok);
    EXPECT_EQ(noTable.pixel(0, 0, 0), kBlack);
}

// Encoders that write no global table may still leave its size field set;
// the size must not count then, or small files are refused as too short.
TEST(GifLoaderTest, FileWithoutGlobalTableLoadsWhateverItsSizeField)
{
    GifImage local = solid(0, 0, 2, 1, 1);
    local.localTable = {{9, 9, 9}, {8, 7, 6}};
    const std::string plain = GifBuilder(2, 1).image(local).trailer().bytes();
    for (int sizeField = 0; sizeField < 8; ++sizeField) {
        SCOPED_TRACE(sizeField);
        std::string bytes = plain;
        bytes[10] = static_cast<char>(0x70 | sizeField); // flag clear, colour resolution 8
        const Loaded loaded = loadBytes(bytes);
        ASSERT_TRUE(loaded.ok);
        EXPECT_EQ(loaded.width, 2);
        EXPECT_EQ(loaded.pixel(0, 0, 0), (Pixel{8, 7, 6, 255}));
        EXPECT_EQ(loaded.pixel(0, 1, 0), (Pixel{8, 7, 6, 255}));
    }
}

TEST(GifLoaderTest, ClearCodeRightBeforeTheEndCodeLoads)
{
    std::vector<uint8_t> indices = randomIndices(64, 4, 9);
    const std::string bytes = GifBuilder(8, 8, kPalette)
                                  .rawImage(0, 0, 8, 8, 8, lzwEncode(indices, 8, true, true))
                                  .trailer().bytes();
    const Loaded loaded = loadBytes(bytes);
    ASSERT_TRUE(loaded.ok);
    const Pixel byIndex[4] = {kRed, kGreen, kBlue, kWhite};
    EXPECT_EQ(loaded.pixel(0, 7, 7), byIndex[indices[63]]);
}

TEST(GifLoaderTest, BrokenFilesGiveNullAndTouchNothing)
{
    const std::string valid = GifBuilder(2, 1, kPalette).graphicControl(10).image(solid(0, 0, 2, 1, 1)).trailer().bytes();
    const std::string header = valid.substr(0, 13);
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"graphic control block size 5", GifBuilder(1, 1, kPalette).graphicControl(10, -1, 5).image(solid(0, 0, 1, 1, 0)).trailer().bytes()},
        {"unknown block byte", GifBuilder(1, 1, kPalette).raw("\x99").image(solid(0, 0, 1, 1, 0)).trailer().bytes()},
        {"no trailer", valid.substr(0, valid.size() - 1)},
        {"13-byte file", header},
        {"empty file", ""},
        {"other signature", "GIF88a" + valid.substr(6)},
        {"global table cut short", valid.substr(0, 13 + 3 * 4)},
        {"image of zero pixels", GifBuilder(1, 1, kPalette).rawImage(0, 0, 0, 1, 2, codes({{4, 3}, {5, 3}})).trailer().bytes()},
        {"minimum code size 12", GifBuilder(1, 1, kPalette).rawImage(0, 0, 1, 1, 12, codes({{4096, 13}, {0, 13}, {4097, 13}})).trailer().bytes()},
        {"sub-block runs past the end", GifBuilder(1, 1, kPalette).raw(std::string("\x21\xFE\x40zz", 5)).bytes()},
        {"zero-sized screen", GifBuilder(0, 5, kPalette).trailer().bytes()},
        {"65535 x 65535 screen", GifBuilder(65535, 65535, kPalette).trailer().bytes()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded loaded = loadBytes(c.bytes);
        EXPECT_FALSE(loaded.ok);
        EXPECT_EQ(loaded.width, -1);
        EXPECT_EQ(loaded.height, -1);
        EXPECT_EQ(loaded.info.numberOfImages, -1);
        EXPECT_EQ(loaded.info.isLoopImage, -1);
    }
}

TEST(GifLoaderTest, EveryCutOffCopyOfAFileGivesNull)
{
    GifImage local = solid(1, 0, 2, 2, 1);
    local.localTable = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    local.interlaced = true;
    local.minCodeSize = 2;
    const std::string bytes = GifBuilder(3, 2, kPalette)
                                  .loop(0).comment("made for the cut-off test")
                                  .graphicControl(10, 2).image(solid(0, 0, 3, 2, 2))
                                  .graphicControl(20).image(local)
                                  .trailer().bytes();
    ASSERT_TRUE(loadBytes(bytes).ok);
    TempDir dir;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(loadFile(dir.write("cut.gif", bytes.substr(0, length))).ok);
    }
}

TEST(GifLoaderTest, UnreadablePathsGiveNull)
{
    TempDir dir;
    EXPECT_FALSE(loadFile(dir.file("missing.gif")).ok);
    EXPECT_FALSE(loadFile(dir.path()).ok);
    GIFLoader loader;
    int width = 0, height = 0;
    GifAnimationInfo info{};
    EXPECT_EQ(loader.loadAnimatedGif(nullptr, &width, &height, &info), nullptr);
}

TEST(GifLoaderTest, FifoIsRefusedWithoutWaitingForAWriter)
{
    TempDir dir;
    const std::string path = dir.file("pipe.gif");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&] { return loadFile(path).ok; });
    if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Free the blocked reader so that the test can end, then fail.
        const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0)
            close(writer);
        load.wait();
        FAIL() << "opening a FIFO blocked";
    }
    EXPECT_FALSE(load.get());
}

TEST(GifLoaderTest, FileLargerThanTheBudgetIsRefusedUnread)
{
    TempDir dir;
    const std::string path = dir.write("huge.gif", GifBuilder(1, 1, kPalette).trailer().bytes());
    // Sparse: the size is there, the disk blocks are not.
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(GIFLoader::kMaxLoadBytes) + 1), 0);
    EXPECT_FALSE(loadFile(path).ok);
}

TEST(GifLoaderTest, FramesBeyondTheMemoryBudgetAreRefused)
{
    const int side = 100;
    const std::size_t frameBytes = 4 * side * side;
    GifBuilder oneFrame(side, side, kPalette);
    oneFrame.graphicControl(10).image(solid(0, 0, 1, 1, 0)).trailer();
    GifBuilder twoFrames(side, side, kPalette);
    twoFrames.graphicControl(10).image(solid(0, 0, 1, 1, 0)).graphicControl(10).image(solid(0, 0, 1, 1, 1)).trailer();

    // Room for the file, one frame and the small working buffers, not a second frame.
    const std::size_t budget = twoFrames.bytes().size() + frameBytes + 1000;
    EXPECT_TRUE(loadBytes(oneFrame.bytes(), budget).ok);
    EXPECT_FALSE(loadBytes(twoFrames.bytes(), budget).ok);
    const Loaded both = loadBytes(twoFrames.bytes(), budget + frameBytes + 1000);
    ASSERT_TRUE(both.ok);
    EXPECT_EQ(both.info.numberOfImages, 2);
}

TEST(GifLoaderTest, PublicEntryDecodesAFile)
{
    TempDir dir;
    const std::string path = dir.write("public.gif", GifBuilder(1, 1, kPalette).loop(2).graphicControl(7).image(solid(0, 0, 1, 1, 3)).trailer().bytes());
    GIFLoader loader;
    int width = 0, height = 0;
    GifAnimationInfo info{};
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), &width, &height, &info);
    ASSERT_NE(frames, nullptr);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(info.numberOfImages, 1);
    EXPECT_EQ(info.loopCount, 2);
    EXPECT_EQ(info.delayArray[0], 7);
    EXPECT_EQ(Pixel({frames[0][0], frames[0][1], frames[0][2], frames[0][3]}), kWhite);
    free(frames[0]);
    free(frames);
    free(info.delayArray);
}

} // namespace

namespace {

std::string framesOf1x1(int frames)
{
    GifBuilder gif(1, 1, kPalette);
    for (int k = 0; k < frames; ++k)
        gif.graphicControl(1).image(solid(0, 0, 1, 1, 0));
    return gif.trailer().bytes();
}

} // namespace

// Sizes that would wrap a 32-bit size_t, and animations past the frame cap,
// are refused; measuring counts the frames without decoding them.
TEST(GifLoaderTest, OversizedScreensAndFrameCountsAreRefused)
{
    const struct {
        const char* what;
        std::string bytes;
        bool loads;
        int measuredFrames; // 0: the measure fails too
    } cases[] = {
        // 4 x 65535 x 16385 is 2^32 + 262140: 196604 bytes in 32 bits.
        {"65535 x 16385 screen", GifBuilder(65535, 16385, kPalette).graphicControl(1).image(solid(0, 0, 1, 1, 0)).trailer().bytes(), false, 0},
        {"frames at the cap", framesOf1x1(GIFLoader::kMaxFrames), true, GIFLoader::kMaxFrames},
        {"one frame past the cap", framesOf1x1(GIFLoader::kMaxFrames + 1), false, GIFLoader::kMaxFrames + 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.write("picture.gif", c.bytes);
        const Loaded loaded = loadFile(path);
        EXPECT_EQ(loaded.ok, c.loads);
        int width = 0, height = 0, frames = 0;
        long size = 0;
        EXPECT_EQ(GIFLoader::measure(path.c_str(), &width, &height, &frames, &size), c.measuredFrames > 0);
        EXPECT_EQ(frames, c.measuredFrames);
    }
}
