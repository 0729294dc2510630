// Finding the printer's OEM INF copy in the system's INF folder, and the
// chunked stream read exported for callers that read INF files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "platform/platform.h"

namespace hx::driverutil {

// The system directory cut before its second backslash, then "\inf"; empty
// when the system directory holds no backslash.
[[nodiscard]] std::u16string getInfDirectory(platform::Platform& platform);

// The first oem*.inf, in the order the directory search delivers them, that
// names the hardware ID.
[[nodiscard]] std::optional<std::u16string> findOemInf(platform::Platform& platform);

[[nodiscard]] bool infNamesHardwareId(platform::Platform& platform, const std::u16string& path);

// Whether a file's bytes hold the hardware ID as ANSI text or as UTF-16 text
// (little-endian, or big-endian behind its byte-order mark).
[[nodiscard]] bool contentNamesHardwareId(std::span<const std::uint8_t> content);

// Reads `count` bytes in items of 8192 and a remainder; 1 when the stream's
// end-of-file indicator is set afterwards.
std::int32_t myFileRead(void* buffer, std::int32_t count, std::FILE* stream);

}  // namespace hx::driverutil
