// CodePages over the system's code-page conversions.
#include <windows.h>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

class Win32CodePages final : public CodePages {
public:
    int multiByteToWideChar(std::uint32_t codePage, std::uint32_t flags, const char* src, int srcLength, char16_t* dst,
                            int dstLength) override {
        return ::MultiByteToWideChar(codePage, flags, src, srcLength, wide(dst), dstLength);
    }
    // A null default character asks for the code page's own substitute.
    int wideCharToMultiByte(std::uint32_t codePage, std::uint32_t flags, const char16_t* src, int srcLength, char* dst,
                            int dstLength) override {
        return ::WideCharToMultiByte(codePage, flags, wide(src), srcLength, dst, dstLength, nullptr, nullptr);
    }
};

}  // namespace

CodePages& codePages() {
    static Win32CodePages instance;
    return instance;
}

}  // namespace hx::platform::win32
