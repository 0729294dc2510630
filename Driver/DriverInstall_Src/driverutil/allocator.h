// The library's general-purpose allocator: every block the library hands to a
// caller comes from it and goes back through ReleasePortInfo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/platform.h"

namespace hx::driverutil {

// HeapAlloc on the process heap, so a block outlives the call that made it and
// any export of the library can give it back. Null when memory is short.
[[nodiscard]] void* allocateBlock(platform::Memory& memory, std::size_t size, bool zeroed);

// Gives a block back; null is accepted and does nothing.
void releaseBlock(platform::Memory& memory, void* block);

// A block owned by the step that allocated it, until handOver() passes it to
// the caller; released on every other way out.
class OwnedBlock {
public:
    OwnedBlock(platform::Memory& memory, std::size_t size, bool zeroed)
        : memory_(&memory), block_(allocateBlock(memory, size, zeroed)) {}
    // Takes over a block the library's allocator handed out earlier.
    OwnedBlock(platform::Memory& memory, void* adopted) : memory_(&memory), block_(adopted) {}
    OwnedBlock(OwnedBlock&& other) noexcept : memory_(other.memory_), block_(std::exchange(other.block_, nullptr)) {}
    OwnedBlock& operator=(OwnedBlock&&) = delete;
    OwnedBlock(const OwnedBlock&) = delete;
    OwnedBlock& operator=(const OwnedBlock&) = delete;
    ~OwnedBlock() { releaseBlock(*memory_, block_); }

    explicit operator bool() const { return block_ != nullptr; }
    [[nodiscard]] void* get() const { return block_; }
    [[nodiscard]] std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(block_); }
    [[nodiscard]] void* handOver() { return std::exchange(block_, nullptr); }

private:
    platform::Memory* memory_;
    void* block_;
};

}  // namespace hx::driverutil
