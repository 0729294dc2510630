// Shell file operations of the simulated machine: the copy of listed files or
// wildcard matches into a destination directory on drive C.
#include <algorithm>
#include <system_error>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

// SHFileOperation's own "invalid source or destination" result.
constexpr int kDeInvalidFiles = 0x7C;
constexpr std::uint16_t kFofFilesOnly = 0x80;

std::vector<std::u16string> splitList(const char16_t* list) {
    std::vector<std::u16string> items;
    while (list && *list) {
        items.emplace_back(list);
        list += items.back().size() + 1;
    }
    return items;
}

bool hasWildcard(std::u16string_view name) { return name.find_first_of(u"*?") != std::u16string_view::npos; }

// Windows wildcard matching without regard to case; "*.*" matches every name,
// also one without a dot.
bool matches(std::u16string_view pattern, std::u16string_view name) {
    return pattern == u"*.*" || wildcardMatch(pattern, name);
}

}  // namespace

int SimShell::fileOperation(std::uint32_t function, const char16_t* from, const char16_t* to, std::uint16_t flags) {
    auto sources = splitList(from);
    auto targets = splitList(to);
    std::string line = "SHFileOperationW " + std::to_string(function);
    for (const auto& source : sources) line += " " + toUtf8(source);
    if (!targets.empty()) line += " => " + toUtf8(targets.front());
    auto finish = [&](int result) {
        m_.log(result ? line + " -> " + std::to_string(result) : line);
        return result;
    };
    if (auto fault = m_.injectedFault("SHFileOperationW")) return finish(static_cast<int>(*fault));
    if (function != kFoCopy || sources.empty() || targets.empty()) return finish(kDeInvalidFiles);

    // Paths are on a drive, relative ones from the current directory, seen
    // as this process sees them (WOW64 redirection included).
    auto resolve = [&](const std::u16string& path) -> std::optional<std::u16string> {
        auto full = m_.fullWindowsPath(path);
        if (!m_.isDrivePath(full)) return std::nullopt;
        return full;
    };
    auto destination = resolve(targets.front());
    if (!destination) return finish(kDeInvalidFiles);
    auto destinationHost = m_.processPath(*destination);
    std::error_code ec;
    if (std::filesystem::exists(destinationHost, ec) && !std::filesystem::is_directory(destinationHost, ec)) {
        return finish(kDeInvalidFiles);
    }

    // One entry into the destination: a file overwrites its namesake, a
    // directory is copied with everything in it.
    auto copyEntry = [&](const std::filesystem::path& entry) -> int {
        std::error_code error;
        std::filesystem::create_directories(destinationHost, error);
        if (error) return static_cast<int>(kErrorAccessDenied);
        // The target is looked up as Windows would, without regard to case.
        auto target = m_.processPath(*destination + u"\\" + fromUtf8(entry.filename().string()));
        if (std::filesystem::is_directory(entry, error)) {
            std::filesystem::copy(
                entry, target,
                std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing, error);
        } else {
            if (m_.fileInUseBySpooler(target)) return static_cast<int>(kErrorSharingViolation);
            std::filesystem::copy_file(entry, target, std::filesystem::copy_options::overwrite_existing, error);
        }
        return error ? static_cast<int>(kErrorAccessDenied) : 0;
    };

    for (const auto& source : sources) {
        auto windowsPath = resolve(source);
        if (!windowsPath) return finish(kDeInvalidFiles);
        auto slash = windowsPath->find_last_of(u'\\');
        std::u16string name = slash == std::u16string::npos ? *windowsPath : windowsPath->substr(slash + 1);
        if (!hasWildcard(name)) {
            auto host = m_.processPath(*windowsPath);
            if (!std::filesystem::exists(host, ec)) return finish(static_cast<int>(kErrorFileNotFound));
            if (int result = copyEntry(host)) return finish(result);
            continue;
        }
        auto directory = m_.processPath(windowsPath->substr(0, slash));
        if (!std::filesystem::is_directory(directory, ec)) return finish(static_cast<int>(kErrorFileNotFound));
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
            if ((flags & kFofFilesOnly) && entry.is_directory()) continue;
            if (matches(name, fromUtf8(entry.path().filename().string()))) found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        for (const auto& entry : found) {
            if (int result = copyEntry(entry)) return finish(result);
        }
    }
    return finish(0);
}

}  // namespace hx::sim::detail
