#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Spectrafox {

// The memory that decoded pictures and their textures may take together, so
// that a folder of large files cannot exhaust the machine. A picture is
// admitted before anything of it is allocated, for its peak (file, decode
// buffers, pixels and textures) and for what it keeps (its textures); what
// it holds is given back as its buffers are freed, the rest when its slot is
// unloaded. Whether a picture is admitted depends only on what the pictures
// admitted before it keep, never on how far their decoding has come.
// Thread-safe; sizes are 64-bit everywhere so that nothing wraps on a
// 32-bit system.
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
        // Gives back all but `keep` bytes (never grows); 0 ends it.
        void shrinkTo(std::uint64_t keep);
        // Down to what the picture keeps: its buffers are freed.
        void settle() { shrinkTo(kept); }

    private:
        friend class PictureMemoryBudget;
        PictureMemoryBudget* budget = nullptr;
        std::uint64_t held = 0;
        std::uint64_t kept = 0;
    };

    explicit PictureMemoryBudget(std::uint64_t limit_bytes);
    PictureMemoryBudget(const PictureMemoryBudget&) = delete;
    PictureMemoryBudget& operator=(const PictureMemoryBudget&) = delete;

    // False, holding nothing, when `peak` does not fit beside what the
    // pictures admitted so far keep. Otherwise waits until their buffers are
    // freed far enough for `peak`, and holds it. Callers admit one at a time,
    // in order, and free earlier pictures' buffers on other threads.
    bool admit(std::uint64_t peak, std::uint64_t kept, Reservation* out);
    std::uint64_t limit() const { return limit_bytes; }
    std::uint64_t inUse() const;

    // A quarter of the physical memory, and of the address space the process
    // may use where that is smaller (a 32-bit system, a ulimit).
    static std::uint64_t defaultLimit();

    // Charged per texture beside its pixels: the driver's bookkeeping.
    static constexpr std::uint64_t kPerTextureBytes = 1024;
    // The textures of `count` RGBA pictures of width x height.
    static std::uint64_t textureBytes(int width, int height, int count);
    // The luma and chroma textures of one 4:2:0 picture of width x height.
    static std::uint64_t yuvTextureBytes(int width, int height);

private:
    void giveBack(std::uint64_t bytes, std::uint64_t kept_bytes);

    const std::uint64_t limit_bytes;
    mutable std::mutex mutex;
    std::condition_variable freed;
    std::uint64_t in_use = 0;
    std::uint64_t kept_total = 0;
};

} // namespace Spectrafox
