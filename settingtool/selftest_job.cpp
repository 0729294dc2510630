// Draws the self-test pattern and wraps it in its label job.
#include "settingtool/selftest_job.h"

#include <algorithm>
#include <string_view>

namespace hx::settingtool {
namespace {

// The pattern leaves 15 dots of background at either end of every row.
constexpr int kFirstDot = 15;
constexpr int kLastDot = 784;

// Predicates take the row and dot relative to the band's top-left corner and
// say whether that dot prints.
using DotPredicate = bool (*)(int row, int dot);

bool solid(int, int) {
    return true;
}

// Every second dot on every second row, starting with the band's first row.
bool halfTone(int row, int dot) {
    return row % 2 == 0 && dot % 2 == 0;
}

// A checkerboard of `size`-dot squares; the last row of squares runs on to the
// band's end so the band holds no sliver of a row.
bool checker(int row, int dot, int size, int squareRows) {
    return (std::min(row / size, squareRows - 1) + dot / size) % 2 == 0;
}

bool squares20(int row, int dot) {
    return checker(row, dot, 20, 2);
}

// Two rows of solid 40-dot squares, then a row of the same squares in half-tone.
bool squares40ThenHalfTone(int row, int dot) {
    return checker(row, dot, 40, 3) && (row < 80 || halfTone(row, dot));
}

struct Band {
    int firstRow;
    int lastRow;
    DotPredicate prints;
};

// Top to bottom; rows in no band (the first twelve among them) stay background.
constexpr Band kBands[] = {
    {12, 73, solid},
    {115, 175, halfTone},
    {245, 288, squares20},
    {358, 479, squares40ThenHalfTone},
    {563, 625, halfTone},
    {689, 752, solid},
};

constexpr std::string_view kJobHead =
    "SIZE 100mm,95mm\r\n"
    "DIRECTION 0,0\r\n"
    "REFERENCE 0,0\r\n"
    "OFFSET 0mm\r\n"
    "DENSITY 8\r\n"
    "SET PEEL OFF\r\n"
    "SET CUTTER OFF\r\n"
    "SET PARTIAL_CUTTER OFF\r\n"
    "SET TEAR ON\r\n"
    "CLS\r\n"
    "BITMAP 0,0,100,753,1,";
constexpr std::string_view kJobTail =
    "\r\n"
    "PRINT 1,1\r\n";

constexpr std::size_t kBitmapBytes = kSelfTestBitmapBytesPerRow * kSelfTestBitmapRows;
static_assert(kJobHead.size() + kBitmapBytes + kJobTail.size() == kSelfTestJobLength);

}  // namespace

std::vector<std::uint8_t> buildSelfTestBitmap() {
    std::vector<std::uint8_t> bitmap(kBitmapBytes, 0xFF);
    for (const Band& band : kBands) {
        for (int row = band.firstRow; row <= band.lastRow; ++row) {
            std::uint8_t* line = bitmap.data() + static_cast<std::size_t>(row) * kSelfTestBitmapBytesPerRow;
            for (int dot = kFirstDot; dot <= kLastDot; ++dot) {
                if (band.prints(row - band.firstRow, dot - kFirstDot)) {
                    line[dot / 8] &= static_cast<std::uint8_t>(~(0x80u >> (dot % 8)));
                }
            }
        }
    }
    return bitmap;
}

std::vector<std::uint8_t> buildSelfTestJob() {
    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    std::vector<std::uint8_t> job;
    job.reserve(kSelfTestJobLength);
    job.insert(job.end(), kJobHead.begin(), kJobHead.end());
    job.insert(job.end(), bitmap.begin(), bitmap.end());
    job.insert(job.end(), kJobTail.begin(), kJobTail.end());
    return job;
}

}  // namespace hx::settingtool
