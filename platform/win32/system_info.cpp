// SystemInfo over the kernel's system facts. GetNativeSystemInfo is looked up
// at run time because older systems lack it.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

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
