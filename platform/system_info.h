// Facts about the running system: processor architecture and default language.
#pragma once

#include <cstdint>

namespace hx::platform {

struct ProcessorInfo {
    std::uint16_t processorArchitecture;
};

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
};

}  // namespace hx::platform
