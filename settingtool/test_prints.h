// Test prints: the stored self-test label, a caller's text label, and the
// print head's bad-dot count.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settingtool/session.h"

namespace hx::settingtool {

inline constexpr std::size_t kTextTestMaxTextBytes = 1040;  // converted text with its terminator
inline constexpr std::size_t kTextTestMaxJobBytes = 1104;
inline constexpr std::uint32_t kSelfTestPauseMs = 2000;
inline constexpr char16_t kSettingToolModule[] = u"HX-352SettingToolDll.dll";
inline constexpr std::uint16_t kSelfTestResourceId = 108;

// The label job for a text in the ANSI code page (without its terminator);
// nothing when it would exceed kTextTestMaxJobBytes.
[[nodiscard]] std::optional<std::string> buildTextTestJob(std::uint8_t widthMm, std::uint8_t heightMm,
                                                          std::string_view ansiText);

[[nodiscard]] bool selfTestPrint(Session& session);
[[nodiscard]] bool textTestPrint(Session& session, const HXTextTestParam* param);
[[nodiscard]] bool badPointCheck(Session& session, std::int32_t* count);

}  // namespace hx::settingtool
