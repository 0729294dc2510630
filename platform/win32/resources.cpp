// Resources from the resource section of a loaded module.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

class Win32Resources final : public Resources {
public:
    std::span<const std::uint8_t> findModuleResource(const char16_t* moduleName, const char16_t* type,
                                                     std::uint16_t id) override {
        const HMODULE module = ::GetModuleHandleW(wide(moduleName));
        if (!module) return {};
        const HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), wide(type));
        if (!info) return {};
        const HGLOBAL loaded = ::LoadResource(module, info);
        if (!loaded) return {};
        const void* bytes = ::LockResource(loaded);
        const DWORD size = ::SizeofResource(module, info);
        if (!bytes || size == 0) return {};
        return {static_cast<const std::uint8_t*>(bytes), size};
    }
};

}  // namespace

Resources& resources() {
    static Win32Resources instance;
    return instance;
}

}  // namespace hx::platform::win32
