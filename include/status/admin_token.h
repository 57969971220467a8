#pragma once

#include <string>

namespace Spectrafox {

// The shared secret of the admin API (HTTP_ADMIN_TOKEN=). A token shorter
// than kMinLength leaves the API off: a short one is guessed too easily.
class AdminToken {
public:
    static constexpr size_t kMinLength = 16;

    explicit AdminToken(std::string token);

    bool enabled() const { return !secret.empty(); }
    // Empty when enabled; else why the admin API is off.
    const std::string& whyOff() const { return why_off; }
    // True only for "Bearer <token>" exactly. Takes the same time whatever
    // the header holds, for a given length of it, so timing tells nothing
    // about how much of a guess was right.
    bool admits(const char* authorization) const;

private:
    std::string secret;
    std::string why_off;
};

} // namespace Spectrafox
