#pragma once

#include <cstddef>
#include <cstdint>

// Every buffer of one load (the file, the frames with their bookkeeping, and
// the working buffers of the image being decoded) is counted against this
// budget; a load that would need more is refused before it allocates.
// 1 GiB holds the file plus about 120 full-HD RGBA frames (8.3 MB each), while
// a forged 65535 x 65535 screen (17 GB per frame) is refused at once.
// The fuzzing build lowers it so that it can try many inputs a second.
#ifndef SPECTRAFOX_GIF_MAX_LOAD_BYTES
#define SPECTRAFOX_GIF_MAX_LOAD_BYTES (std::size_t{1} << 30)
#endif

namespace Spectrafox {

// The logical screen descriptor (file bytes 6 to 12).
struct GifScreenDescriptor {
    int width;
    int height;
    unsigned char packedFields;
    unsigned char globalColorTableFlag;
    unsigned char colorResolution;
    unsigned char sortFlag;
    unsigned char globalColorTableSize; // the table holds 2^(value + 1) entries
    unsigned char backgroundColorIndex;
    unsigned char pixelAspectRatio;
};

// One image block, 10 bytes from its separator 0x2C.
struct GifImageDescriptor {
    int leftPosition;
    int topPosition;
    int width;
    int height;
    unsigned char packedFields;
    unsigned char localColorTableFlag;
    unsigned char interlaceFlag;
    unsigned char sortFlag;
    unsigned char localColorTableSize; // 2^(value + 1) entries
};

// Disposal and user input are kept but never applied.
struct GifGraphicControlExtension {
    unsigned char disposalMethod;
    unsigned char userInputFlag;
    unsigned char transparencyFlag;
    int delayTime; // hundredths of a second
    unsigned char transparentColorIndex;
};

struct RGB {
    unsigned char r;
    unsigned char g;
    unsigned char b;
};

struct GifAnimationInfo {
    int numberOfImages;
    int isLoopImage; // 1 when the file carries a NETSCAPE2.0 looping block
    int loopCount;
    int* delayArray; // numberOfImages delays in hundredths of a second (C allocator)
};

// Decodes GIF87a and GIF89a files into full logical-screen RGBA frames.
//
// A GIF is untrusted input, so the decoder is strict about bounds:
// - only regular files are read (a FIFO must not block the program);
// - a file that ends inside any block is treated as a file without a trailer
//   (the load fails);
// - image rectangles are clipped to the logical screen;
// - colour indices past the end of the table in use, and every index of an
//   image that has neither a local nor a global table, are drawn black
//   (0, 0, 0); alpha follows the usual transparency rule;
// - a code stream that names a table cell before one exists is a decode
//   error, and the code table never holds more than 4096 cells;
// - a clear code directly followed by the end code ends the data;
// - loads needing more than kMaxLoadBytes are refused, as are empty screens.
//
// Images are grouped into frames by their delays: a new frame, starting as a
// copy of the previous one, begins at the first image after one whose delay is
// above zero. Disposal methods are not applied.
class GIFLoader {
public:
    static constexpr std::size_t kMaxLoadBytes = SPECTRAFOX_GIF_MAX_LOAD_BYTES;
    // Longer animations are refused: every frame becomes a texture of its own.
    static constexpr int kMaxFrames = 10000;

    GIFLoader() = default;

    // Returns numberOfImages RGBA frames of width x height pixels, top row
    // first, or null when the file cannot be decoded (then nothing is written
    // through the other arguments). The caller frees every frame, the list and
    // animationInfo->delayArray with free().
    unsigned char** loadAnimatedGif(const char* fileName, int* width, int* height,
                                    GifAnimationInfo* animationInfo);

    // The screen size and the number of frames a load would give (also above
    // kMaxFrames), found by walking the blocks without decoding anything, and
    // the file's size. False for a file the load would refuse on its structure.
    static bool measure(const char* fileName, int* width, int* height, int* frames, long* fileSize);

private:
    friend class GIFLoaderTestPeer;

    static constexpr int kMaxTableCells = 4096;
    static constexpr int kMaxCodeWidth = 12;
    static constexpr int kMaxColors = 256;

    // One code's string. Its bytes are not copied: they are read where the
    // string was first written in the image's own output (or, for the initial
    // cells, from a constant table), so a new cell costs two stores.
    struct TableCell {
        int length;
        const unsigned char* entry;
    };
    struct TableHead {
        int length; // the next code to be defined
        TableCell* content; // room for kMaxTableCells cells
    };

    // The working state of one load; the class itself keeps nothing.
    struct LoadState;

    // The load itself, with a smaller budget where a test needs one.
    static unsigned char** loadWithBudget(const char* fileName, int* width, int* height,
                                          GifAnimationInfo* animationInfo, std::size_t budget);

    static unsigned char* readFileToBuffer(const char* fileName, long* fileSizeOutput);
    static bool readFully(int fd, unsigned char* buffer, long size);
    static int isGifHeader(const unsigned char* testMe);
    static GifScreenDescriptor loadScreenDescriptorFromFileBuffer(const unsigned char* fileBuffer);
    static GifImageDescriptor loadImageDescriptorFromFileBuffer(const unsigned char* fileBuffer,
                                                                long bufferPos);

    static bool parseFile(LoadState& state);
    static bool readImage(LoadState& state);
    static unsigned char* decodeImageData(LoadState& state, const GifImageDescriptor& image,
                                          int minCodeSize);
    static bool readExtension(LoadState& state);
    static void readGraphicControl(LoadState& state);
    static void readApplication(LoadState& state);
    static bool readColorTable(LoadState& state, int colors, RGB* colorMap);
    static bool skipSubBlocks(LoadState& state);
    static unsigned char* gatherSubBlocks(LoadState& state, int* length);
    static bool reserve(LoadState& state, std::uint64_t bytes);
    static void release(LoadState& state, std::uint64_t bytes);
    static bool skipImageData(LoadState& state);
    static bool startFirstFrame(LoadState& state);
    static bool startNewFrame(LoadState& state);
    static void compositeImage(LoadState& state, const GifImageDescriptor& image,
                               const RGB* colorMap, const unsigned char* indices);
    static void releaseFrames(LoadState& state);

    static TableHead* getEmptyTable();
    static void freeTableContent(TableHead* pTable);
    static void initTable(TableHead* pTable, int initLength);
    static void freeTable(TableHead** pTable);
    static void addTableEntryWithOldContent(TableHead* pTable, const unsigned char* start, int length);
    static int getNextCode(const unsigned char* codeStream, int* bytePos, int* bitPos,
                           int bitWidth, int bitPattern, int maxCodeStreamLength, int* error);
    static void insertString(const unsigned char* input, int length, unsigned char* dataStream, int* pos,
                             int max, int* error);
    static int decodeCode(TableHead* pTable, int code, int previous, int previousStart, int clearCode,
                          unsigned char* outData, int* outDataPos, int imageSize, int* error);
    static unsigned char* LZW_decompression(const unsigned char* codeStream, int codeStreamLength,
                                            int LZW_minBitLength, int imageSize);
    static bool deinterlace(unsigned char* codeStream, int width, int height);
};

} // namespace Spectrafox
