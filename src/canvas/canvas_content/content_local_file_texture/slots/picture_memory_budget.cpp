#include "canvas/canvas_content/content_local_file_texture/slots/picture_memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace Spectrafox {

PictureMemoryBudget::Reservation::Reservation(Reservation&& other) noexcept
    : budget(std::exchange(other.budget, nullptr)), held(std::exchange(other.held, 0)),
      kept(std::exchange(other.kept, 0))
{
}

PictureMemoryBudget::Reservation& PictureMemoryBudget::Reservation::operator=(Reservation&& other) noexcept
{
    if (this != &other) {
        shrinkTo(0);
        budget = std::exchange(other.budget, nullptr);
        held = std::exchange(other.held, 0);
        kept = std::exchange(other.kept, 0);
    }
    return *this;
}

void PictureMemoryBudget::Reservation::shrinkTo(std::uint64_t keep)
{
    if (!budget || keep >= held)
        return;
    const std::uint64_t kept_given_back = keep == 0 ? kept : 0;
    budget->giveBack(held - keep, kept_given_back);
    held = keep;
    kept -= kept_given_back;
}

PictureMemoryBudget::PictureMemoryBudget(std::uint64_t limit) : limit_bytes(limit) {}

bool PictureMemoryBudget::admit(std::uint64_t peak, std::uint64_t kept, Reservation* out)
{
    *out = Reservation();
    std::unique_lock<std::mutex> lock(mutex);
    if (peak > limit_bytes || kept > peak || kept_total > limit_bytes - peak)
        return false;
    freed.wait(lock, [&] { return in_use <= limit_bytes - peak; });
    in_use += peak;
    kept_total += kept;
    out->budget = this;
    out->held = peak;
    out->kept = kept;
    return true;
}

std::uint64_t PictureMemoryBudget::inUse() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return in_use;
}

void PictureMemoryBudget::giveBack(std::uint64_t bytes, std::uint64_t kept_bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        in_use -= bytes;
        kept_total -= kept_bytes;
    }
    freed.notify_all();
}

std::uint64_t PictureMemoryBudget::textureBytes(int width, int height, int count)
{
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    return static_cast<std::uint64_t>(count) * (4 * pixels + kPerTextureBytes);
}

std::uint64_t PictureMemoryBudget::yuvTextureBytes(int width, int height)
{
    const std::uint64_t luma = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    const std::uint64_t chroma = ((static_cast<std::uint64_t>(width) + 1) / 2) *
                                 ((static_cast<std::uint64_t>(height) + 1) / 2);
    return luma + 2 * chroma + 2 * kPerTextureBytes;
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
