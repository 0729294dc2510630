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

namespace {

// One read buffer for a whole search, grown to the largest file met, so the
// search holds no more than that file and allocates once per new size.
class ReadBuffer {
public:
    explicit ReadBuffer(platform::Memory& memory) : memory_(memory) {}
    std::uint8_t* reserve(std::size_t size) {
        if (size > capacity_) {
            block_.reset();
            block_ = platform::UniqueHeapBlock(memory_, memory_.allocate(size, false));
            capacity_ = block_ ? size : 0;
        }
        return static_cast<std::uint8_t*>(block_.get());
    }

private:
    platform::Memory& memory_;
    platform::UniqueHeapBlock block_;
    std::size_t capacity_ = 0;
};

bool infNamesHardwareId(platform::Platform& platform, const std::u16string& path, ReadBuffer& buffer) {
    const auto ansiPath = toAnsi(platform, path);
    if (!ansiPath) return false;
    auto& files = platform.files;
    // Binary and read-only: the bytes are compared as they are stored.
    platform::UniqueStream stream(files, files.openStream(ansiPath->c_str(), "rb"));
    if (!stream) return false;
    if (std::fseek(stream.get(), 0, SEEK_END) != 0) return false;
    const long size = std::ftell(stream.get());
    if (size <= 0 || std::fseek(stream.get(), 0, SEEK_SET) != 0) return false;

    const auto length = static_cast<std::size_t>(size);
    std::uint8_t* bytes = buffer.reserve(length);
    if (bytes == nullptr) return false;
    if (std::fread(bytes, 1, length, stream.get()) != length) return false;
    return contentNamesHardwareId({bytes, length});
}

}  // namespace

std::optional<std::u16string> findOemInf(platform::Platform& platform) {
    const std::u16string directory = getInfDirectory(platform);
    if (directory.empty()) return std::nullopt;
    const std::u16string pattern = directory + u"\\oem*.inf";
    auto& files = platform.files;
    platform::FindData entry{};
    platform::UniqueFindHandle search(files, files.findFirstFile(pattern.c_str(), &entry));
    if (!search) return std::nullopt;
    ReadBuffer buffer(platform.memory);
    do {
        entry.fileName[std::size(entry.fileName) - 1] = u'\0';
        const std::u16string path = directory + u"\\" + entry.fileName;
        if (!endsWithBackslash(path) && infNamesHardwareId(platform, path, buffer)) return path;
    } while (files.findNextFile(search.get(), &entry));
    return std::nullopt;
}

bool contentNamesHardwareId(std::span<const std::uint8_t> content) {
    // The ID holds one backslash. Each backslash byte of the file is a
    // candidate, checked for the ID as ANSI text around it and as UTF-16 in
    // either byte order; one memchr pass serves all three, near the speed of
    // the read itself.
    static constexpr std::string_view id = "USBPRINT\\HX-35290EE";
    static constexpr std::size_t anchor = id.find('\\');
    static const auto utf16 = [](bool bigEndian) {
        std::string pattern;
        for (char c : id) {
            pattern += bigEndian ? '\0' : c;
            pattern += bigEndian ? c : '\0';
        }
        return pattern;
    };
    static const std::string littleEndian = utf16(false), bigEndian = utf16(true);

    const auto* begin = reinterpret_cast<const char*>(content.data());
    const std::size_t size = content.size();
    const bool hasBigEndianMark = size >= 2 && content[0] == 0xFE && content[1] == 0xFF;
    // Whether `pattern` stands at `start`; UTF-16 units start at even offsets.
    const auto at = [&](std::string_view pattern, std::size_t backslash, std::size_t offset, bool even) {
        if (backslash < offset) return false;
        const std::size_t start = backslash - offset;
        return (!even || start % 2 == 0) && start + pattern.size() <= size &&
               std::memcmp(begin + start, pattern.data(), pattern.size()) == 0;
    };
    for (const void* hit = std::memchr(begin, '\\', size); hit != nullptr;) {
        const auto backslash = static_cast<std::size_t>(static_cast<const char*>(hit) - begin);
        if (at(id, backslash, anchor, false) || at(littleEndian, backslash, 2 * anchor, true) ||
            (hasBigEndianMark && at(bigEndian, backslash, 2 * anchor + 1, true))) {
            return true;
        }
        hit = std::memchr(begin + backslash + 1, '\\', size - backslash - 1);
    }
    return false;
}

bool infNamesHardwareId(platform::Platform& platform, const std::u16string& path) {
    ReadBuffer buffer(platform.memory);
    return infNamesHardwareId(platform, path, buffer);
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
