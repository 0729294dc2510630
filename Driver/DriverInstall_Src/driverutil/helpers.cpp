// The library's general helpers over the registry, token, shell, files,
// streams, code pages and spooler.
#include "Driver/DriverInstall_Src/driverutil/helpers.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "Driver/DriverInstall_Src/driverutil/allocator.h"
#include "Driver/DriverInstall_Src/driverutil/names.h"
#include "Driver/DriverInstall_Src/driverutil/system_info.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

constexpr std::size_t kRegStrUnits = 260;
constexpr std::uint32_t kRegStrCapacity = kRegStrUnits * sizeof(char16_t);
constexpr std::uint16_t kSilentCopyFlags = kFofSilent | kFofNoConfirmation | kFofNoConfirmMkdir | kFofNoErrorUi;

// The C runtime's 64-bit stream positions; these streams belong to the
// library's own runtime, not to a Windows service.
inline int seekStream(std::FILE* stream, std::int64_t offset, int origin) {
#if defined(_WIN32)
    return _fseeki64(stream, offset, origin);
#else
    return fseeko(stream, static_cast<off_t>(offset), origin);
#endif
}

inline std::int64_t tellStream(std::FILE* stream) {
#if defined(_WIN32)
    return _ftelli64(stream);
#else
    return ftello(stream);
#endif
}

platform::UniqueRegistryKey openLocalMachineKey(platform::Platform& platform, const char16_t* subKey) {
    platform::Handle opened = nullptr;
    if (platform.registry.regOpenKeyEx(platform::kHkeyLocalMachine, subKey, 0, kKeyReadWrite, &opened) !=
        kErrorSuccess) {
        return {};
    }
    return platform::UniqueRegistryKey(platform.registry, opened);
}

char16_t foldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

}  // namespace

bool getRegStr(platform::Platform& platform, const char16_t* subKey, const char16_t* valueName, char16_t* value) {
    if (subKey == nullptr) return false;
    const auto key = openLocalMachineKey(platform, subKey);
    if (!key) return false;

    // Read aside first: the caller's buffer only receives a value that fits it
    // with its terminator, and otherwise keeps what it held.
    std::array<char16_t, kRegStrUnits> read{};
    std::uint32_t type = 0;
    std::uint32_t size = kRegStrCapacity;
    if (platform.registry.regQueryValueEx(key.get(), valueName, &type, reinterpret_cast<std::uint8_t*>(read.data()),
                                          &size) != kErrorSuccess ||
        value == nullptr) {
        return true;
    }
    if (size == 0) {
        if (type == kRegSz || type == kRegExpandSz) value[0] = u'\0';
        return true;
    }
    const std::size_t units = (size + 1) / sizeof(char16_t);
    const bool terminated = read[units - 1] == u'\0';
    if ((terminated ? units : units + 1) > kRegStrUnits) return true;
    std::copy_n(read.begin(), units, value);
    if (!terminated) value[units] = u'\0';
    return true;
}

bool setRegStr(platform::Platform& platform, const char16_t* subKey, const char16_t* valueName, const char16_t* value) {
    if (subKey == nullptr) return false;
    const auto key = openLocalMachineKey(platform, subKey);
    if (!key) return false;
    if (value != nullptr) {
        const auto bytes =
            static_cast<std::uint32_t>((std::char_traits<char16_t>::length(value) + 1) * sizeof(char16_t));
        // Whether the write took is not reported: only an unopenable key is.
        (void)platform.registry.regSetValueEx(key.get(), valueName, kRegSz,
                                              reinterpret_cast<const std::uint8_t*>(value), bytes);
    }
    return true;
}

bool setPrivilege(platform::Platform& platform, platform::Handle token, const char16_t* privilege, bool enable) {
    if (privilege == nullptr) return false;
    platform::Luid luid{};
    if (!platform.token.lookupPrivilegeValue(nullptr, privilege, &luid)) return false;
    // Switching off removes the privilege from the token for good rather than
    // disabling it, so nothing run later with this token can turn it back on.
    return platform.token.adjustTokenPrivilege(token, luid, enable ? kSePrivilegeEnabled : kSePrivilegeRemoved);
}

bool copyDirFiles(platform::Platform& platform, const char16_t* to, const char16_t* from) {
    if (to == nullptr || from == nullptr) return false;
    return platform.shell.fileOperation(kFoCopy, from, to, kSilentCopyFlags) == 0;
}

bool fileIsExist(platform::Platform& platform, const char16_t* path) {
    return path != nullptr && platform.files.pathFileExists(path);
}

std::int64_t getFileLen(std::FILE* stream) {
    if (stream == nullptr) return -1;
    std::int64_t length = -1;
    if (seekStream(stream, 0, SEEK_END) == 0) {
        length = tellStream(stream);
        if (length != -1) (void)seekStream(stream, 0, SEEK_SET);
    }
    return length;
}

