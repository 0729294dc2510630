// SystemInfo over the kernel's system facts. GetNativeSystemInfo is looked up
// at run time because older systems lack it.
#include <windows.h>

#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
// ntdll's undocumented export: the version the kernel really is, whatever the
// program's compatibility settings make GetVersionExW report.
using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD* major, DWORD* minor, DWORD* build);

static_assert(sizeof(OsVersionInfoEx) == sizeof(OSVERSIONINFOEXW));
static_assert(sizeof(OsVersionInfoEx) == 284);
static_assert(offsetof(OsVersionInfoEx, osVersionInfoSize) == offsetof(OSVERSIONINFOEXW, dwOSVersionInfoSize));
static_assert(offsetof(OsVersionInfoEx, majorVersion) == offsetof(OSVERSIONINFOEXW, dwMajorVersion));
static_assert(offsetof(OsVersionInfoEx, minorVersion) == offsetof(OSVERSIONINFOEXW, dwMinorVersion));
static_assert(offsetof(OsVersionInfoEx, buildNumber) == offsetof(OSVERSIONINFOEXW, dwBuildNumber));
static_assert(offsetof(OsVersionInfoEx, platformId) == offsetof(OSVERSIONINFOEXW, dwPlatformId));
static_assert(offsetof(OsVersionInfoEx, csdVersion) == offsetof(OSVERSIONINFOEXW, szCSDVersion));
static_assert(offsetof(OsVersionInfoEx, servicePackMajor) == offsetof(OSVERSIONINFOEXW, wServicePackMajor));
static_assert(offsetof(OsVersionInfoEx, servicePackMinor) == offsetof(OSVERSIONINFOEXW, wServicePackMinor));
static_assert(offsetof(OsVersionInfoEx, suiteMask) == offsetof(OSVERSIONINFOEXW, wSuiteMask));
static_assert(offsetof(OsVersionInfoEx, productType) == offsetof(OSVERSIONINFOEXW, wProductType));
static_assert(offsetof(OsVersionInfoEx, reserved) == offsetof(OSVERSIONINFOEXW, wReserved));

static_assert(win::kVerPlatformWin32Windows == VER_PLATFORM_WIN32_WINDOWS);
static_assert(win::kVerPlatformWin32Nt == VER_PLATFORM_WIN32_NT);
static_assert(win::kVerNtWorkstation == VER_NT_WORKSTATION && win::kVerNtServer == VER_NT_SERVER);
static_assert(win::kVerNtDomainController == VER_NT_DOMAIN_CONTROLLER);
static_assert(win::kSmServerR2 == SM_SERVERR2);

GetNativeSystemInfoFn findGetNativeSystemInfo() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return nullptr;
    // Through the generic function pointer type, which converts to any other
    // without a cast-function-type complaint.
    return reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "GetNativeSystemInfo")));
}

class Win32SystemInfo final : public SystemInfo {
public:
    bool hasNativeSystemInfo() override { return nativeSystemInfo() != nullptr; }

    // Falls back to GetSystemInfo where the call is missing, which on such a
    // system tells the same.
    ProcessorInfo getNativeSystemInfo() override {
        const GetNativeSystemInfoFn native = nativeSystemInfo();
        if (!native) return getSystemInfo();
        SYSTEM_INFO info{};
        native(&info);
        return ProcessorInfo{info.wProcessorArchitecture};
    }

    ProcessorInfo getSystemInfo() override {
        SYSTEM_INFO info{};
        ::GetSystemInfo(&info);
        return ProcessorInfo{info.wProcessorArchitecture};
    }

    std::uint16_t getSystemDefaultLangId() override { return ::GetSystemDefaultLangID(); }

    // The extended record goes through the basic record's declaration; the
    // size field tells Windows which one it is.
    bool getVersionEx(OsVersionInfoEx* info) override {
        return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(info)) != FALSE;
    }

    int getSystemMetrics(int index) override { return ::GetSystemMetrics(index); }

    void callRtlGetNtVersionNumbers(Procedure procedure, std::uint32_t* major, std::uint32_t* minor,
                                    std::uint32_t* build) override {
        DWORD majorVersion = 0;
        DWORD minorVersion = 0;
        DWORD buildNumber = 0;
        procedureAs<RtlGetNtVersionNumbersFn>(procedure)(&majorVersion, &minorVersion, &buildNumber);
        if (major) *major = majorVersion;
        if (minor) *minor = minorVersion;
        if (build) *build = buildNumber;
    }

private:
    static GetNativeSystemInfoFn nativeSystemInfo() {
        static const GetNativeSystemInfoFn found = findGetNativeSystemInfo();
        return found;
    }
};

}  // namespace

SystemInfo& systemInfo() {
    static Win32SystemInfo instance;
    return instance;
}

}  // namespace hx::platform::win32
