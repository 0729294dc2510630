// The self-test label job: its command lines and the bands of its test pattern.
#include "settingtool/selftest_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hx::settingtool {
namespace {

constexpr int kDotsPerRow = 800;
constexpr int kRows = 753;

bool prints(const std::vector<std::uint8_t>& bitmap, int row, int dot) {
    const std::uint8_t byte = bitmap.at(static_cast<std::size_t>(row) * kSelfTestBitmapBytesPerRow + dot / 8);
    return (byte & (0x80 >> (dot % 8))) == 0;
}

std::string_view asText(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t length) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()) + offset, length);
}

TEST(SelfTestJob, IsTheCommandLinesAroundTheBitmap) {
    const std::vector<std::uint8_t> job = buildSelfTestJob();
    ASSERT_EQ(job.size(), 75476u);
    ASSERT_EQ(job.size(), kSelfTestJobLength);

    const std::string_view lines[] = {
        "SIZE 100mm,95mm",    "DIRECTION 0,0",  "REFERENCE 0,0",          "OFFSET 0mm",  "DENSITY 8",
        "SET PEEL OFF",       "SET CUTTER OFF", "SET PARTIAL_CUTTER OFF", "SET TEAR ON", "CLS",
    };
    std::size_t at = 0;
    for (const std::string_view line : lines) {
        const std::string expected = std::string(line) + "\r\n";
        ASSERT_EQ(asText(job, at, expected.size()), expected) << "at offset " << at;
        at += expected.size();
    }

    const std::string_view bitmapHeader = "BITMAP 0,0,100,753,1,";
    ASSERT_EQ(asText(job, at, bitmapHeader.size()), bitmapHeader);
    at += bitmapHeader.size();

    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    ASSERT_EQ(bitmap.size(), kSelfTestBitmapBytesPerRow * kSelfTestBitmapRows);
    EXPECT_TRUE(std::equal(bitmap.begin(), bitmap.end(), job.begin() + static_cast<std::ptrdiff_t>(at)));
    at += bitmap.size();

    const std::string_view tail = "\r\nPRINT 1,1\r\n";
    ASSERT_EQ(job.size() - at, tail.size());
    EXPECT_EQ(asText(job, at, tail.size()), tail);
}

TEST(SelfTestBitmap, Is800By753Dots) {
    EXPECT_EQ(kSelfTestBitmapBytesPerRow * 8, static_cast<std::size_t>(kDotsPerRow));
    EXPECT_EQ(kSelfTestBitmapRows, static_cast<std::size_t>(kRows));
    EXPECT_EQ(buildSelfTestBitmap().size(), 75300u);
}

TEST(SelfTestBitmap, MarginsAreBackgroundOnEveryRow) {
    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    for (int row = 0; row < kRows; ++row) {
        for (int dot = 0; dot < 15; ++dot) {
            ASSERT_FALSE(prints(bitmap, row, dot)) << "row " << row << " dot " << dot;
            ASSERT_FALSE(prints(bitmap, row, kDotsPerRow - 1 - dot)) << "row " << row << " dot " << 799 - dot;
        }
    }
}

enum class Fill { Background, Solid, HalfTone };

// Bands whose every dot follows from the row alone; the rows between the bands
// are listed as background bands.
struct UniformBand {
    int firstRow;
    int lastRow;
    Fill fill;
};

TEST(SelfTestBitmap, PlainBandsHoldTheirFillAcrossThePattern) {
    const UniformBand bands[] = {
        {0, 11, Fill::Background},    {12, 73, Fill::Solid},        {74, 114, Fill::Background},
        {115, 175, Fill::HalfTone},   {176, 244, Fill::Background}, {289, 357, Fill::Background},
        {480, 562, Fill::Background}, {563, 625, Fill::HalfTone},   {626, 688, Fill::Background},
        {689, 752, Fill::Solid},
    };
    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    for (const UniformBand& band : bands) {
        for (int row = band.firstRow; row <= band.lastRow; ++row) {
            for (int dot = 15; dot <= 784; ++dot) {
                bool expected = false;
                switch (band.fill) {
                case Fill::Background: expected = false; break;
                case Fill::Solid: expected = true; break;
                case Fill::HalfTone: expected = (row - band.firstRow) % 2 == 0 && (dot - 15) % 2 == 0; break;
                }
                ASSERT_EQ(prints(bitmap, row, dot), expected) << "row " << row << " dot " << dot;
            }
        }
    }
}

struct Sample {
    int row;
    int dot;
    bool prints;
};

TEST(SelfTestBitmap, SampledDots) {
    const Sample samples[] = {
        // Blank top rows and the edges of the solid bar.
        {0, 15, false}, {11, 400, false}, {12, 14, false}, {12, 15, true}, {12, 784, true}, {12, 785, false},
        {73, 400, true}, {74, 400, false},
        // Half-tone: alternate dots on the band's first row, nothing on the next.
        {115, 15, true}, {115, 16, false}, {115, 17, true}, {116, 15, false}, {116, 16, false}, {117, 17, true},
        {175, 783, true}, {175, 784, false}, {176, 15, false},
        // 20-dot squares: a first row of squares from the left edge, the second
        // row shifted by one square, running to the band's last row.
        {244, 15, false}, {245, 15, true}, {245, 34, true}, {245, 35, false}, {245, 54, false}, {245, 55, true},
        {264, 34, true}, {265, 15, false}, {265, 35, true}, {288, 15, false}, {288, 35, true}, {245, 784, true},
        {289, 35, false},
        // 40-dot squares, two solid rows of them.
        {357, 15, false}, {358, 15, true}, {358, 54, true}, {358, 55, false}, {358, 95, true}, {397, 15, true},
        {398, 15, false}, {398, 55, true}, {437, 55, true}, {437, 15, false},
        // Then the squares of the first row's places filled with half-tone.
        {438, 15, true}, {438, 16, false}, {438, 17, true}, {438, 55, false}, {438, 95, true}, {439, 15, false},
        {440, 53, true}, {478, 15, true}, {479, 15, false}, {480, 15, false},
        // Second half-tone band and the closing bar.
        {562, 15, false}, {563, 15, true}, {563, 16, false}, {564, 15, false}, {625, 15, true}, {626, 15, false},
        {688, 400, false}, {689, 15, true}, {752, 784, true}, {752, 785, false},
    };
    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    for (const Sample& sample : samples) {
        EXPECT_EQ(prints(bitmap, sample.row, sample.dot), sample.prints)
            << "row " << sample.row << " dot " << sample.dot;
    }
}

// Every row of a squares band is a run of squares `size` dots wide alternating
// with background, in one of the two phases.
TEST(SelfTestBitmap, SquareRowsAlternateEverySquareWidth) {
    const struct {
        int firstRow;
        int lastRow;
        int size;
    } bands[] = {{245, 288, 20}, {358, 437, 40}};
    const std::vector<std::uint8_t> bitmap = buildSelfTestBitmap();
    for (const auto& band : bands) {
        for (int row = band.firstRow; row <= band.lastRow; ++row) {
            const bool firstSquarePrints = prints(bitmap, row, 15);
            for (int dot = 15; dot <= 784; ++dot) {
                const bool evenSquare = (dot - 15) / band.size % 2 == 0;
                ASSERT_EQ(prints(bitmap, row, dot), evenSquare == firstSquarePrints)
                    << "row " << row << " dot " << dot;
            }
        }
    }
}

}  // namespace
}  // namespace hx::settingtool
