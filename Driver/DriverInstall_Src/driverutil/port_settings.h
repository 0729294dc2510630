// Settings of the serial or parallel port the user chose: the line settings of
// a COM port and the system's parallel-port transmission retry time-out.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace hx::driverutil {

inline constexpr std::int32_t kPortConfigured = 0;
inline constexpr std::int32_t kPortConfigFailed = -1;

// The line settings a slow serial device gets when 9600 baud is asked for.
[[nodiscard]] platform::Dcb defaultSerialSettings(std::uint32_t baudRate);

// Opens the device, starts from the caller's remembered settings (or the
// device's own, or the defaults), lets the user edit them when `showDialog`,
// applies them and remembers them in `*savedSettings` (a 28-byte block from
// the library's allocator, created on first success). A null `savedSettings`
// neither supplies nor keeps settings.
[[nodiscard]] std::int32_t configCom(platform::Platform& platform, const char16_t* portName, std::int32_t baudRate,
                                     platform::Handle owner, void** savedSettings, bool showDialog);

// Reads the retry time-out and runs the caller's modal dialog from the program's
// own template, handing it an LPTDialogParam. -1 when the key cannot be opened
// for writing; 0 once the dialog has closed.
[[nodiscard]] std::int32_t configLpt(platform::Platform& platform, const char16_t* portName, std::int32_t templateId,
                                     platform::DialogProc dialogProc);

// The leading decimal number of `text` after white space and a sign, as the
// C runtime reads it; 0 without digits, clamped to the 32-bit range.
[[nodiscard]] std::int32_t leadingNumber(std::u16string_view text);

}  // namespace hx::driverutil
