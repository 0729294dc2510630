// Memory over the process heap and the global memory calls.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(win::kGmemFixed == GMEM_FIXED && win::kGmemZeroInit == GMEM_ZEROINIT && win::kGptr == GPTR);

class Win32Memory final : public Memory {
public:
    void* allocate(std::size_t size, bool zeroed) override {
        return ::HeapAlloc(::GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, size);
    }
    void release(void* block) override {
        if (block) ::HeapFree(::GetProcessHeap(), 0, block);
    }

    // A fixed block's handle is its address.
    void* globalAlloc(std::uint32_t flags, std::size_t size) override { return ::GlobalAlloc(flags, size); }

    void* globalFree(void* block) override { return ::GlobalFree(block); }
};

}  // namespace

Memory& memory() {
    static Win32Memory instance;
    return instance;
}

}  // namespace hx::platform::win32
