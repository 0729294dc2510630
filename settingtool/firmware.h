// Firmware download: the whole image in one message behind a size header.
#pragma once

#include <cstdint>

#include "settingtool/session.h"

namespace hx::settingtool {

// The largest image whose message, header included, still has a 32-bit length
// for the one write that sends it.
inline constexpr std::uint64_t kMaxFirmwareImageBytes = 0xFFFFFFFFull - 6;

[[nodiscard]] bool downloadFirmware(Session& session, const char16_t* path);

}  // namespace hx::settingtool
