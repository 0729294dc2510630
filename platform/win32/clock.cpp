// Clock over the kernel's sleep, wait and tick count.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

class Win32Clock final : public Clock {
public:
    void sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
    std::uint32_t waitForSingleObject(Handle object, std::uint32_t milliseconds) override {
        return ::WaitForSingleObject(object, milliseconds);
    }
    std::uint64_t tickCount() override { return ::GetTickCount64(); }
};

}  // namespace

Clock& clock() {
    static Win32Clock instance;
    return instance;
}

}  // namespace hx::platform::win32
