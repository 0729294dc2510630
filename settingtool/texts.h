// The library's fixed table of short texts (errors, printer states, the settings
// tool's labels and messages) in English and Simplified Chinese, looked up by key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hx::settingtool {

struct TextRow {
    const char* key;
    const char16_t* english;
    const char16_t* chinese;
};

// The rows in lookup order; the first row with an equal key wins.
[[nodiscard]] std::span<const TextRow> textTable();

// Whole-key, case-sensitive comparison: a key that is only a prefix of a row's
// key does not match it. Null when no row holds the key or the key is null.
[[nodiscard]] const TextRow* findTextRow(const char* key);

// The key of an HXError code's text; null for any code that is not an HXError.
[[nodiscard]] const char* errorTextKey(std::int32_t code);

enum class Language { English = 0, SimplifiedChinese = 1 };

// Simplified Chinese only for Chinese (PRC); every other system language,
// Traditional Chinese included, reads English.
[[nodiscard]] Language languageFor(std::uint16_t systemDefaultLangId);

[[nodiscard]] const char16_t* rowText(const TextRow& row, Language language);

// The longest text in either language, without its terminator: callers' output
// buffers hold kLongestTextUnits + 1 units.
inline constexpr std::size_t kLongestTextUnits = 45;

}  // namespace hx::settingtool
