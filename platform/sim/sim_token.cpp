// The process token of the simulated machine: the privileges of an elevated
// administrator, which can be enabled, disabled, or removed for good. The
// token belongs to the process, so it is not part of a saved machine.
#include <algorithm>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kTokenAdjustPrivileges = 0x20;
constexpr std::uint32_t kRpcServerUnavailable = 1722;

struct KnownPrivilege {
    std::u16string_view name;
    std::uint32_t luid;  // Windows' own numbering
    bool held;           // by an elevated administrator's token
    bool enabledAtStart;
};
constexpr KnownPrivilege kPrivileges[] = {
    {u"SeCreateTokenPrivilege", 2, false, false},
    {u"SeAssignPrimaryTokenPrivilege", 3, false, false},
    {u"SeLockMemoryPrivilege", 4, false, false},
    {u"SeIncreaseQuotaPrivilege", 5, true, false},
    {u"SeMachineAccountPrivilege", 6, false, false},
    {u"SeTcbPrivilege", 7, false, false},
    {u"SeSecurityPrivilege", 8, true, false},
    {u"SeTakeOwnershipPrivilege", 9, true, false},
    {u"SeLoadDriverPrivilege", 10, true, false},
    {u"SeSystemProfilePrivilege", 11, true, false},
    {u"SeSystemtimePrivilege", 12, true, false},
    {u"SeProfileSingleProcessPrivilege", 13, true, false},
    {u"SeIncreaseBasePriorityPrivilege", 14, true, false},
    {u"SeCreatePagefilePrivilege", 15, true, false},
    {u"SeCreatePermanentPrivilege", 16, false, false},
    {u"SeBackupPrivilege", 17, true, false},
    {u"SeRestorePrivilege", 18, true, false},
    {u"SeShutdownPrivilege", 19, true, false},
    {u"SeDebugPrivilege", 20, true, false},
    {u"SeAuditPrivilege", 21, false, false},
    {u"SeSystemEnvironmentPrivilege", 22, true, false},
    {u"SeChangeNotifyPrivilege", 23, true, true},
    {u"SeRemoteShutdownPrivilege", 24, true, false},
    {u"SeUndockPrivilege", 25, true, false},
    {u"SeSyncAgentPrivilege", 26, false, false},
    {u"SeEnableDelegationPrivilege", 27, false, false},
    {u"SeManageVolumePrivilege", 28, true, false},
    {u"SeImpersonatePrivilege", 29, true, true},
    {u"SeCreateGlobalPrivilege", 30, true, true},
    {u"SeTrustedCredManAccessPrivilege", 31, false, false},
    {u"SeRelabelPrivilege", 32, false, false},
    {u"SeIncreaseWorkingSetPrivilege", 33, true, false},
    {u"SeTimeZonePrivilege", 34, true, false},
    {u"SeCreateSymbolicLinkPrivilege", 35, true, false},
};

std::string describe(const char16_t* text) { return text ? toUtf8(text) : std::string("(null)"); }

}  // namespace

std::vector<TokenPrivilege> freshProcessToken() {
    std::vector<TokenPrivilege> privileges;
    for (const auto& known : kPrivileges) {
        privileges.push_back({known.name, known.luid, known.held, known.enabledAtStart, false});
    }
    return privileges;
}

bool SimToken::openProcessToken(std::uint32_t access, platform::Handle* token) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("OpenProcessToken -> " + std::to_string(error));
        return false;
    };
    if (!token) return failWith(kErrorInvalidParameter);
    *token = nullptr;
    if (auto fault = m_.injectedFault("OpenProcessToken")) return failWith(*fault);
    auto handle = m_.newHandle();
    m_.tokenHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), OpenToken{access});
    *token = handle;
    m_.log("OpenProcessToken");
    return true;
}

bool SimToken::lookupPrivilegeValue(const char16_t* system, const char16_t* name, platform::Luid* luid) {
    auto line = "LookupPrivilegeValueW " + describe(name);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("LookupPrivilegeValueW")) return failWith(*fault);
    if (!name || !luid) return failWith(kErrorInvalidParameter);
    if (system && *system) return failWith(kRpcServerUnavailable);
    auto it = std::find_if(m_.tokenPrivileges.begin(), m_.tokenPrivileges.end(),
                           [&](const TokenPrivilege& privilege) { return equalsIgnoreCase(privilege.name, name); });
    if (it == m_.tokenPrivileges.end()) return failWith(kErrorNoSuchPrivilege);
    *luid = {it->luid, 0};
    m_.log(line);
    return true;
}

bool SimToken::adjustTokenPrivilege(platform::Handle token, const platform::Luid& luid, std::uint32_t attributes) {
    auto line = "AdjustTokenPrivileges " + std::to_string(luid.lowPart) + " " + std::to_string(attributes);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    // The call succeeds also when it could not assign everything; the last
    // error tells which.
    auto succeed = [&](std::uint32_t error) {
        m_.lastError = error;
        m_.log(error ? line + " -> " + std::to_string(error) : line);
        return true;
    };
    if (auto fault = m_.injectedFault("AdjustTokenPrivileges")) return failWith(*fault);
    auto open = m_.tokenHandles.find(reinterpret_cast<std::uintptr_t>(token));
    if (open == m_.tokenHandles.end()) return failWith(kErrorInvalidHandle);
    if (!(open->second.access & kTokenAdjustPrivileges)) return failWith(kErrorAccessDenied);
    auto it = std::find_if(m_.tokenPrivileges.begin(), m_.tokenPrivileges.end(), [&](const TokenPrivilege& privilege) {
        return luid.highPart == 0 && privilege.luid == luid.lowPart;
    });
    if (it == m_.tokenPrivileges.end() || !it->held || it->removed) return succeed(kErrorNotAllAssigned);
    if (attributes & kSePrivilegeRemoved) {
        it->removed = true;
        it->enabled = false;
    } else {
        it->enabled = (attributes & kSePrivilegeEnabled) != 0;
    }
    return succeed(0);
}

bool SimToken::closeToken(platform::Handle token) {
    if (m_.tokenHandles.erase(reinterpret_cast<std::uintptr_t>(token)) == 0) {
        m_.fail(kErrorInvalidHandle);
        m_.log("CloseHandle -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    m_.log("CloseHandle");
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

bool Machine::privilegeEnabled(const std::u16string& name) const {
    for (const auto& privilege : impl_->tokenPrivileges) {
        if (detail::equalsIgnoreCase(privilege.name, name))
            return privilege.held && !privilege.removed && privilege.enabled;
    }
    return false;
}

}  // namespace hx::sim
