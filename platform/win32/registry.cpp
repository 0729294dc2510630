// Registry over the advapi key and value calls.
#include <windows.h>

#include <cstdint>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

// The interface spells the predefined root 0x80000002 zero-extended; Windows
// defines it sign-extended. Only Windows' own spelling is handed on.
HKEY native(Handle key) { return key == kHkeyLocalMachine ? HKEY_LOCAL_MACHINE : static_cast<HKEY>(key); }

static_assert(win::kKeyWrite == KEY_WRITE);
static_assert(win::kKeyReadWrite == (KEY_READ | KEY_WRITE));
static_assert(win::kRegSz == REG_SZ && win::kRegExpandSz == REG_EXPAND_SZ && win::kRegDword == REG_DWORD);
static_assert(win::kErrorMoreData == ERROR_MORE_DATA);

class Win32Registry final : public Registry {
public:
    std::int32_t regOpenKeyEx(Handle root, const char16_t* subKey, std::uint32_t options, std::uint32_t access,
                              Handle* key) override {
        HKEY opened = nullptr;
        const LSTATUS status =
            ::RegOpenKeyExW(native(root), wide(subKey), options, access, key ? &opened : nullptr);
        if (key) *key = status == ERROR_SUCCESS ? opened : nullptr;
        return status;
    }

    std::int32_t regQueryValueEx(Handle key, const char16_t* name, std::uint32_t* type, std::uint8_t* data,
                                 std::uint32_t* size) override {
        DWORD valueType = 0;
        DWORD bytes = size ? *size : 0;
        const LSTATUS status =
            ::RegQueryValueExW(native(key), wide(name), nullptr, &valueType, data, size ? &bytes : nullptr);
        if (type) *type = valueType;
        if (size) *size = bytes;
        return status;
    }

    std::int32_t regSetValueEx(Handle key, const char16_t* name, std::uint32_t type, const std::uint8_t* data,
                               std::uint32_t size) override {
        return ::RegSetValueExW(native(key), wide(name), 0, type, data, size);
    }

    std::int32_t regDeleteValue(Handle key, const char16_t* name) override {
        return ::RegDeleteValueW(native(key), wide(name));
    }

    std::int32_t regDeleteKey(Handle key, const char16_t* subKey) override {
        return ::RegDeleteKeyW(native(key), wide(subKey));
    }

    std::int32_t regCloseKey(Handle key) override { return ::RegCloseKey(native(key)); }
};

}  // namespace

Registry& registry() {
    static Win32Registry instance;
    return instance;
}

}  // namespace hx::platform::win32
