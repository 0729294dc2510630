// The library's general-purpose allocator: every block the library hands to a
// caller comes from it and goes back through ReleasePortInfo.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

// HeapAlloc on the process heap, so a block outlives the call that made it and
// any export of the library can give it back. Null when memory is short.
[[nodiscard]] void* allocateBlock(platform::Memory& memory, std::size_t size, bool zeroed);

// Gives a block back; null is accepted and does nothing.
void releaseBlock(platform::Memory& memory, void* block);

// A block owned by the step that allocated it, until release() hands it to
// the caller; released on every other way out.
using OwnedBlock = platform::UniqueHeapBlock;

[[nodiscard]] inline OwnedBlock allocateOwned(platform::Memory& memory, std::size_t size, bool zeroed) {
    return OwnedBlock(memory, allocateBlock(memory, size, zeroed));
}

[[nodiscard]] inline std::uint8_t* bytesOf(const OwnedBlock& block) { return static_cast<std::uint8_t*>(block.get()); }

}  // namespace hx::driverutil
