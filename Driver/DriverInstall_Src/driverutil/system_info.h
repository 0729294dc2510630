// What the library tells about the running system: a display name of the
// operating system, the machine's word size, the spooler's environment names
// and whether the system speaks Simplified Chinese.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace hx::driverutil {

// The longest name the table gives, with its terminator.
inline constexpr std::size_t kOsNameUnits = 46;

// Writes the system's name into `name` (at least kOsNameUnits units) when the
// table has one for it. False when `name` is null or the version query fails;
// nothing is written then.
[[nodiscard]] bool getOsName(platform::Platform& platform, char16_t* name);

// 64 when the machine's own processor is AMD64 or IA64, else 32.
[[nodiscard]] int getSystemBits(platform::SystemInfo& system);

// "Windows x64" or "Windows NT x86": the spooler's names of the two driver
// environments.
[[nodiscard]] const char16_t* getEnvironment(bool is64Bit);

[[nodiscard]] bool isChineseOs(platform::SystemInfo& system);

}  // namespace hx::driverutil
