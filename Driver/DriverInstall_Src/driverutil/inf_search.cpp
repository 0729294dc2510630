// The OEM INF search. An INF is recognised from its whole content, whatever
// its encoding and line ends: OEM INFs come as ANSI and as UTF-16, with CR-LF
// or LF alone.
#include "Driver/DriverInstall_Src/driverutil/inf_search.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "Driver/DriverInstall_Src/driverutil/names.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {
namespace {

constexpr std::size_t kChunk = 8192;

std::optional<std::string> toAnsi(platform::Platform& platform, const std::u16string& path) {
    auto& codePages = platform.codePages;
    const int size = codePages.wideCharToMultiByte(platform::win::kCpAcp, 0, path.c_str(), -1, nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::string ansi(static_cast<std::size_t>(size), '\0');
    if (codePages.wideCharToMultiByte(platform::win::kCpAcp, 0, path.c_str(), -1, ansi.data(), size) <= 0) {
        return std::nullopt;
    }
    ansi.resize(static_cast<std::size_t>(size) - 1);
    return ansi;
}

bool endsWithBackslash(const std::u16string& text) { return !text.empty() && text.back() == u'\\'; }

}  // namespace

std::u16string getInfDirectory(platform::Platform& platform) {
    std::array<char16_t, kMaxPath> buffer{};
    const auto length = platform.files.getSystemDirectory(buffer.data(), kMaxPath);
    const std::u16string system(buffer.data(), std::min<std::size_t>(length, kMaxPath - 1));
    const auto first = system.find(u'\\');
    if (first == std::u16string::npos) return {};
    // With one backslash only, the system directory itself is the Windows folder.
    const auto second = system.find(u'\\', first + 1);
    return system.substr(0, second) + u"\\inf";
}

std::optional<std::u16string> findOemInf(platform::Platform& platform) {
    const std::u16string directory = getInfDirectory(platform);
    if (directory.empty()) return std::nullopt;
    const std::u16string pattern = directory + u"\\oem*.inf";
    auto& files = platform.files;
    platform::FindData entry{};
    platform::UniqueFindHandle search(files, files.findFirstFile(pattern.c_str(), &entry));
    if (!search) return std::nullopt;
    do {
        entry.fileName[std::size(entry.fileName) - 1] = u'\0';
        const std::u16string path = directory + u"\\" + entry.fileName;
        if (!endsWithBackslash(path) && infNamesHardwareId(platform, path)) return path;
    } while (files.findNextFile(search.get(), &entry));
    return std::nullopt;
}

bool contentNamesHardwareId(std::span<const std::uint8_t> content) {
    constexpr std::string_view id = "USBPRINT\\HX-35290EE";
    const std::string_view bytes(reinterpret_cast<const char*>(content.data()), content.size());
    if (bytes.find(id) != std::string_view::npos) return true;

    const bool bigEndian = content.size() >= 2 && content[0] == 0xFE && content[1] == 0xFF;
    std::string pattern;
    for (char c : id) {
        pattern += bigEndian ? '\0' : c;
        pattern += bigEndian ? c : '\0';
    }
    // UTF-16 units start at even offsets, with or without a byte-order mark.
    for (auto at = bytes.find(pattern); at != std::string_view::npos; at = bytes.find(pattern, at + 1)) {
        if (at % 2 == 0) return true;
    }
    return false;
}

bool infNamesHardwareId(platform::Platform& platform, const std::u16string& path) {
    const auto ansiPath = toAnsi(platform, path);
    if (!ansiPath) return false;
    auto& files = platform.files;
    // Binary and read-only: the bytes are compared as they are stored.
    platform::UniqueStream stream(files, files.openStream(ansiPath->c_str(), "rb"));
    if (!stream) return false;
    if (std::fseek(stream.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(stream.get());
    if (size < 0 || std::fseek(stream.get(), 0, SEEK_SET) != 0) return false;

    const auto length = static_cast<std::size_t>(size);
    platform::UniqueHeapBlock block(platform.memory, platform.memory.allocate(length + 2, true));
    if (!block) return false;
    auto* bytes = static_cast<std::uint8_t*>(block.get());
    if (std::fread(bytes, 1, length, stream.get()) != length) return false;
    return contentNamesHardwareId({bytes, length});
}

std::int32_t myFileRead(void* buffer, std::int32_t count, std::FILE* stream) {
    if (buffer == nullptr || stream == nullptr || count < 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    const auto total = static_cast<std::size_t>(count);
    const std::size_t chunks = total / kChunk;
    const std::size_t remainder = total % kChunk;
    std::size_t done = 0;
    for (; done < chunks; ++done) {
        if (std::fread(out + done * kChunk, kChunk, 1, stream) != 1) break;
    }
    if (done == chunks && remainder != 0) (void)std::fread(out + chunks * kChunk, remainder, 1, stream);
    return std::feof(stream) ? 1 : 0;
}

}  // namespace hx::driverutil
