// The printer's wire formats: command frames, query replies, the print
// setting layouts and the firmware download header.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "settingtool/HX352SettingTool.h"
#include "settingtool/transport.h"

namespace hx::settingtool {

using Bytes = std::vector<std::uint8_t>;

// 1F 1B 1A group n data...
[[nodiscard]] Bytes commandFrame(std::uint8_t group, std::initializer_list<std::uint8_t> data);

// Groups and sub-commands of the frames.
namespace command {
inline constexpr std::uint8_t kGroupPrintSetting = 0;
inline constexpr std::uint8_t kGroupSystem = 1;
inline constexpr std::uint8_t kGroupLearn = 2;
inline constexpr std::uint8_t kGroupTest = 3;
inline constexpr std::uint8_t kGroupQuery = 4;
inline constexpr std::uint8_t kGroupPrintSettingQuery = 5;

inline constexpr std::uint8_t kQueryType = 0;
inline constexpr std::uint8_t kQueryStatus = 1;
inline constexpr std::uint8_t kQuerySerialNumber = 2;
inline constexpr std::uint8_t kQueryFirmwareVersion = 3;
inline constexpr std::uint8_t kQueryPrintedLength = 4;
inline constexpr std::uint8_t kQueryBadDots = 3;  // in the test group
}  // namespace command

// A reply's byte 4 counts the bytes after it; 0 or 1 carries no value.
[[nodiscard]] bool replyHasPayload(const ReplyBuffer& reply);

// The little-endian number of a reply: 1, 2 or 4 bytes for N = 2, 3, 5; no
// value (the caller keeps its own) for other N.
[[nodiscard]] std::optional<std::int32_t> replyNumber(const ReplyBuffer& reply);

// The text bytes of a reply: N bytes from offset 6, cut at the first zero and
// at the end of the buffer (an N above 58 would reach past it).
[[nodiscard]] std::span<const std::uint8_t> replyText(const ReplyBuffer& reply);

inline constexpr std::array<std::uint8_t, 4> kConnectionAnswer = {0xFF, 0xFF, 0xFF, 0xF0};

[[nodiscard]] Bytes printSettingFrame(const HXPrintSettingParam& param);
[[nodiscard]] HXPrintSettingParam printSettingFromReply(const ReplyBuffer& reply);

// 1F 75 then the image size, most significant byte first.
inline constexpr std::size_t kFirmwareHeaderSize = 6;
void writeFirmwareHeader(std::uint8_t* header, std::uint32_t imageSize);

}  // namespace hx::settingtool
