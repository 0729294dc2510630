// Libraries over the loader's module calls.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

HMODULE native(Handle module) { return static_cast<HMODULE>(module); }

class Win32Libraries final : public Libraries {
public:
    Handle loadLibrary(const char16_t* name) override { return ::LoadLibraryW(wide(name)); }

    Handle getModuleHandle(const char16_t* name) override { return ::GetModuleHandleW(wide(name)); }

    // FARPROC to the generic function pointer type: no cast-function-type warning.
    Procedure getProcAddress(Handle module, const char* name) override {
        return reinterpret_cast<Procedure>(::GetProcAddress(native(module), name));
    }

    bool freeLibrary(Handle module) override { return ::FreeLibrary(native(module)) != FALSE; }

    std::uint32_t getModuleFileName(Handle module, char16_t* buffer, std::uint32_t size) override {
        return ::GetModuleFileNameW(native(module), wide(buffer), size);
    }
};

}  // namespace

Libraries& libraries() {
    static Win32Libraries instance;
    return instance;
}

}  // namespace hx::platform::win32
