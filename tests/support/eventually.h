#pragma once

#include <chrono>
#include <functional>

namespace Spectrafox::Test {

// Polls `condition` every `poll` until it holds (true) or `limit` has passed
// (false): the one bounded wait of the socket tests.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(5),
                std::chrono::milliseconds poll = std::chrono::milliseconds(2));

} // namespace Spectrafox::Test
