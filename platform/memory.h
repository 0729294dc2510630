// Heap blocks the logic hands between calls; counted in the simulation.
#pragma once

#include <cstddef>

namespace hx::platform {

class Memory {
public:
    virtual ~Memory() = default;
    // HeapAlloc on the process heap: null when the memory cannot be had.
    virtual void* allocate(std::size_t size, bool zeroed) = 0;
    // HeapFree; null is ignored.
    virtual void release(void* block) = 0;
};

}  // namespace hx::platform
