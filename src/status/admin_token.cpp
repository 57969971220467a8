#include "status/admin_token.h"

#include <cstring>

namespace Spectrafox {

AdminToken::AdminToken(std::string token)
{
    if (token.empty())
        why_off = "no HTTP_ADMIN_TOKEN= set";
    else if (token.size() < kMinLength)
        why_off = "HTTP_ADMIN_TOKEN= is shorter than " + std::to_string(kMinLength) + " characters";
    else
        secret = "Bearer " + token;
}

bool AdminToken::admits(const char* authorization) const
{
    if (!enabled() || authorization == nullptr)
        return false;
    const size_t given = std::strlen(authorization);
    // Every byte of the header is looked at; the lengths enter only at the end.
    unsigned char difference = given == secret.size() ? 0 : 1;
    for (size_t i = 0; i < given; ++i)
        difference |= static_cast<unsigned char>(authorization[i] ^ secret[i % secret.size()]);
    return difference == 0;
}

} // namespace Spectrafox
