// Shell file operations.
#pragma once

#include <cstdint>

namespace hx::platform {

namespace win {
inline constexpr std::uint32_t kFoCopy = 0x2;
inline constexpr std::uint16_t kFofSilent = 0x4;
inline constexpr std::uint16_t kFofNoConfirmation = 0x10;
inline constexpr std::uint16_t kFofNoConfirmMkdir = 0x200;
inline constexpr std::uint16_t kFofNoErrorUi = 0x400;
}  // namespace win

class Shell {
public:
    virtual ~Shell() = default;
    // SHFileOperationW without owner window or progress title: 0 on success.
    // `from` and `to` are lists ending in a double terminator.
    virtual int fileOperation(std::uint32_t function, const char16_t* from, const char16_t* to,
                              std::uint16_t flags) = 0;
};

}  // namespace hx::platform
