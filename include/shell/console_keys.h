#pragma once

#include <cstddef>
#include <string>

namespace Spectrafox {

// The plain keys in what one read from the terminal returned. Function and
// arrow keys come as escape sequences (Esc [ ... or Esc O x) whose letters
// must not count as keys: Esc O q is the keypad's 1, not q. A terminal sends
// a sequence in one write, so a sequence never spans two reads.
std::string plainKeysIn(const char* bytes, size_t count);

} // namespace Spectrafox
