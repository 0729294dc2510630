// Shell over SHFileOperationW, silent and windowless as the interface promises.
#include <windows.h>
// After <windows.h>, on which it builds.
#include <shellapi.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(win::kFoCopy == FO_COPY);
static_assert(win::kFofSilent == FOF_SILENT && win::kFofNoConfirmation == FOF_NOCONFIRMATION);
static_assert(win::kFofNoConfirmMkdir == FOF_NOCONFIRMMKDIR && win::kFofNoErrorUi == FOF_NOERRORUI);

class Win32Shell final : public Shell {
public:
    int fileOperation(std::uint32_t function, const char16_t* from, const char16_t* to,
                      std::uint16_t flags) override {
        SHFILEOPSTRUCTW operation{};
        operation.hwnd = nullptr;
        operation.wFunc = function;
        operation.pFrom = wide(from);
        operation.pTo = wide(to);
        operation.fFlags = flags;
        operation.lpszProgressTitle = nullptr;
        return ::SHFileOperationW(&operation);
    }
};

}  // namespace

Shell& shell() {
    static Win32Shell instance;
    return instance;
}

}  // namespace hx::platform::win32
