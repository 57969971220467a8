#include "canvas/canvas_content/content_local_file_texture/picture_memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace Spectrafox {

PictureMemoryBudget::Reservation::Reservation(Reservation&& other) noexcept
    : budget(std::exchange(other.budget, nullptr)), held(std::exchange(other.held, 0))
{
}

PictureMemoryBudget::Reservation& PictureMemoryBudget::Reservation::operator=(Reservation&& other) noexcept
{
    if (this != &other) {
        shrinkTo(0);
        budget = std::exchange(other.budget, nullptr);
        held = std::exchange(other.held, 0);
    }
    return *this;
}

void PictureMemoryBudget::Reservation::shrinkTo(std::uint64_t keep)
{
    if (!budget || keep >= held)
        return;
    budget->giveBack(held - keep);
    held = keep;
}

PictureMemoryBudget::PictureMemoryBudget(std::uint64_t limit) : limit_bytes(limit) {}

bool PictureMemoryBudget::reserve(std::uint64_t bytes, Reservation* out)
{
    *out = Reservation();
    std::uint64_t used = in_use.load();
    do {
        if (bytes > limit_bytes || used > limit_bytes - bytes)
            return false;
    } while (!in_use.compare_exchange_weak(used, used + bytes));
    out->budget = this;
    out->held = bytes;
    return true;
}

std::uint64_t PictureMemoryBudget::textureBytes(int width, int height, int count)
{
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return static_cast<std::uint64_t>(count) * (4 * pixels + kPerTextureBytes);
}

void PictureMemoryBudget::giveBack(std::uint64_t bytes)
{
    in_use.fetch_sub(bytes);
}

std::uint64_t PictureMemoryBudget::defaultLimit()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    std::uint64_t usable = pages > 0 && page_size > 0
                               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size)
                               : std::uint64_t{1} << 30;
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY)
        usable = std::min<std::uint64_t>(usable, address_space.rlim_cur);
    if (sizeof(void*) == 4) // the process sees at most about 3 GiB
        usable = std::min<std::uint64_t>(usable, std::uint64_t{3} << 30);
    return usable / 4;
}

} // namespace Spectrafox
