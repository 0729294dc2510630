// Language chosen once per process, on the first lookup.
#include "settingtool/text_lookup.h"

#include <algorithm>

namespace hx::settingtool {

char16_t* lookupText(Session& session, const char* key, char16_t* out) {
    if (!session.language) session.language = languageFor(session.platform.system.getSystemDefaultLangId());
    const TextRow* row = findTextRow(key);
    if (row == nullptr || out == nullptr) return nullptr;
    const std::u16string_view text = rowText(*row, *session.language);
    // The caller's buffer holds kLongestTextUnits + 1, which every row fits.
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = u'\0';
    return out;
}

void lookupErrorText(Session& session, std::int32_t code, char16_t* out) {
    if (const char* key = errorTextKey(code)) (void)lookupText(session, key, out);
}

}  // namespace hx::settingtool
