#include "network/citp/citp_media_library.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "platform/media/clip_reader.h"

namespace Spectrafox {

const Citp::LibraryId CitpMediaLibrary::kLibrary = {1, 0, 0, 0};

namespace {

constexpr const char* kLibraryName = "Textures";

// Changes whenever the file's name, size or time does.
uint32_t serialOf(const std::string& path, const struct stat& file)
{
    const std::string text = path + '|' + std::to_string(file.st_size) + '|' +
                             std::to_string(file.st_mtim.tv_sec) + '.' + std::to_string(file.st_mtim.tv_nsec);
    uint32_t hash = 2166136261u;
    for (char c : text)
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    return hash;
}

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool listed(const SlotReport& report)
{
    return report.state != SlotState::Empty && !report.isError() && !report.file.empty();
}

uint8_t clampByte(double value)
{
    return static_cast<uint8_t>(std::min(255.0, std::max(0.0, std::round(value))));
}

uint32_t layerFlags(const SlotReport& report)
{
    if (report.state == SlotState::Animation)
        return Citp::kLayerPlaying | Citp::kLayerLooping;
    if (!report.playback.playing)
        return 0;
    const std::string mode = report.playback.mode;
    if (mode == "pause" || mode == "scrub" || report.playback.rate == 0.0)
        return Citp::kLayerPaused;
    return mode == "loop" ? Citp::kLayerPlaying | Citp::kLayerLooping : Citp::kLayerPlaying;
}

// A size of 0 or an unknown format is refused (a size above the most is cut to it).
bool thumbnailAskServed(const MsexRequest& request)
{
    return (request.thumbnail_format == Citp::kFormatPng || request.thumbnail_format == Citp::kFormatJpeg ||
            request.thumbnail_format == Citp::kFormatRgb8) &&
           request.thumbnail_width > 0 && request.thumbnail_height > 0 &&
           request.library_type == Citp::kMediaLibrary;
}

} // namespace

std::string CitpMediaLibrary::artnetSource(int net, int subnet, int universe, int channel)
{
    return "ArtNet/" + std::to_string(net) + "/" + std::to_string(subnet * 16 + universe) + "/" +
           std::to_string(channel);
}

std::string CitpMediaLibrary::sacnSource(int universe, int channel)
{
    return "BSRE1.31/" + std::to_string(universe) + "/" + std::to_string(channel);
}

void CitpMediaLibrary::update(const std::vector<SlotReport>& slots, std::vector<uint8_t>* changed)
{
    std::map<int, Element> now;
    for (const SlotReport& report : slots) {
        struct stat file {};
        if (!listed(report) || report.slot < 0 || report.slot > 255 || stat(report.file.c_str(), &file) != 0)
            continue;
        Element element;
        element.report = report;
        element.name = baseName(report.file);
        element.serial = serialOf(report.file, file);
        element.modified = static_cast<uint64_t>(file.st_mtim.tv_sec);
        const auto before = elements.find(report.slot);
        if (before == elements.end() || before->second.serial != element.serial)
            changed->push_back(static_cast<uint8_t>(report.slot));
        else if (before->second.timed) {
            element.timed = true;
            element.frames = before->second.frames;
            element.fps = before->second.fps;
        }
        now.emplace(report.slot, std::move(element));
    }
    for (const auto& entry : elements)
        if (now.count(entry.first) == 0)
            changed->push_back(static_cast<uint8_t>(entry.first));
    elements = std::move(now);
}

uint16_t CitpMediaLibrary::chosenVersion(const MsexRequest& client_info)
{
    uint16_t best = 0;
    for (uint16_t version : client_info.versions)
        best = std::max(best, version);
    return best == 0 ? client_info.version : best;
}

std::vector<uint8_t> CitpMediaLibrary::elementNumbers() const
{
    std::vector<uint8_t> numbers;
    for (const auto& entry : elements)
        numbers.push_back(static_cast<uint8_t>(entry.first));
    return numbers;
}

std::string CitpMediaLibrary::serverInfo(uint16_t version) const
{
    MsexServerInfo info;
    info.uuid = identity.uuid;
    info.product = identity.name;
    int parts[3] = {0, 0, 0};
    std::sscanf(SPECTRAFOX_VERSION, "%d.%d.%d", &parts[0], &parts[1], &parts[2]);
    info.version_major = static_cast<uint8_t>(parts[0]);
    info.version_minor = static_cast<uint8_t>(parts[1]);
    info.version_bugfix = static_cast<uint8_t>(parts[2]);
    info.thumbnail_formats = {Citp::kFormatPng, Citp::kFormatJpeg, Citp::kFormatRgb8};
    info.layer_sources = identity.layer_sources;
    return CitpMessageBuilder::serverInfo(version, info);
}

std::vector<std::string> CitpMediaLibrary::answer(const MsexRequest& request)
{
    switch (request.type) {
    case Citp::kCInf:
        return {serverInfo(chosenVersion(request))};
    case Citp::kGELI:
        return {libraryList(request)};
    case Citp::kGEIn:
        return mediaElements(request);
    case Citp::kGELT:
        return {libraryThumbnail(request)};
    case Citp::kGETh:
        return elementThumbnails(request);
    default:
        return {CitpMessageBuilder::nack(request.version, request.request_index, request.type)};
    }
}

// Our one library, when the desk asks for media libraries under the root.
std::string CitpMediaLibrary::libraryList(const MsexRequest& request) const
{
    std::vector<MsexLibrary> list;
    const bool from_root = request.version < Citp::kMsex11 || request.parent.level == 0;
    const bool asked = request.every ||
                       std::find(request.libraries.begin(), request.libraries.end(), kLibrary) != request.libraries.end();
    if (request.library_type == Citp::kMediaLibrary && from_root && asked) {
        MsexLibrary library;
        library.id = kLibrary;
        library.name = kLibraryName;
        library.elements = static_cast<uint16_t>(elements.size());
        list.push_back(library);
    }
    return CitpMessageBuilder::libraries(request.version, request.request_index, list);
}

std::vector<std::string> CitpMediaLibrary::mediaElements(const MsexRequest& request)
{
    std::vector<MsexMediaElement> list;
    if (request.library_type == Citp::kMediaLibrary && request.library == kLibrary)
        for (auto& entry : elements)
            if (request.every ||
                std::find(request.elements.begin(), request.elements.end(), entry.first) != request.elements.end())
                list.push_back(describe(entry.second));
    // Before 1.2 a count is one byte: 256 elements take two messages.
    const size_t most = request.version >= Citp::kMsex12 ? list.size() + 1 : 255;
    std::vector<std::string> replies;
    for (size_t from = 0; from < list.size() || replies.empty(); from += most) {
        const auto first = list.begin() + static_cast<long>(from);
        const auto end = list.begin() + static_cast<long>(std::min(list.size(), from + most));
        replies.push_back(CitpMessageBuilder::mediaElements(request.version, request.request_index, request.library,
                                                            std::vector<MsexMediaElement>(first, end)));
    }
    return replies;
}

MsexMediaElement CitpMediaLibrary::describe(Element& element)
{
    timeClip(element);
    MsexMediaElement out;
    out.number = static_cast<uint8_t>(element.report.slot);
    out.serial = element.serial;
    out.dmx_min = out.dmx_max = out.number;
    out.name = element.name;
    out.timestamp = element.modified;
    out.width = static_cast<uint16_t>(std::min(element.report.width, 65535));
    out.height = static_cast<uint16_t>(std::min(element.report.height, 65535));
    out.length = element.frames;
    out.fps = element.fps;
    return out;
}

// A GIF's mean rate from its delays, a clip's from its timing; once per file.
void CitpMediaLibrary::timeClip(Element& element)
{
    if (element.timed)
        return;
    element.timed = true;
    const SlotReport& report = element.report;
    if (report.state == SlotState::Animation) {
        GifAnimationInfo info{};
        int width = 0;
        int height = 0;
        GIFLoader loader;
        unsigned char** frames = loader.loadAnimatedGif(report.file.c_str(), &width, &height, &info);
        if (!frames)
            return;
        long hundredths = 0;
        for (int k = 0; k < info.numberOfImages; ++k) {
            hundredths += info.delayArray[k];
            free(frames[k]);
        }
        free(frames);
        free(info.delayArray);
        element.frames = static_cast<uint32_t>(std::max(1, report.frames));
        element.fps = hundredths > 0 ? clampByte(100.0 * element.frames / static_cast<double>(hundredths)) : 0;
        return;
    }
    if (report.state == SlotState::Picture)
        return;
    ClipReader clip;
    if (!clip.open(report.file, ClipReader::Indexing::Full, &keep_going))
        return;
    const ClipTiming& timing = clip.timing();
    element.frames = static_cast<uint32_t>(std::max<int64_t>(1, timing.duration_us / timing.frame_us));
    element.fps = clampByte(1e6 / static_cast<double>(timing.frame_us));
}

bool CitpMediaLibrary::thumbnailOf(const Element& element, const MsexRequest& request, MsexThumbnail* out)
{
    CitpThumbnails::Ask ask;
    ask.format = request.thumbnail_format;
    ask.width = std::min(request.thumbnail_width, Citp::kMostThumbnailSide);
    ask.height = std::min(request.thumbnail_height, Citp::kMostThumbnailSide);
    ask.keep_aspect = (request.thumbnail_flags & Citp::kKeepAspect) != 0;
    ask.bgr = request.version == Citp::kMsex10;
    return thumbnails.make(element.report.file, ask, out);
}

// The library's picture is that of its first element.
std::string CitpMediaLibrary::libraryThumbnail(const MsexRequest& request)
{
    const bool asked = request.every ||
                       std::find(request.libraries.begin(), request.libraries.end(), kLibrary) != request.libraries.end();
    MsexThumbnail thumbnail;
    if (!thumbnailAskServed(request) || !asked || elements.empty() ||
        !thumbnailOf(elements.begin()->second, request, &thumbnail))
        return CitpMessageBuilder::nack(request.version, request.request_index, request.type);
    return CitpMessageBuilder::libraryThumbnail(request.version, request.request_index, kLibrary, thumbnail);
}

std::vector<std::string> CitpMediaLibrary::elementThumbnails(const MsexRequest& request)
{
    std::vector<std::string> replies;
    if (thumbnailAskServed(request) && request.library == kLibrary)
        for (const auto& entry : elements) {
            const bool asked = request.every || std::find(request.elements.begin(), request.elements.end(),
                                                          entry.first) != request.elements.end();
            MsexThumbnail thumbnail;
            if (asked && thumbnailOf(entry.second, request, &thumbnail))
                replies.push_back(CitpMessageBuilder::elementThumbnail(request.version, request.request_index,
                                                                       request.library,
                                                                       static_cast<uint8_t>(entry.first), thumbnail));
        }
    if (replies.empty())
        replies.push_back(CitpMessageBuilder::nack(request.version, request.request_index, request.type));
    return replies;
}

std::string CitpMediaLibrary::layerStatus(uint16_t version, const std::vector<int>& contents)
{
    std::vector<MsexLayerStatus> layers;
    for (size_t k = 0; k < contents.size(); ++k) {
        MsexLayerStatus layer;
        layer.layer = static_cast<uint8_t>(k);
        layer.library = kLibrary;
        layer.element = static_cast<uint8_t>(contents[k]);
        const auto found = elements.find(contents[k]);
        if (found != elements.end()) {
            Element& element = found->second;
            timeClip(element);
            const PlaybackReport& playback = element.report.playback;
            layer.name = element.name;
            layer.length = element.frames;
            layer.fps = element.fps;
            layer.flags = layerFlags(element.report);
            if (playback.playing && playback.position_s > 0.0)
                layer.position = static_cast<uint32_t>(playback.position_s * element.fps);
        }
        layers.push_back(layer);
    }
    return CitpMessageBuilder::layerStatus(version, layers);
}

} // namespace Spectrafox
