#include "support/eventually.h"

#include <thread>

namespace Spectrafox::Test {

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds poll)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(poll);
    }
    return true;
}

} // namespace Spectrafox::Test
