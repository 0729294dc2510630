// The Wine tier's check recorder: one line per failed check with what was seen,
// and the closing count.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hx::wine_tests {

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

// What the program runs against: the language the system is expected to report.
struct Expectations {
    bool chineseSystem = false;
    std::string selfTestJobFile;  // the generated job the library was built with
};

void runPlatformChecks(Checks& checks, const Expectations& expected);
void runSettingToolChecks(Checks& checks, const Expectations& expected);

[[nodiscard]] std::string utf8(std::u16string_view text);
// The zero-terminated UTF-16 text at `text`, read no further than `capacity` units.
[[nodiscard]] std::u16string_view terminated(const char16_t* text, std::size_t capacity);
// Shows a text for a failure line: quoted UTF-8, or "(unterminated)".
[[nodiscard]] std::string quoted(const char16_t* text, std::size_t capacity);

}  // namespace hx::wine_tests
