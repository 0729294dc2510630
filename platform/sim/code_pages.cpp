// Code-page conversions of the simulated machine: UTF-8, Windows-1252 and
// US-ASCII, with the Windows length and error rules.
#include <cstring>
#include <optional>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kCpThreadAcp = 3;
constexpr std::uint32_t kCpWindows1252 = 1252;
constexpr std::uint32_t kCpUsAscii = 20127;
constexpr std::uint32_t kMbErrInvalidChars = 0x8;
constexpr std::uint32_t kWcErrInvalidChars = 0x80;
constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;
constexpr char16_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80 to 0x9F; the five bytes the code page leaves
// undefined map to the C1 controls of the same value, as Windows maps them.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct Decoded {
    std::u16string text;
    bool invalid = false;
};

void appendCodePoint(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

// Each maximal ill-formed subsequence becomes one U+FFFD.
Decoded decodeUtf8(const unsigned char* s, std::size_t n) {
    Decoded result;
    std::size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            result.text += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            c = b & 0x0F;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            c = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        }
        if (length == 0) {
            result.text += kReplacement;
            result.invalid = true;
            ++i;
            continue;
        }
        std::size_t j = 1;
        for (; j < length && i + j < n; ++j) {
            unsigned char next = s[i + j];
            if (next < low || next > high) break;
            c = (c << 6) | (next & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        if (j < length) {
            result.text += kReplacement;
            result.invalid = true;
        } else {
            appendCodePoint(result.text, c);
        }
        i += j;
    }
    return result;
}

struct Encoded {
    std::string bytes;
    bool invalid = false;
};

// Lone surrogates become U+FFFD.
Encoded encodeUtf8(const char16_t* s, std::size_t n) {
    Encoded result;
    for (std::size_t i = 0; i < n; ++i) {
        bool high = s[i] >= 0xD800 && s[i] <= 0xDBFF;
        bool low = s[i] >= 0xDC00 && s[i] <= 0xDFFF;
        if (high && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            ++i;
        } else if (high || low) {
            result.invalid = true;
        }
    }
    result.bytes = toUtf8(std::u16string_view(s, n));
    return result;
}

std::optional<std::uint8_t> windows1252Byte(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
    for (int i = 0; i < 32; ++i) {
        if (kWindows1252High[i] == c) return static_cast<std::uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

bool knownCodePage(std::uint32_t codePage) {
    return codePage == kCpUtf8 || codePage == kCpWindows1252 || codePage == kCpUsAscii;
}

// Windows' output rule: size query, fit, or too small.
template <class Unit>
int deliver(Machine::Impl& machine, const std::basic_string<Unit>& out, Unit* dst, int dstLength) {
    if (dstLength == 0) return static_cast<int>(out.size());
    if (out.size() > static_cast<std::size_t>(dstLength)) {
        machine.fail(kErrorInsufficientBuffer);
        return 0;
    }
    std::memcpy(dst, out.data(), out.size() * sizeof(Unit));
    return static_cast<int>(out.size());
}

}  // namespace

int SimCodePages::multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* src, int srcLength,
                                      char16_t* dst, int dstLength) {
    if (codePage == kCpAcp || codePage == kCpThreadAcp) codePage = m_.facts.ansiCodePage;
    if (!src || srcLength == 0 || srcLength < -1 || dstLength < 0 || (dstLength > 0 && !dst) ||
        !knownCodePage(codePage)) {
        m_.fail(kErrorInvalidParameter);
        return 0;
    }
    std::size_t length = srcLength == -1 ? std::strlen(src) + 1 : static_cast<std::size_t>(srcLength);
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    std::u16string out;
    if (codePage == kCpUtf8) {
        auto decoded = decodeUtf8(bytes, length);
        if (decoded.invalid && (flags & kMbErrInvalidChars)) {
            m_.fail(kErrorNoUnicodeTranslation);
            return 0;
        }
        out = std::move(decoded.text);
    } else {
        out.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            unsigned char b = bytes[i];
            if (codePage == kCpWindows1252) {
                out += (b >= 0x80 && b <= 0x9F) ? kWindows1252High[b - 0x80] : static_cast<char16_t>(b);
            } else {
                // US-ASCII has no upper half; those bytes lose their top bit.
                out += static_cast<char16_t>(b & 0x7F);
            }
        }
    }
    return deliver(m_, out, dst, dstLength);
}

int SimCodePages::wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const char16_t* src,
                                      int srcLength, char* dst, int dstLength) {
    if (codePage == kCpAcp || codePage == kCpThreadAcp) codePage = m_.facts.ansiCodePage;
    if (!src || srcLength == 0 || srcLength < -1 || dstLength < 0 || (dstLength > 0 && !dst) ||
        !knownCodePage(codePage)) {
        m_.fail(kErrorInvalidParameter);
        return 0;
    }
    std::size_t length =
        srcLength == -1 ? std::char_traits<char16_t>::length(src) + 1 : static_cast<std::size_t>(srcLength);
    std::string out;
    if (codePage == kCpUtf8) {
        auto encoded = encodeUtf8(src, length);
        if (encoded.invalid && (flags & kWcErrInvalidChars)) {
            m_.fail(kErrorNoUnicodeTranslation);
            return 0;
        }
        out = std::move(encoded.bytes);
    } else {
        out.reserve(length);
        for (std::size_t i = 0; i < length; ++i) {
            char16_t c = src[i];
            std::optional<std::uint8_t> byte;
            if (codePage == kCpWindows1252) {
                byte = windows1252Byte(c);
            } else if (c < 0x80) {
                byte = static_cast<std::uint8_t>(c);
            }
            out += static_cast<char>(byte.value_or('?'));
        }
    }
    return deliver(m_, out, dst, dstLength);
}

}  // namespace hx::sim::detail
