// The self-test label job: a fixed test pattern in the printer's label command
// language, built into the library when it is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hx::settingtool {

inline constexpr std::size_t kSelfTestBitmapBytesPerRow = 100, kSelfTestBitmapRows = 753, kSelfTestJobLength = 75476;

// 800 x 753 dots, rows top to bottom, the most significant bit of a byte the
// leftmost dot; 0 bits print, 1 bits are background.
[[nodiscard]] std::vector<std::uint8_t> buildSelfTestBitmap();

// The whole job, each line ended by CR LF, the bitmap bytes inline in the
// BITMAP line; exactly kSelfTestJobLength bytes.
[[nodiscard]] std::vector<std::uint8_t> buildSelfTestJob();

}  // namespace hx::settingtool
