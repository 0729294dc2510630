// The printer-driver directory, asked of the spooler size-first.
#include "settingtool/driver_directory.h"

#include "platform/unique_handle.h"

namespace hx::settingtool {

using namespace hx::platform::win;

int getSystemBits(platform::SystemInfo& system) {
    const auto info = system.hasNativeSystemInfo() ? system.getNativeSystemInfo() : system.getSystemInfo();
    const bool is64 = info.processorArchitecture == kProcessorArchitectureAmd64 ||
                      info.processorArchitecture == kProcessorArchitectureIa64;
    return is64 ? 64 : 32;
}

const char16_t* driverEnvironment(bool is64Bit) { return is64Bit ? u"Windows x64" : u"Windows NT x86"; }

std::optional<std::u16string> getPrinterDriverDir(platform::Platform& platform, bool is64Bit) {
    const char16_t* environment = driverEnvironment(is64Bit);
    std::uint32_t needed = 0;
    (void)platform.spooler.getPrinterDriverDirectory(nullptr, environment, 1, nullptr, 0, &needed);
    if (needed == 0) return std::nullopt;

    platform::UniqueHeapBlock block(platform.memory, platform.memory.allocate(needed + sizeof(char16_t), true));
    if (!block) return std::nullopt;
    auto* bytes = static_cast<std::uint8_t*>(block.get());
    if (!platform.spooler.getPrinterDriverDirectory(nullptr, environment, 1, bytes, needed, &needed)) {
        return std::nullopt;
    }
    // The extra zeroed unit guarantees a terminator even if the spooler wrote none.
    return std::u16string(reinterpret_cast<const char16_t*>(bytes));
}

}  // namespace hx::settingtool
