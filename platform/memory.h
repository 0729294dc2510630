// Heap blocks the logic hands between calls; counted in the simulation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hx::platform {

namespace win {
inline constexpr std::uint32_t kGmemFixed = 0x0;
inline constexpr std::uint32_t kGmemZeroInit = 0x40;
inline constexpr std::uint32_t kGptr = 0x40;
}  // namespace win

class Memory {
public:
    virtual ~Memory() = default;
    // HeapAlloc on the process heap: null when the memory cannot be had.
    virtual void* allocate(std::size_t size, bool zeroed) = 0;
    // HeapFree; null is ignored.
    virtual void release(void* block) = 0;
    // GlobalAlloc (kGmemFixed, kGptr for zero-filled): null on failure.
    virtual void* globalAlloc(std::uint32_t flags, std::size_t size) = 0;
    // GlobalFree: null when freed, the block itself when the release failed.
    virtual void* globalFree(void* block) = 0;
};

}  // namespace hx::platform
