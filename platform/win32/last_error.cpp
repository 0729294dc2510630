// LastError over the thread's Win32 last-error value.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

class Win32LastError final : public LastError {
public:
    std::uint32_t getLastError() override { return ::GetLastError(); }
    void setLastError(std::uint32_t code) override { ::SetLastError(code); }
};

}  // namespace

LastError& lastError() {
    static Win32LastError instance;
    return instance;
}

}  // namespace hx::platform::win32
