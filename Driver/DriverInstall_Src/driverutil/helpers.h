// Small general functions of the library: registry strings, a token privilege,
// shell copies, files and streams, quoting, text conversion, installed
// printers, the model name and the spooler's driver directory.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

namespace hx::driverutil {

// UTF-16 text as the exported interface spells it (uint16_t) and as the logic does.
inline const char16_t* utf16(const std::uint16_t* text) { return reinterpret_cast<const char16_t*>(text); }
inline char16_t* utf16(std::uint16_t* text) { return reinterpret_cast<char16_t*>(text); }
inline std::uint16_t* exported(char16_t* text) { return reinterpret_cast<std::uint16_t*>(text); }

// Registry strings under HKEY_LOCAL_MACHINE; the key is opened for reading and
// writing and never created. True when the key opened.
[[nodiscard]] bool getRegStr(platform::Platform& platform, const char16_t* subKey, const char16_t* valueName,
                             char16_t* value);
[[nodiscard]] bool setRegStr(platform::Platform& platform, const char16_t* subKey, const char16_t* valueName,
                             const char16_t* value);

// Enables the privilege on the token, or removes it from the token for good.
// True when the adjustment call succeeded.
[[nodiscard]] bool setPrivilege(platform::Platform& platform, platform::Handle token, const char16_t* privilege,
                                bool enable);

// A silent shell copy of the double-terminated list `from` to `to`.
[[nodiscard]] bool copyDirFiles(platform::Platform& platform, const char16_t* to, const char16_t* from);

[[nodiscard]] bool fileIsExist(platform::Platform& platform, const char16_t* path);

// The stream's length in bytes with the stream back at its start, or -1.
[[nodiscard]] std::int64_t getFileLen(std::FILE* stream);

// The text between quotation marks: in `destination`, or in place.
char16_t* addDoubleQuotations3Str(char16_t* destination, const char16_t* text);
char16_t* addDoubleQuotations2Str(char16_t* text);

// All local and connected printers' level-2 records in one block from the
// library's allocator; false (with neither set) when there are none.
[[nodiscard]] bool enumLocalPrinters(platform::Platform& platform, void*& block, std::uint32_t& count);

// Printers of the driver whose names begin with the prefix; -1 when no
// printers can be listed or an argument is missing.
[[nodiscard]] std::int32_t getSpecifiedPrinterCount(platform::Platform& platform, const char16_t* driverName,
                                                    const char16_t* prefix);

// UTF-8 into the system's ANSI code page, in a block from the library's allocator.
[[nodiscard]] char* utf8ToString(platform::Platform& platform, const char* utf8);

// Whether the text is the printer's model name, "HX-352", in any case.
[[nodiscard]] bool isMatch(const char16_t* text);

// The spooler's printer-driver directory of the environment, in a block from
// the library's allocator; null when the spooler cannot say.
[[nodiscard]] char16_t* getPrinterDriverDir(platform::Platform& platform, bool is64Bit);

}  // namespace hx::driverutil
