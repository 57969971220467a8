#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace Spectrafox {

static_assert(GIFLoader::kMaxLoadBytes <= INT_MAX, "sizes inside a load are kept in int");

namespace {

constexpr unsigned char kImageSeparator = 0x2C;
constexpr unsigned char kExtensionIntroducer = 0x21;
constexpr unsigned char kTrailer = 0x3B;
constexpr unsigned char kGraphicControlLabel = 0xF9;
constexpr unsigned char kApplicationLabel = 0xFF;
constexpr long kHeaderAndScreenBytes = 13;
constexpr long kImageDescriptorBytes = 10;
// Charged per frame for its list and delay entries and the allocator's overhead.
constexpr std::size_t kFrameBookkeepingBytes = 64;

int readLittleEndian16(const unsigned char* bytes)
{
    return bytes[0] | (bytes[1] << 8);
}

} // namespace

struct GIFLoader::LoadState {
    unsigned char* fileBuffer = nullptr;
    long fileSize = 0;
    long bufferPosition = 0;
    std::uint64_t budget = 0;
    std::uint64_t bytesInUse = 0;
    // Only counts the frames: nothing is decoded or allocated.
    bool measureOnly = false;
    GifScreenDescriptor screen{};
    RGB globalColorMap[kMaxColors]{};
    std::size_t frameBytes = 0;
    unsigned char** images = nullptr;
    int frameCount = 0; // frames allocated; the last one is being drawn
    int frameCapacity = 0;
    GifAnimationInfo info{};
    GifGraphicControlExtension graphicControl{};
    bool reachedTrailer = false;
    bool loop = true;
    bool useGCE = false;
    bool newImage = false;

    bool fits(long count) const { return count >= 0 && bufferPosition <= fileSize - count; }
    unsigned char byteAt(long offset) const { return fileBuffer[bufferPosition + offset]; }
};

unsigned char** GIFLoader::loadAnimatedGif(const char* fileName, int* width, int* height,
                                           GifAnimationInfo* animationInfo)
{
    return loadWithBudget(fileName, width, height, animationInfo, kMaxLoadBytes);
}

unsigned char** GIFLoader::loadWithBudget(const char* fileName, int* width, int* height,
                                          GifAnimationInfo* animationInfo, std::size_t budget)
{
    if (!fileName || !width || !height || !animationInfo)
        return nullptr;
    LoadState state;
    state.budget = std::min(budget, kMaxLoadBytes);
    state.fileBuffer = readFileToBuffer(fileName, &state.fileSize);
    if (!state.fileBuffer)
        return nullptr;
    const bool decoded = reserve(state, static_cast<std::size_t>(state.fileSize)) && parseFile(state);
    free(state.fileBuffer);
    if (!decoded) {
        releaseFrames(state);
        return nullptr;
    }
    *width = state.screen.width;
    *height = state.screen.height;
    state.info.numberOfImages = state.frameCount;
    *animationInfo = state.info;
    return state.images;
}

bool GIFLoader::measure(const char* fileName, int* width, int* height, int* frames, long* fileSize)
{
    LoadState state;
    state.measureOnly = true;
    state.budget = kMaxLoadBytes;
    state.fileBuffer = readFileToBuffer(fileName, &state.fileSize);
    if (!state.fileBuffer)
        return false;
    const bool parsed = parseFile(state);
    free(state.fileBuffer);
    if (!parsed)
        return false;
    *width = state.screen.width;
    *height = state.screen.height;
    *frames = state.frameCount;
    *fileSize = state.fileSize;
    return true;
}

bool GIFLoader::parseFile(LoadState& state)
{
    if (state.fileSize <= kHeaderAndScreenBytes || !isGifHeader(state.fileBuffer))
        return false;
    state.screen = loadScreenDescriptorFromFileBuffer(state.fileBuffer);
    // The size field means nothing without the flag: some encoders leave it set.
    const int colorsInGlobalMap =
        state.screen.globalColorTableFlag ? 1 << (state.screen.globalColorTableSize + 1) : 0;
    if (state.fileSize <= kHeaderAndScreenBytes + 3 * colorsInGlobalMap)
        return false;
    state.bufferPosition = kHeaderAndScreenBytes;
    if (state.screen.globalColorTableFlag &&
        !readColorTable(state, colorsInGlobalMap, state.globalColorMap))
        return false;
    if (!startFirstFrame(state))
        return false;
    while (state.loop && state.bufferPosition < state.fileSize) {
        switch (state.byteAt(0)) {
        case kImageSeparator:
            state.loop = readImage(state);
            break;
        case kExtensionIntroducer:
            state.loop = readExtension(state);
            break;
        case kTrailer:
            state.reachedTrailer = true;
            state.loop = false;
            break;
        default:
            state.loop = false;
        }
    }
    return state.reachedTrailer;
}

