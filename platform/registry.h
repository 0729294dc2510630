// The registry under HKEY_LOCAL_MACHINE. Results are Windows error codes (0 success).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

inline Handle const kHkeyLocalMachine = reinterpret_cast<Handle>(static_cast<std::uintptr_t>(0x80000002u));

namespace win {
inline constexpr std::uint32_t kKeyWrite = 0x20006;
inline constexpr std::uint32_t kKeyReadWrite = 0x2001F;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kErrorMoreData = 234;
}  // namespace win

class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExW: kErrorFileNotFound for a missing key, kErrorAccessDenied
    // without the rights asked for. Release with regCloseKey.
    virtual std::int32_t regOpenKeyEx(Handle root, const char16_t* subKey, std::uint32_t options,
                                      std::uint32_t access, Handle* key) = 0;
    // RegQueryValueExW: *size in (capacity) and out (bytes of the value);
    // kErrorMoreData when the capacity is too small, kErrorFileNotFound when missing.
    virtual std::int32_t regQueryValueEx(Handle key, const char16_t* name, std::uint32_t* type,
                                         std::uint8_t* data, std::uint32_t* size) = 0;
    // RegSetValueExW.
    virtual std::int32_t regSetValueEx(Handle key, const char16_t* name, std::uint32_t type,
                                       const std::uint8_t* data, std::uint32_t size) = 0;
    // RegDeleteValueW.
    virtual std::int32_t regDeleteValue(Handle key, const char16_t* name) = 0;
    // RegDeleteKeyW: the subkey must have no subkeys of its own.
    virtual std::int32_t regDeleteKey(Handle key, const char16_t* subKey) = 0;
    // RegCloseKey.
    virtual std::int32_t regCloseKey(Handle key) = 0;
};

}  // namespace hx::platform
