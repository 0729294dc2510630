// Token over the process token's privilege calls.
#include <windows.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(Luid) == sizeof(LUID));
static_assert(offsetof(Luid, lowPart) == offsetof(LUID, LowPart));
static_assert(offsetof(Luid, highPart) == offsetof(LUID, HighPart));

static_assert(win::kTokenAllAccess == TOKEN_ALL_ACCESS);
static_assert(win::kSePrivilegeEnabled == SE_PRIVILEGE_ENABLED);
static_assert(win::kSePrivilegeRemoved == SE_PRIVILEGE_REMOVED);
static_assert(win::kErrorNotAllAssigned == ERROR_NOT_ALL_ASSIGNED);

class Win32Token final : public Token {
public:
    bool openProcessToken(std::uint32_t access, Handle* token) override {
        HANDLE opened = nullptr;
        const BOOL ok = ::OpenProcessToken(::GetCurrentProcess(), access, token ? &opened : nullptr);
        if (token) *token = ok ? opened : nullptr;
        return ok != FALSE;
    }

    bool lookupPrivilegeValue(const char16_t* system, const char16_t* name, Luid* luid) override {
        return ::LookupPrivilegeValueW(wide(system), wide(name), reinterpret_cast<LUID*>(luid)) != FALSE;
    }

    bool adjustTokenPrivilege(Handle token, const Luid& luid, std::uint32_t attributes) override {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid = *reinterpret_cast<const LUID*>(&luid);
        privileges.Privileges[0].Attributes = attributes;
        return ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) != FALSE;
    }

    bool closeToken(Handle token) override { return ::CloseHandle(token) != FALSE; }
};

}  // namespace

Token& token() {
    static Win32Token instance;
    return instance;
}

}  // namespace hx::platform::win32
