// The spooler's printer-driver directory for the machine's word size: where the
// printer's users keep their shared lock file.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace hx::settingtool {

// 64 when the machine's native architecture is AMD64 or IA64, else 32.
[[nodiscard]] int getSystemBits(platform::SystemInfo& system);

[[nodiscard]] const char16_t* driverEnvironment(bool is64Bit);

// The directory, or nothing when the spooler cannot say.
[[nodiscard]] std::optional<std::u16string> getPrinterDriverDir(platform::Platform& platform, bool is64Bit);

}  // namespace hx::settingtool
