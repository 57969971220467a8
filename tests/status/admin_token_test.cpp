// The admin token and what a wrong one costs: pure, no sockets.
#include <gtest/gtest.h>

#include "status/admin_throttle.h"
#include "status/admin_token.h"

using namespace Spectrafox;

namespace {

TEST(AdminToken, AdmitsOnlyTheExactBearerHeader)
{
    const std::string token = "0123456789abcdef";
    const AdminToken admin(token);
    ASSERT_TRUE(admin.enabled());
    const struct {
        const char* header;
        bool admitted;
    } cases[] = {
        {"Bearer 0123456789abcdef", true},
        {"Bearer 0123456789abcdeF", false}, // last byte differs
        {"Bearer 0123456789abcde", false},  // a prefix
        {"Bearer 0123456789abcdef0", false}, // longer
        {"Bearer 0123456789abcdefBearer 0123456789abcdef", false}, // the secret twice
        {"bearer 0123456789abcdef", false},
        {"0123456789abcdef", false},
        {"Basic MDEyMzQ1Njc4OWFiY2RlZg==", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header ? c.header : "(none)");
        EXPECT_EQ(admin.admits(c.header), c.admitted);
    }
    // Too short a token keeps the API off: nothing is admitted, not even itself.
    const AdminToken short_one("0123456789abcde");
    EXPECT_FALSE(short_one.enabled());
    EXPECT_FALSE(short_one.whyOff().empty());
    EXPECT_FALSE(short_one.admits("Bearer 0123456789abcde"));
    EXPECT_FALSE(AdminToken("").admits("Bearer "));
}

// Failures from one address: each doubles its wait, other addresses are not
// held up, a right token clears it, and a flood of addresses stays bounded.
TEST(AdminThrottle, WrongTokensCostTheirAddressAGrowingWait)
{
    using std::chrono::milliseconds;
    AdminThrottle throttle;
    const AdminThrottle::Clock::time_point start{};
    const uint32_t guesser = 1, other = 2;
    milliseconds at{0};
    for (int failure = 0; failure < 6; ++failure) {
        SCOPED_TRACE(failure);
        ASSERT_TRUE(throttle.mayTry(guesser, start + at));
        throttle.failed(guesser, start + at);
        const milliseconds wait = AdminThrottle::kFirstDelay * (1 << failure);
        EXPECT_FALSE(throttle.mayTry(guesser, start + at + wait - milliseconds(1)));
        EXPECT_TRUE(throttle.mayTry(other, start + at));
        at += wait;
    }
    throttle.succeeded(guesser);
    EXPECT_TRUE(throttle.mayTry(guesser, start + at));

    // A flood of addresses never grows the table past its bound.
    AdminThrottle flooded;
    for (uint32_t address = 0; address < 3 * AdminThrottle::kMostAddresses; ++address)
        flooded.failed(address, start);
    EXPECT_FALSE(flooded.mayTry(3 * AdminThrottle::kMostAddresses - 1, start));
}

} // namespace
