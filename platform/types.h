// Portable spellings of the Windows values that the logic passes through the
// platform seam; the numbers are Windows' own so the Win32 layer forwards them.
#pragma once

#include <cstdint>

namespace hx::platform {

using Handle = void*;
inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

// Layout-compatible with the Windows GUID.
struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
    friend bool operator==(const Guid&, const Guid&) = default;
};

namespace win {
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorHandleEof = 38;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorIoIncomplete = 996;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorInvalidFlags = 1004;
inline constexpr std::uint32_t kErrorFileTooLarge = 223;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorCancelled = 1223;
inline constexpr std::uint32_t kErrorNoSuchPrivilege = 1313;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;

inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1;
inline constexpr std::uint32_t kFileShareWrite = 0x2;
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;
inline constexpr std::uint32_t kFileFlagSequentialScan = 0x08000000u;

inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

inline constexpr std::uint32_t kDigcfPresent = 0x2;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

inline constexpr std::uint16_t kProcessorArchitectureIntel = 0;
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;

inline constexpr std::uint32_t kCpAcp = 0;
inline constexpr std::uint32_t kCpUtf8 = 65001;

inline constexpr std::uint16_t kLangChineseSimplified = 0x0804;
inline constexpr std::uint16_t kLangEnglishUs = 0x0409;
}  // namespace win

}  // namespace hx::platform
