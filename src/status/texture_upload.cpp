#include "status/texture_upload.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Spectrafox {

namespace {

constexpr size_t kTailBytes = 12;
// A PNG's last chunk, whole: IEND with its CRC.
const char kPngEnd[kTailBytes + 1] = "\0\0\0\0IEND\xae\x42\x60\x82";

} // namespace

TextureUpload::TextureUpload(std::string in_folder, int for_slot, TextureName::Kind of_kind, uint64_t length)
    : folder(std::move(in_folder)), slot(for_slot), kind(of_kind), declared(length)
{
    // A dot name: no slot's, so the watcher passes it by.
    std::string pattern = folder + "/.upload-" + TextureName::build(slot, kind) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        refuse(507, std::string("the textures folder cannot be written: ") + std::strerror(errno));
        return;
    }
    temporary = name.data();
}

TextureUpload::~TextureUpload()
{
    discard();
}

bool TextureUpload::take(const char* data, size_t size)
{
    if (answer != 0)
        return false;
    if (received + size > declared)
        return refuse(400, "the body is longer than its Content-Length");
    if (head.size() < TextureName::kSniffBytes)
        head.append(data, std::min(size, TextureName::kSniffBytes - head.size()));
    tail.append(data + (size > kTailBytes ? size - kTailBytes : 0), std::min(size, kTailBytes));
    if (tail.size() > kTailBytes)
        tail.erase(0, tail.size() - kTailBytes);
    for (size_t done = 0; done < size;) {
        const ssize_t written = write(fd, data + done, size - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return refuse(507, std::string("the file could not be written: ") + std::strerror(errno));
        done += static_cast<size_t>(written);
    }
    received += size;
    const bool can_tell = head.size() >= TextureName::kSniffBytes || received == declared;
    if (can_tell && !TextureName::looksLike(kind, reinterpret_cast<const unsigned char*>(head.data()), head.size()))
        return refuse(415, std::string("the file is not a .") + TextureName::extension(kind) + " file");
    return true;
}

bool TextureUpload::finish()
{
    if (answer != 0)
        return false;
    if (received != declared)
        return refuse(400, "the body is shorter than its Content-Length");
    if (!TextureName::looksLike(kind, reinterpret_cast<const unsigned char*>(head.data()), head.size()))
        return refuse(415, std::string("the file is not a .") + TextureName::extension(kind) + " file");
    if (!endsWell())
        return refuse(400, std::string("the .") + TextureName::extension(kind) + " file ends early");
    if (fsync(fd) != 0 || close(fd) != 0) {
        fd = -1;
        return refuse(507, std::string("the file could not be written: ") + std::strerror(errno));
    }
    fd = -1;
    const std::string name = TextureName::build(slot, kind);
    if (rename(temporary.c_str(), (folder + "/" + name).c_str()) != 0)
        return refuse(507, std::string("the file could not be put in place: ") + std::strerror(errno));
    temporary.clear();
    for (int other = 0; other < TextureName::kKinds; ++other)
        if (static_cast<TextureName::Kind>(other) != kind)
            unlink((folder + "/" + TextureName::build(slot, static_cast<TextureName::Kind>(other))).c_str());
    answer = 201;
    return true;
}

bool TextureUpload::fits(const std::string& folder, uint64_t bytes, uint64_t limit, int* status, std::string* reason)
{
    if (bytes > limit) {
        *status = 413;
        *reason = "the file is larger than UPLOAD_MAX_MB= allows";
        return false;
    }
    struct statvfs space{};
    if (statvfs(folder.c_str(), &space) != 0) {
        *status = 507;
        *reason = std::string("the textures folder cannot be looked at: ") + std::strerror(errno);
        return false;
    }
    const uint64_t free_bytes = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    const uint64_t reserve = static_cast<uint64_t>(space.f_blocks) * space.f_frsize / 20;
    if (free_bytes < reserve || bytes > free_bytes - reserve) {
        *status = 507;
        *reason = "the file would leave less than 5 % of the card free";
        return false;
    }
    return true;
}

bool TextureUpload::refuse(int status, const std::string& reason)
{
    answer = status;
    why = reason;
    discard();
    return false;
}

// PNG and GIF have a fixed last chunk or byte: a body cut short, or one
// whose Content-Length was too small, is caught here.
bool TextureUpload::endsWell() const
{
    if (kind == TextureName::Kind::Png)
        return tail.size() == kTailBytes && std::memcmp(tail.data(), kPngEnd, kTailBytes) == 0;
    if (kind == TextureName::Kind::Gif)
        return !tail.empty() && tail.back() == '\x3b';
    return true;
}

void TextureUpload::discard()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
    if (!temporary.empty())
        unlink(temporary.c_str());
    temporary.clear();
}

} // namespace Spectrafox
