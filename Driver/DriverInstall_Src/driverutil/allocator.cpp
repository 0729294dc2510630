// The library's general-purpose allocator over the process heap.
#include "Driver/DriverInstall_Src/driverutil/allocator.h"

namespace hx::driverutil {

void* allocateBlock(platform::Memory& memory, std::size_t size, bool zeroed) { return memory.allocate(size, zeroed); }

void releaseBlock(platform::Memory& memory, void* block) {
    if (block != nullptr) memory.release(block);
}

}  // namespace hx::driverutil
