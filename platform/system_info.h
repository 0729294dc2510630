// Facts about the running system: processor architecture and default language.
#pragma once

#include <cstdint>

#include "platform/libraries.h"

namespace hx::platform {

struct ProcessorInfo {
    std::uint16_t processorArchitecture;
};

// Layout-compatible with OSVERSIONINFOEXW (284 bytes).
struct OsVersionInfoEx {
    std::uint32_t osVersionInfoSize;
    std::uint32_t majorVersion;
    std::uint32_t minorVersion;
    std::uint32_t buildNumber;
    std::uint32_t platformId;
    char16_t csdVersion[128];
    std::uint16_t servicePackMajor;
    std::uint16_t servicePackMinor;
    std::uint16_t suiteMask;
    std::uint8_t productType;
    std::uint8_t reserved;
};

namespace win {
inline constexpr std::uint32_t kVerPlatformWin32Windows = 1;
inline constexpr std::uint32_t kVerPlatformWin32Nt = 2;
inline constexpr std::uint8_t kVerNtWorkstation = 1;
inline constexpr std::uint8_t kVerNtDomainController = 2;
inline constexpr std::uint8_t kVerNtServer = 3;
inline constexpr int kSmServerR2 = 89;
}  // namespace win

class SystemInfo {
public:
    virtual ~SystemInfo() = default;
    // Whether the system offers GetNativeSystemInfo (looked up at run time).
    virtual bool hasNativeSystemInfo() = 0;
    // GetNativeSystemInfo: the machine's own architecture, also under WOW64.
    virtual ProcessorInfo getNativeSystemInfo() = 0;
    // GetSystemInfo: the architecture as the calling process sees it.
    virtual ProcessorInfo getSystemInfo() = 0;
    // GetSystemDefaultLangID.
    virtual std::uint16_t getSystemDefaultLangId() = 0;
    // GetVersionExW: info->osVersionInfoSize must be sizeof(OsVersionInfoEx).
    virtual bool getVersionEx(OsVersionInfoEx* info) = 0;
    // GetSystemMetrics.
    virtual int getSystemMetrics(int index) = 0;
    // RtlGetNtVersionNumbers through the procedure looked up in "ntdll.dll":
    // the true version, whatever the program's compatibility settings.
    virtual void callRtlGetNtVersionNumbers(Procedure procedure, std::uint32_t* major, std::uint32_t* minor,
                                            std::uint32_t* build) = 0;
};

}  // namespace hx::platform
