// Conversions between UTF-16 and the system's multi-byte code pages.
#pragma once

#include <cstdint>

namespace hx::platform {

class CodePages {
public:
    virtual ~CodePages() = default;
    // MultiByteToWideChar: srcLength -1 means up to and including the terminator;
    // dstLength 0 asks for the size. Returns units written (or needed), 0 on failure.
    virtual int multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* src, int srcLength,
                                    char16_t* dst, int dstLength) = 0;
    // WideCharToMultiByte with default substitution for unmappable characters;
    // same length rules.
    virtual int wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const char16_t* src,
                                    int srcLength, char* dst, int dstLength) = 0;
};

}  // namespace hx::platform
