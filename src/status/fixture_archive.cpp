#include "status/fixture_archive.h"

#include <sys/stat.h>
#include <zip.h>

#include <utility>

#include "status/built_in_fixture.h"

namespace Spectrafox {

namespace {

constexpr const char* kDescription = "description.xml";
constexpr const char* kContentFunction = "<ChannelFunction Name=\"Content (picture slot)\"";

std::string stem(const std::string& name)
{
    return name.substr(0, name.find('.'));
}

// Names come from textures/ (three digits and a known ending), but are
// escaped all the same.
std::string escaped(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
    return out;
}

std::string wheelOf(const std::vector<FixtureArchive::Media>& media)
{
    std::string xml = "<Wheels>\n   <Wheel Name=\"" + std::string(FixtureArchive::kWheel) + "\">\n";
    for (const FixtureArchive::Media& entry : media)
        xml += "    <Slot Name=\"" + escaped(entry.name) + "\" MediaFileName=\"" + escaped(stem(entry.name)) + "\" />\n";
    return xml + "   </Wheel>\n  </Wheels>";
}

// One channel set per slot from its DMX value; the values between filled
// slots select nothing, so they get a set without a wheel slot.
std::string channelSetsOf(const std::vector<FixtureArchive::Media>& media)
{
    std::string xml;
    int next = 0;
    for (size_t k = 0; k < media.size(); ++k) {
        if (media[k].slot > next)
            xml += "        <ChannelSet Name=\"Empty\" DMXFrom=\"" + std::to_string(next) + "/1\" WheelSlotIndex=\"0\" />\n";
        xml += "        <ChannelSet Name=\"" + escaped(media[k].name) + "\" DMXFrom=\"" + std::to_string(media[k].slot) +
               "/1\" WheelSlotIndex=\"" + std::to_string(k + 1) + "\" />\n";
        next = media[k].slot + 1;
    }
    if (next <= 255)
        xml += "        <ChannelSet Name=\"Empty\" DMXFrom=\"" + std::to_string(next) + "/1\" WheelSlotIndex=\"0\" />\n";
    return xml;
}

std::string readEntry(zip_t* zip, const char* name)
{
    zip_stat_t info;
    zip_file_t* file = zip_stat(zip, name, 0, &info) == 0 ? zip_fopen(zip, name, 0) : nullptr;
    if (!file)
        return {};
    std::string text(static_cast<size_t>(info.size), '\0');
    const zip_int64_t got = zip_fread(file, &text[0], info.size);
    zip_fclose(file);
    return got == static_cast<zip_int64_t>(info.size) ? text : std::string();
}

// Adds `bytes` (not copied: they must outlive the archive's closing) under `name`.
bool addEntry(zip_t* zip, const std::string& name, const std::string& bytes)
{
    zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
    if (!source)
        return false;
    if (zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
        zip_source_free(source);
        return false;
    }
    return true;
}

std::string builtInDescription()
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* base = zip_source_buffer_create(BuiltInFixture::kGdtf, BuiltInFixture::kGdtfSize, 0, &error);
    zip_t* profile = base ? zip_open_from_source(base, ZIP_RDONLY, &error) : nullptr;
    const std::string text = profile ? readEntry(profile, kDescription) : std::string();
    if (profile)
        zip_discard(profile);
    else if (base)
        zip_source_free(base);
    zip_error_fini(&error);
    return text;
}

std::string contentsOf(zip_source_t* source)
{
    zip_stat_t info;
    if (zip_source_open(source) != 0)
        return {};
    std::string bytes;
    if (zip_source_stat(source, &info) == 0) {
        bytes.resize(static_cast<size_t>(info.size));
        if (zip_source_read(source, &bytes[0], info.size) != static_cast<zip_int64_t>(info.size))
            bytes.clear();
    }
    zip_source_close(source);
    return bytes;
}

// A zip of the entries (name, bytes), made in memory: the node writes
// nothing to disk for it.
std::string zipOf(const std::vector<std::pair<std::string, std::string>>& entries)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_TRUNCATE, &error) : nullptr;
    std::string bytes;
    if (zip) {
        zip_source_keep(source); // read after the archive is closed
        bool added = true;
        for (const auto& entry : entries)
            added = added && addEntry(zip, entry.first, entry.second);
        if (added && zip_close(zip) == 0)
            bytes = contentsOf(source);
        else
            zip_discard(zip);
    }
    if (source)
        zip_source_free(source);
    zip_error_fini(&error);
    return bytes;
}

} // namespace

std::string FixtureArchive::withMedia(const std::string& description, const std::vector<Media>& media)
{
    std::string xml = description;
    const std::string no_wheels = "<Wheels />";
    const size_t wheels = xml.find(no_wheels);
    if (wheels != std::string::npos)
        xml.replace(wheels, no_wheels.size(), wheelOf(media));
    // Every mode's content channel function takes the wheel.
    for (size_t at = xml.find(kContentFunction); at != std::string::npos; at = xml.find(kContentFunction, at + 1)) {
        const size_t end = xml.find(" />", at);
        if (end == std::string::npos)
            break;
        const std::string opened = " Wheel=\"" + std::string(kWheel) + "\">\n" + channelSetsOf(media) + "       </ChannelFunction>";
        xml.replace(end, 3, opened);
    }
    return xml;
}

const std::string& FixtureArchive::forSlots(const std::vector<SlotReport>& slots)
{
    std::vector<Media> media;
    std::string files;
    for (const SlotReport& report : slots) {
        struct stat file {};
        if (report.state == SlotState::Empty || report.isError() || report.file.empty() ||
            stat(report.file.c_str(), &file) != 0)
            continue;
        const size_t slash = report.file.find_last_of('/');
        media.push_back({report.slot, report.file.substr(slash == std::string::npos ? 0 : slash + 1), report.file});
        files += report.file + '|' + std::to_string(file.st_size) + '|' + std::to_string(file.st_mtim.tv_sec) + '.' +
                 std::to_string(file.st_mtim.tv_nsec) + '\n';
    }
    if (files != made_for || archive.empty()) {
        archive = build(media);
        made_for = files;
    }
    return archive;
}

std::string FixtureArchive::build(const std::vector<Media>& media)
{
    std::vector<std::pair<std::string, std::string>> entries{{kDescription, withMedia(builtInDescription(), media)}};
    if (entries.front().second.empty())
        return {};
    for (const Media& entry : media) {
        MsexThumbnail picture;
        CitpThumbnails::Ask ask{Citp::kFormatPng, kPictureSide, kPictureSide, false, false};
        ask.most_bytes = kPictureSide * kPictureSide * 4;
        if (pictures.make(entry.path, ask, &picture))
            entries.emplace_back("wheels/" + stem(entry.name) + ".png", std::move(picture.bytes));
    }
    return zipOf(entries);
}

} // namespace Spectrafox
