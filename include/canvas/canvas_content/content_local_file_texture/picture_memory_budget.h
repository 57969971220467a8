#pragma once

#include <atomic>
#include <cstdint>

namespace Spectrafox {

// The memory that decoded pictures and their textures may take together, so
// that a folder of large files cannot exhaust the machine. Space is reserved
// before anything is allocated and given back when the reservation ends
// (a slot unloaded, a decode buffer freed). Thread-safe; sizes are 64-bit on
// every platform so that nothing wraps on a 32-bit system.
class PictureMemoryBudget {
public:
    // Space held from a budget; handed back when it ends or shrinks.
    class Reservation {
    public:
        Reservation() = default;
        ~Reservation() { shrinkTo(0); }
        Reservation(Reservation&& other) noexcept;
        Reservation& operator=(Reservation&& other) noexcept;
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;

        std::uint64_t bytes() const { return held; }
        // Gives back all but `keep` bytes (never grows).
        void shrinkTo(std::uint64_t keep);

    private:
        friend class PictureMemoryBudget;
        PictureMemoryBudget* budget = nullptr;
        std::uint64_t held = 0;
    };

    explicit PictureMemoryBudget(std::uint64_t limit_bytes);
    PictureMemoryBudget(const PictureMemoryBudget&) = delete;
    PictureMemoryBudget& operator=(const PictureMemoryBudget&) = delete;

    // False, holding nothing, when the bytes do not fit beside what is held.
    bool reserve(std::uint64_t bytes, Reservation* out);
    std::uint64_t limit() const { return limit_bytes; }
    std::uint64_t inUse() const { return in_use.load(); }

    // A quarter of the physical memory, and of the address space the process
    // may use where that is smaller (a 32-bit system, a ulimit).
    static std::uint64_t defaultLimit();

    // Charged per texture beside its pixels: the driver's bookkeeping.
    static constexpr std::uint64_t kPerTextureBytes = 1024;
    // The textures of `count` RGBA pictures of width x height.
    static std::uint64_t textureBytes(int width, int height, int count);

private:
    void giveBack(std::uint64_t bytes);

    const std::uint64_t limit_bytes;
    std::atomic<std::uint64_t> in_use{0};
};

} // namespace Spectrafox
