#pragma once

#include <cstdint>
#include <string>

#include "status/texture_name.h"

namespace Spectrafox {

// One file arriving for a slot: written piece by piece to a temporary file
// in the textures folder (never held whole in memory), checked, and renamed
// into place at the end, so the folder watcher sees it whole or not at all.
// Anything that goes wrong, or the object going before finish(), removes
// the temporary file: a cut-off upload leaves nothing behind.
class TextureUpload {
public:
    // `declared`: the request's Content-Length, which the body must match.
    TextureUpload(std::string folder, int slot, TextureName::Kind kind, uint64_t declared);
    ~TextureUpload();
    TextureUpload(const TextureUpload&) = delete;
    TextureUpload& operator=(const TextureUpload&) = delete;

    // False (with status() and reason()) once the upload is refused.
    bool take(const char* data, size_t size);
    // The whole body is in: checks it and renames it into place; the
    // slot's files of other kinds are removed, so the new one shows.
    bool finish();

    // An HTTP status: 201 once stored, else the 4xx/5xx of the refusal.
    int status() const { return answer; }
    const std::string& reason() const { return why; }
    // "NNN.ext", the name it has (or will have) in the folder.
    std::string name() const { return TextureName::build(slot, kind); }

    // Whether `bytes` may be written into `folder`: within `limit` and
    // leaving 5 % of its file system free. False with the status and reason.
    static bool fits(const std::string& folder, uint64_t bytes, uint64_t limit, int* status, std::string* reason);

private:
    bool refuse(int status, const std::string& reason);
    bool endsWell() const;
    void discard();

    const std::string folder;
    const int slot;
    const TextureName::Kind kind;
    const uint64_t declared;
    std::string temporary;
    int fd = -1;
    uint64_t received = 0;
    std::string head; // the first kSniffBytes
    std::string tail; // the last few bytes, for the kinds with a fixed end
    int answer = 0;
    std::string why;
};

} // namespace Spectrafox