// Only regular files are read: opening a FIFO or a terminal that someone put
// among the pictures must not block the program.
unsigned char* GIFLoader::readFileToBuffer(const char* fileName, long* fileSizeOutput)
{
    const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat status {};
    unsigned char* buffer = nullptr;
    const bool usable = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
                        static_cast<unsigned long long>(status.st_size) <= kMaxLoadBytes;
    const long size = usable ? static_cast<long>(status.st_size) : 0;
    if (usable)
        buffer = static_cast<unsigned char*>(malloc(size));
    if (buffer && !readFully(fd, buffer, size)) {
        free(buffer);
        buffer = nullptr;
    }
    close(fd);
    if (buffer)
        *fileSizeOutput = size;
    return buffer;
}

bool GIFLoader::readFully(int fd, unsigned char* buffer, long size)
{
    long done = 0;
    while (done < size) {
        const ssize_t count = read(fd, buffer + done, static_cast<std::size_t>(size - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += count;
    }
    return true;
}

int GIFLoader::isGifHeader(const unsigned char* testMe)
{
    return memcmp(testMe, "GIF87a", 6) == 0 || memcmp(testMe, "GIF89a", 6) == 0;
}

GifScreenDescriptor GIFLoader::loadScreenDescriptorFromFileBuffer(const unsigned char* fileBuffer)
{
    GifScreenDescriptor screen{};
    screen.width = readLittleEndian16(fileBuffer + 6);
    screen.height = readLittleEndian16(fileBuffer + 8);
    screen.packedFields = fileBuffer[10];
    screen.globalColorTableFlag = (screen.packedFields >> 7) & 1;
    screen.colorResolution = (screen.packedFields >> 4) & 7;
    screen.sortFlag = (screen.packedFields >> 3) & 1;
    screen.globalColorTableSize = screen.packedFields & 7;
    screen.backgroundColorIndex = fileBuffer[11];
    screen.pixelAspectRatio = fileBuffer[12];
    return screen;
}

GifImageDescriptor GIFLoader::loadImageDescriptorFromFileBuffer(const unsigned char* fileBuffer,
                                                                long bufferPos)
{
    const unsigned char* bytes = fileBuffer + bufferPos;
    GifImageDescriptor image{};
    image.leftPosition = readLittleEndian16(bytes + 1);
    image.topPosition = readLittleEndian16(bytes + 3);
    image.width = readLittleEndian16(bytes + 5);
    image.height = readLittleEndian16(bytes + 7);
    image.packedFields = bytes[9];
    image.localColorTableFlag = (image.packedFields >> 7) & 1;
    image.interlaceFlag = (image.packedFields >> 6) & 1;
    image.sortFlag = (image.packedFields >> 5) & 1;
    image.localColorTableSize = image.packedFields & 7;
    return image;
}

bool GIFLoader::readImage(LoadState& state)
{
    if (state.newImage && !startNewFrame(state))
        return false;
    if (!state.fits(kImageDescriptorBytes))
        return false;
    const GifImageDescriptor image = loadImageDescriptorFromFileBuffer(state.fileBuffer, state.bufferPosition);
    state.bufferPosition += kImageDescriptorBytes;
    RGB localColorMap[kMaxColors]{};
    if (image.localColorTableFlag &&
        !readColorTable(state, 1 << (image.localColorTableSize + 1), localColorMap))
        return false;
    if (!state.fits(1))
        return false;
    const int minCodeSize = state.byteAt(0);
    state.bufferPosition += 1;
    if (state.measureOnly)
        return skipImageData(state);
    unsigned char* indices = decodeImageData(state, image, minCodeSize);
    if (!indices)
        return false;
    compositeImage(state, image, image.localColorTableFlag ? localColorMap : state.globalColorMap, indices);
    free(indices);
    release(state, static_cast<std::size_t>(image.width) * image.height);
    if (state.useGCE && state.graphicControl.delayTime > 0) {
        state.info.delayArray[state.frameCount - 1] = state.graphicControl.delayTime;
        state.newImage = true;
    }
    state.useGCE = false;
    state.bufferPosition += 1; // the sub-block terminator
    return true;
}

unsigned char* GIFLoader::decodeImageData(LoadState& state, const GifImageDescriptor& image,
                                          int minCodeSize)
{
    const std::size_t imageSize = static_cast<std::size_t>(image.width) * image.height;
    int codeStreamLength = 0;
    unsigned char* codeStream = gatherSubBlocks(state, &codeStreamLength);
    if (!codeStream)
        return nullptr;
    unsigned char* indices = nullptr;
    if (reserve(state, imageSize))
        indices = LZW_decompression(codeStream, codeStreamLength, minCodeSize, static_cast<int>(imageSize));
    free(codeStream);
    release(state, static_cast<std::size_t>(codeStreamLength));
    if (!indices)
        return nullptr;
    if (image.interlaceFlag) {
        bool reordered = false;
        if (reserve(state, imageSize)) {
            reordered = deinterlace(indices, image.width, image.height);
            release(state, imageSize);
        }
        if (!reordered) {
            free(indices);
            return nullptr;
        }
    }
    return indices;
}

bool GIFLoader::skipImageData(LoadState& state)
{
    if (!skipSubBlocks(state))
        return false;
    state.newImage = state.useGCE && state.graphicControl.delayTime > 0;
    state.useGCE = false;
    return true;
}

bool GIFLoader::readExtension(LoadState& state)
{
    state.bufferPosition += 1; // now on the label
    if (!state.fits(2))
        return false;
    const unsigned char label = state.byteAt(0);
    if (label == kGraphicControlLabel) {
        state.useGCE = true;
        if (state.byteAt(1) != 4 || !state.fits(6))
            return false;
        readGraphicControl(state);
    } else if (label == kApplicationLabel) {
        readApplication(state);
    }
    state.bufferPosition += 1;
    return skipSubBlocks(state);
}

void GIFLoader::readGraphicControl(LoadState& state)
{
    const unsigned char packed = state.byteAt(2);
    state.graphicControl.disposalMethod = (packed >> 2) & 7;
    state.graphicControl.userInputFlag = (packed >> 1) & 1;
    state.graphicControl.transparencyFlag = packed & 1;
    state.graphicControl.delayTime = state.byteAt(3) | (state.byteAt(4) << 8);
    state.graphicControl.transparentColorIndex = state.byteAt(5);
}

void GIFLoader::readApplication(LoadState& state)
{
    static const char kLoopIdentifier[] = "NETSCAPE2.0";
    if (!state.fits(17) || state.byteAt(1) != 11 ||
        memcmp(state.fileBuffer + state.bufferPosition + 2, kLoopIdentifier, 11) != 0 ||
        state.byteAt(13) != 3 || state.byteAt(14) != 1)
        return;
    state.info.isLoopImage = 1;
    state.info.loopCount = state.byteAt(15) | (state.byteAt(16) << 8);
}

bool GIFLoader::readColorTable(LoadState& state, int colors, RGB* colorMap)
{
    if (!state.fits(3L * colors))
        return false;
    memcpy(colorMap, state.fileBuffer + state.bufferPosition, 3 * static_cast<std::size_t>(colors));
    state.bufferPosition += 3L * colors;
    return true;
}

bool GIFLoader::skipSubBlocks(LoadState& state)
{
    long position = state.bufferPosition;
    while (position < state.fileSize && state.fileBuffer[position] != 0)
        position += 1L + state.fileBuffer[position];
    if (position >= state.fileSize)
        return false;
    state.bufferPosition = position + 1;
    return true;
}

unsigned char* GIFLoader::gatherSubBlocks(LoadState& state, int* length)
{
    const long start = state.bufferPosition;
    long position = start;
    long total = 0;
    while (position < state.fileSize && state.fileBuffer[position] != 0) {
        total += state.fileBuffer[position];
        position += 1L + state.fileBuffer[position];
    }
    if (position >= state.fileSize || !reserve(state, static_cast<std::size_t>(total)))
        return nullptr;
    unsigned char* gathered = static_cast<unsigned char*>(malloc(total > 0 ? total : 1));
    if (!gathered) {
        release(state, static_cast<std::size_t>(total));
        return nullptr;
    }
    long written = 0;
    for (position = start; state.fileBuffer[position] != 0; position += 1L + state.fileBuffer[position]) {
        memcpy(gathered + written, state.fileBuffer + position + 1, state.fileBuffer[position]);
        written += state.fileBuffer[position];
    }
    state.bufferPosition = position;
    *length = static_cast<int>(total);
    return gathered;
}

bool GIFLoader::reserve(LoadState& state, std::uint64_t bytes)
{
    if (bytes > state.budget - state.bytesInUse)
        return false;
    state.bytesInUse += bytes;
    return true;
}

void GIFLoader::release(LoadState& state, std::uint64_t bytes)
{
    state.bytesInUse -= std::min(bytes, state.bytesInUse);
}

bool GIFLoader::startFirstFrame(LoadState& state)
{
    const GifScreenDescriptor& screen = state.screen;
    if (screen.width == 0 || screen.height == 0)
        return false;
    // In 64 bits: 4 x 65535 x 16385 wraps a 32-bit size_t to a few bytes.
    const std::uint64_t frameBytes = 4 * static_cast<std::uint64_t>(screen.width) * screen.height;
    if (!reserve(state, frameBytes + kFrameBookkeepingBytes))
        return false;
    state.frameBytes = static_cast<std::size_t>(frameBytes); // fits: the budget is below 2 GiB
    if (state.measureOnly) {
        state.frameCount = 1;
        return true;
    }
    state.frameCapacity = 4;
    state.images = static_cast<unsigned char**>(malloc(state.frameCapacity * sizeof(unsigned char*)));
    state.info.delayArray = static_cast<int*>(malloc(state.frameCapacity * sizeof(int)));
    if (!state.images || !state.info.delayArray)
        return false;
    unsigned char* frame = static_cast<unsigned char*>(calloc(state.frameBytes, 1));
    if (!frame)
        return false;
    state.images[0] = frame;
    state.info.delayArray[0] = 0;
    state.frameCount = 1;
    if (screen.globalColorTableFlag) {
        const RGB background = state.globalColorMap[screen.backgroundColorIndex];
        const unsigned char pixel[4] = {background.r, background.g, background.b, 255};
        for (std::size_t offset = 0; offset < state.frameBytes; offset += 4)
            memcpy(frame + offset, pixel, 4);
    }
    return true;
}

bool GIFLoader::startNewFrame(LoadState& state)
{
    if (state.measureOnly) {
        state.frameCount += 1;
        state.newImage = false;
        return true;
    }
    if (state.frameCount >= kMaxFrames)
        return false;
    if (!reserve(state, state.frameBytes + kFrameBookkeepingBytes))
        return false;
    if (state.frameCount == state.frameCapacity) {
        const int capacity = state.frameCapacity * 2;
        unsigned char** images =
            static_cast<unsigned char**>(realloc(state.images, capacity * sizeof(unsigned char*)));
        if (!images)
            return false;
        state.images = images;
        int* delays = static_cast<int*>(realloc(state.info.delayArray, capacity * sizeof(int)));
        if (!delays)
            return false;
        state.info.delayArray = delays;
        state.frameCapacity = capacity;
    }
    unsigned char* frame = static_cast<unsigned char*>(malloc(state.frameBytes));
    if (!frame)
        return false;
    memcpy(frame, state.images[state.frameCount - 1], state.frameBytes);
    state.images[state.frameCount] = frame;
    state.info.delayArray[state.frameCount] = 0;
    state.frameCount += 1;
    state.newImage = false;
    return true;
}

void GIFLoader::compositeImage(LoadState& state, const GifImageDescriptor& image,
                               const RGB* colorMap, const unsigned char* indices)
{
    unsigned char palette[kMaxColors][4];
    for (int i = 0; i < kMaxColors; ++i) {
        palette[i][0] = colorMap[i].r;
        palette[i][1] = colorMap[i].g;
        palette[i][2] = colorMap[i].b;
        palette[i][3] = 255;
    }
    if (state.useGCE && state.graphicControl.transparencyFlag)
        palette[state.graphicControl.transparentColorIndex][3] = 0;

    const int screenWidth = state.screen.width;
    const int visibleWidth = image.leftPosition < screenWidth
                                 ? std::min(image.width, screenWidth - image.leftPosition) : 0;
    const int visibleHeight = image.topPosition < state.screen.height
                                  ? std::min(image.height, state.screen.height - image.topPosition) : 0;
    unsigned char* frame = state.images[state.frameCount - 1];
    for (int row = 0; row < visibleHeight; ++row) {
        const unsigned char* source = indices + static_cast<std::size_t>(row) * image.width;
        unsigned char* target =
            frame + 4 * (static_cast<std::size_t>(image.topPosition + row) * screenWidth + image.leftPosition);
        for (int column = 0; column < visibleWidth; ++column)
            memcpy(target + 4 * column, palette[source[column]], 4);
    }
}

void GIFLoader::releaseFrames(LoadState& state)
{
    for (int i = 0; i < state.frameCount; ++i)
        free(state.images[i]);
    free(state.images);
    free(state.info.delayArray);
    state.images = nullptr;
    state.info.delayArray = nullptr;
    state.frameCount = 0;
}

// ---- LZW decompression ----

namespace {

// The strings of the initial cells: cell i holds the byte i (its low 8 bits).
struct SingleBytes {
    unsigned char bytes[256];
    SingleBytes()
    {
        for (int i = 0; i < 256; ++i)
            bytes[i] = static_cast<unsigned char>(i);
    }
};
const SingleBytes kSingleBytes;

} // namespace

GIFLoader::TableHead* GIFLoader::getEmptyTable()
{
    TableHead* head = static_cast<TableHead*>(malloc(sizeof(TableHead)));
    if (!head)
        return nullptr;
    head->length = 0;
    head->content = static_cast<TableCell*>(malloc(kMaxTableCells * sizeof(TableCell)));
    if (!head->content) {
        free(head);
        return nullptr;
    }
    return head;
}

void GIFLoader::freeTableContent(TableHead* pTable)
{
    free(pTable->content);
    pTable->length = 0;
    pTable->content = nullptr;
}

void GIFLoader::initTable(TableHead* pTable, int initLength)
{
    for (int i = 0; i < initLength; ++i)
        pTable->content[i] = TableCell{1, &kSingleBytes.bytes[i & 0xFF]};
    pTable->length = initLength;
}

void GIFLoader::freeTable(TableHead** pTable)
{
    if (!*pTable)
        return;
    freeTableContent(*pTable);
    free(*pTable);
    *pTable = nullptr;
}

void GIFLoader::addTableEntryWithOldContent(TableHead* pTable, const unsigned char* start, int length)
{
    // A full table stays as it is until the next clear code.
    if (pTable->length < kMaxTableCells)
        pTable->content[pTable->length++] = TableCell{length, start};
}

int GIFLoader::getNextCode(const unsigned char* codeStream, int* bytePos, int* bitPos, int bitWidth,
                           int bitPattern, int maxCodeStreamLength, int* error)
{
    const int p = *bytePos;
    int window = 0;
    if (p < maxCodeStreamLength - 2)
        window = codeStream[p] | (codeStream[p + 1] << 8) | (codeStream[p + 2] << 16);
    else if (p < maxCodeStreamLength - 1)
        window = codeStream[p] | (codeStream[p + 1] << 8);
    else if (p < maxCodeStreamLength)
        window = codeStream[p];
    else
            *error = 1;
    const int code = (window >> *bitPos) & bitPattern;
    *bitPos += bitWidth;
    *bytePos += *bitPos >> 3;
    *bitPos &= 7;
    return code;
}

void GIFLoader::insertString(const unsigned char* input, int length, unsigned char* dataStream, int* pos,
                             int max, int* error)
{
    if (length > max - *pos) {
        *error = 1;
        return;
    }
    memcpy(dataStream + *pos, input, length);
    *pos += length;
}

// Writes the string of one data code and defines the next cell: the previous
// string plus the first byte just written, which lie side by side in the
// output from previousStart on. Returns the code whose string was written.
int GIFLoader::decodeCode(TableHead* pTable, int code, int previous, int previousStart, int clearCode,
                          unsigned char* outData, int* outDataPos, int imageSize, int* error)
{
    if (previous < 0) {
        // Right after a clear only the single-byte cells exist.
        if (code >= clearCode) {
            *error = 1;
            return -1;
        }
        insertString(pTable->content[code].entry, 1, outData, outDataPos, imageSize, error);
        return code;
    }
    const bool known = code < pTable->length;
    const TableCell written = pTable->content[known ? code : previous];
    insertString(written.entry, written.length, outData, outDataPos, imageSize, error);
    if (!known)
        insertString(written.entry, 1, outData, outDataPos, imageSize, error);
    if (*error)
        return -1;
    addTableEntryWithOldContent(pTable, outData + previousStart, pTable->content[previous].length + 1);
    return known ? code : pTable->length - 1;
}

unsigned char* GIFLoader::LZW_decompression(const unsigned char* codeStream, int codeStreamLength,
                                            int LZW_minBitLength, int imageSize)
{
    if (LZW_minBitLength < 1 || LZW_minBitLength > 8 || imageSize < 0 || codeStreamLength < 0)
        return nullptr;
    const int CLR = 1 << LZW_minBitLength;
    const int EOD = CLR + 1;
    unsigned char* outData = static_cast<unsigned char*>(malloc(imageSize > 0 ? imageSize : 1));
    TableHead* pTable = getEmptyTable();
    int error = (!outData || !pTable) ? 1 : 0;
    if (pTable)
        initTable(pTable, CLR + 2);
    int bitWidth = LZW_minBitLength + 1;
    int bitPattern = (1 << bitWidth) - 1;
    int bytePos = 0, bitPos = 0, outDataPos = 0;
    int CODE_1 = -1; // none right after a clear
    int previousStart = 0; // where the string of CODE_1 was written
    bool started = false;
    while (!error) {
        const int CODE =
            getNextCode(codeStream, &bytePos, &bitPos, bitWidth, bitPattern, codeStreamLength, &error);
        if (error)
            break;
        if (CODE == CLR) {
            initTable(pTable, CLR + 2);
            bitWidth = LZW_minBitLength + 1;
            bitPattern = (1 << bitWidth) - 1;
            CODE_1 = -1;
        } else if (CODE == EOD) {
            error = !started; // a stream that ends before its first pixel is broken
            break;
        } else {
            started = true;
            const int start = outDataPos;
            CODE_1 = decodeCode(pTable, CODE, CODE_1, previousStart, CLR, outData, &outDataPos, imageSize, &error);
            previousStart = start;
            // Widen once the next code to be defined no longer fits.
            if (pTable->length > bitPattern && bitWidth < kMaxCodeWidth)
                bitPattern = (1 << ++bitWidth) - 1;
        }
    }
    if (pTable)
        freeTable(&pTable);
    if (outDataPos != imageSize)
        error = 1;
    if (error) {
        free(outData);
        return nullptr;
    }
    return outData;
}

bool GIFLoader::deinterlace(unsigned char* codeStream, int width, int height)
{
    if (width <= 0 || height <= 1)
        return true;
    const std::size_t rowBytes = static_cast<std::size_t>(width);
    unsigned char* buffer = static_cast<unsigned char*>(malloc(rowBytes * height));
    if (!buffer)
        return false;
    static const int kPassStart[4] = {0, 4, 2, 1};
    static const int kPassStep[4] = {8, 8, 4, 2};
    const unsigned char* source = codeStream;
    for (int pass = 0; pass < 4; ++pass)
        for (int row = kPassStart[pass]; row < height; row += kPassStep[pass], source += rowBytes)
            memcpy(buffer + row * rowBytes, source, rowBytes);
    memcpy(codeStream, buffer, rowBytes * height);
    free(buffer);
    return true;
}

} // namespace Spectrafox
