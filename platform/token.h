// The process token's privileges.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

struct Luid {
    std::uint32_t lowPart;
    std::int32_t highPart;
};

namespace win {
inline constexpr std::uint32_t kTokenAllAccess = 0xF01FF;
inline constexpr std::uint32_t kSePrivilegeEnabled = 0x2;
inline constexpr std::uint32_t kSePrivilegeRemoved = 0x4;
inline constexpr std::uint32_t kErrorNotAllAssigned = 1300;
}  // namespace win

class Token {
public:
    virtual ~Token() = default;
    // OpenProcessToken on the current process. Release with closeToken.
    virtual bool openProcessToken(std::uint32_t access, Handle* token) = 0;
    // LookupPrivilegeValueW: kErrorNoSuchPrivilege for an unknown name.
    virtual bool lookupPrivilegeValue(const char16_t* system, const char16_t* name, Luid* luid) = 0;
    // AdjustTokenPrivileges with one privilege and no previous state; true also
    // when the token lacks it (last error kErrorNotAllAssigned).
    virtual bool adjustTokenPrivilege(Handle token, const Luid& luid, std::uint32_t attributes) = 0;
    // CloseHandle on a token.
    virtual bool closeToken(Handle token) = 0;
};

}  // namespace hx::platform
