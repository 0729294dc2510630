// The Wine tier's check recorder: one line per failed check with what was seen,
// and the closing count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hx::wine_tests {

// Creates or replaces a file holding `bytes`; false when it cannot be written.
bool writeFile(const wchar_t* path, std::string_view bytes);
inline bool writeFile(const std::wstring& path, std::string_view bytes) { return writeFile(path.c_str(), bytes); }
inline bool writeFile(const std::u16string& path, std::string_view bytes) {
    return writeFile(reinterpret_cast<const wchar_t*>(path.c_str()), bytes);
}

class Checks {
public:
    // Records the check `what`; when it failed, prints `what` and `seen`.
    void expect(bool ok, std::string_view what, std::string_view seen = {});
    [[nodiscard]] int passed() const { return passed_; }
    [[nodiscard]] int failed() const { return failed_; }

private:
    int passed_ = 0;
    int failed_ = 0;
};

// Elapsed time on the performance counter; the tick count that Wine keeps is
// too coarse to time pauses of a few tens of milliseconds.
class Stopwatch {
public:
    Stopwatch();
    [[nodiscard]] std::int64_t elapsedMilliseconds() const;

private:
    std::int64_t start_;
};

// The Windows version a prefix plays (winecfg -v): what GetVersionExW reports
// to a program without a compatibility manifest, and the kernel's own major
// version that RtlGetNtVersionNumbers tells.
struct WindowsVersion {
    std::uint32_t major;
    std::uint32_t minor;
    std::uint32_t trueMajor;
    const char16_t* osName;  // what getOsName makes of it
};
inline constexpr WindowsVersion kWindows7{6, 1, 6, u"Microsoft Windows 7"};
inline constexpr WindowsVersion kWindows8{6, 2, 6, u"Microsoft Windows 8"};
inline constexpr WindowsVersion kWindows10{6, 2, 10, u"Microsoft Windows 10"};

// What the program runs against: the language the system is expected to report,
// its version, and a serial port (a pseudo-terminal set to 4800 baud) if any.
struct Expectations {
    bool chineseSystem = false;
    std::string selfTestJobFile;  // the generated job the library was built with
    WindowsVersion windows = kWindows7;
    std::string serialPort;  // "COM5", or empty
};

void runPlatformChecks(Checks& checks, const Expectations& expected);
void runPlatformSystemChecks(Checks& checks, const Expectations& expected);
void runSettingToolChecks(Checks& checks, const Expectations& expected);
void runDriverUtilChecks(Checks& checks, const Expectations& expected);

[[nodiscard]] std::string utf8(std::u16string_view text);
// The zero-terminated UTF-16 text at `text`, read no further than `capacity` units.
[[nodiscard]] std::u16string_view terminated(const char16_t* text, std::size_t capacity);
// Shows a text for a failure line: quoted UTF-8, or "(unterminated)".
[[nodiscard]] std::string quoted(const char16_t* text, std::size_t capacity);

}  // namespace hx::wine_tests
