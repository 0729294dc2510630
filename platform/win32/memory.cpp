// Memory over the process heap.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

class Win32Memory final : public Memory {
public:
    void* allocate(std::size_t size, bool zeroed) override {
        return ::HeapAlloc(::GetProcessHeap(), zeroed ? HEAP_ZERO_MEMORY : 0, size);
    }
    void release(void* block) override {
        if (block) ::HeapFree(::GetProcessHeap(), 0, block);
    }
};

}  // namespace

Memory& memory() {
    static Win32Memory instance;
    return instance;
}

}  // namespace hx::platform::win32
