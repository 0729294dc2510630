// Text lookups in the language of the system, as the exports give them.
#pragma once

#include <cstdint>

#include "settingtool/session.h"

namespace hx::settingtool {

// Copies the key's text with its terminator into `out`; null (and `out`
// untouched) when no row holds the key or `out` is null.
char16_t* lookupText(Session& session, const char* key, char16_t* out);

// The text of one of the eleven error codes; other codes write nothing.
void lookupErrorText(Session& session, std::int32_t code, char16_t* out);

}  // namespace hx::settingtool
