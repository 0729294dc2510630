// The Wine tier: runs the Windows build's platform layer and both libraries as
// a system without the printer shows them, and reports the count.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/checks.h"

namespace hx::wine_tests {

void Checks::expect(bool ok, std::string_view what, std::string_view seen) {
    if (ok) {
        ++passed_;
        return;
    }
    ++failed_;
    std::printf("FAIL %.*s: saw %.*s\n", static_cast<int>(what.size()), what.data(), static_cast<int>(seen.size()),
                seen.data());
    std::fflush(stdout);
}

namespace {
std::int64_t counterNow() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}
}  // namespace

Stopwatch::Stopwatch() : start_(counterNow()) {}

std::int64_t Stopwatch::elapsedMilliseconds() const {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return (counterNow() - start_) * 1000 / frequency.QuadPart;
}

std::string utf8(std::u16string_view text) {
    if (text.empty()) return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, units, length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, units, length, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

std::u16string_view terminated(const char16_t* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != u'\0') ++length;
    return {text, length};
}

std::string quoted(const char16_t* text, std::size_t capacity) {
    const std::u16string_view view = terminated(text, capacity);
    if (view.size() == capacity) return "(unterminated)";
    std::string shown(1, '"');
    shown += utf8(view);
    shown += '"';
    return shown;
}

}  // namespace hx::wine_tests

namespace {

// Marks a crash of this program apart from those of Wine's own processes, which
// share its error output: run.sh fails the run on this line.
LONG WINAPI reportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "hx352_wine_tests: unhandled exception %08lx at %p\n",
                 exception->ExceptionRecord->ExceptionCode, exception->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

int usage() {
    std::fprintf(stderr,
                 "usage: hx352_wine_tests --lang en|zh --job SELFTEST_JOB_FILE [--windows 7|8|10] [--serial COMn]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace hx::wine_tests;
    ::SetUnhandledExceptionFilter(reportCrash);
    Expectations expected;
    bool languageGiven = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--lang" && (value == "en" || value == "zh")) {
            expected.chineseSystem = value == "zh";
            languageGiven = true;
        } else if (option == "--job") {
            expected.selfTestJobFile = value;
        } else if (option == "--windows" && (value == "7" || value == "8" || value == "10")) {
            expected.windows = value == "7" ? kWindows7 : value == "8" ? kWindows8 : kWindows10;
        } else if (option == "--serial" && value.starts_with("COM")) {
            expected.serialPort = value;
        } else {
            return usage();
        }
    }
    if (argc % 2 == 0 || !languageGiven || expected.selfTestJobFile.empty()) return usage();

    Checks checks;
    runPlatformChecks(checks, expected);
    runPlatformSystemChecks(checks, expected);
    runSettingToolChecks(checks, expected);
    runDriverUtilChecks(checks, expected);
    std::printf("wine: %d passed, %d failed\n", checks.passed(), checks.failed());
    return checks.failed() == 0 ? 0 : 1;
}