char16_t* addDoubleQuotations3Str(char16_t* destination, const char16_t* text) {
    if (destination == nullptr || text == nullptr) return nullptr;
    const std::u16string_view body(text);
    char16_t* end = std::copy(body.begin(), body.end(), destination + 1);
    destination[0] = u'"';
    end[0] = u'"';
    end[1] = u'\0';
    return destination;
}

char16_t* addDoubleQuotations2Str(char16_t* text) {
    if (text == nullptr) return nullptr;
    // Shifted within the caller's buffer, so a string of any length is quoted
    // as long as the buffer holds it with its two marks and terminator.
    const std::size_t length = std::char_traits<char16_t>::length(text);
    std::copy_backward(text, text + length, text + length + 1);
    text[0] = u'"';
    text[length + 1] = u'"';
    text[length + 2] = u'\0';
    return text;
}

bool enumLocalPrinters(platform::Platform& platform, void*& block, std::uint32_t& count) {
    constexpr std::uint32_t kFlags = kPrinterEnumLocal | kPrinterEnumConnections;
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    (void)platform.spooler.enumPrinters(kFlags, u"", 2, nullptr, 0, &needed, &returned);
    if (needed == 0) return false;
    OwnedBlock records = allocateOwned(platform.memory, needed, false);
    if (!records) return false;
    returned = 0;
    (void)platform.spooler.enumPrinters(kFlags, u"", 2, bytesOf(records), needed, &needed, &returned);
    count = returned;
    block = records.release();
    return true;
}

std::int32_t getSpecifiedPrinterCount(platform::Platform& platform, const char16_t* driverName,
                                      const char16_t* prefix) {
    if (prefix == nullptr) return -1;
    if (prefix[0] == u'\0') return 0;
    if (driverName == nullptr) return -1;

    void* block = nullptr;
    std::uint32_t count = 0;
    if (!enumLocalPrinters(platform, block, count)) return -1;
    // The enumeration is this call's own: it goes back before the answer does.
    const OwnedBlock records(platform.memory, block);
    if (driverName[0] == u'\0') return 0;

    const std::u16string_view wantedPrefix(prefix);
    const std::u16string_view wantedDriver(driverName);
    const auto* printers = static_cast<const platform::PrinterInfo2*>(records.get());
    std::int32_t matches = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const platform::PrinterInfo2& printer = printers[i];
        if (printer.printerName == nullptr || printer.driverName == nullptr) continue;
        if (std::u16string_view(printer.printerName).starts_with(wantedPrefix) &&
            std::u16string_view(printer.driverName) == wantedDriver) {
            ++matches;
        }
    }
    return matches;
}

char* utf8ToString(platform::Platform& platform, const char* utf8) {
    if (utf8 == nullptr) return nullptr;
    platform::CodePages& codePages = platform.codePages;

    const int wideUnits = codePages.multiByteToWideChar(kCpUtf8, 0, utf8, -1, nullptr, 0);
    OwnedBlock wide = allocateOwned(platform.memory, (static_cast<std::size_t>(wideUnits) + 1) * sizeof(char16_t), true);
    if (!wide) return nullptr;
    auto* wideText = static_cast<char16_t*>(wide.get());
    const int utf8Bytes = static_cast<int>(std::strlen(utf8));
    // The zero-filled block supplies the terminator that is not converted.
    if (utf8Bytes > 0) (void)codePages.multiByteToWideChar(kCpUtf8, 0, utf8, utf8Bytes, wideText, wideUnits + 1);

    const int ansiBytes = codePages.wideCharToMultiByte(kCpAcp, 0, wideText, -1, nullptr, 0);
    OwnedBlock ansi = allocateOwned(platform.memory, static_cast<std::size_t>(ansiBytes) + 1, true);
    if (!ansi) return nullptr;
    (void)codePages.wideCharToMultiByte(kCpAcp, 0, wideText, -1, static_cast<char*>(ansi.get()), ansiBytes + 1);
    return static_cast<char*>(ansi.release());
}

bool isMatch(const char16_t* text) {
    if (text == nullptr) return false;
    const std::u16string_view candidate(text);
    const std::u16string_view model(kModelName);
    return candidate.size() == model.size() &&
           std::equal(model.begin(), model.end(), candidate.begin(),
                      [](char16_t a, char16_t b) { return foldAscii(a) == foldAscii(b); });
}

char16_t* getPrinterDriverDir(platform::Platform& platform, bool is64Bit) {
    const char16_t* environment = getEnvironment(is64Bit);
    std::uint32_t needed = 0;
    (void)platform.spooler.getPrinterDriverDirectory(nullptr, environment, 1, nullptr, 0, &needed);
    if (needed == 0) return nullptr;
    // One zeroed unit beyond the size asked for keeps the path terminated
    // whatever the spooler writes.
    OwnedBlock directory = allocateOwned(platform.memory, needed + sizeof(char16_t), true);
    if (!directory) return nullptr;
    if (!platform.spooler.getPrinterDriverDirectory(nullptr, environment, 1, bytesOf(directory), needed, &needed)) {
        return nullptr;
    }
    return static_cast<char16_t*>(directory.release());
}

}  // namespace hx::driverutil
