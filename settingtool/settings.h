// Commands that change the printer's settings, the print setting read-back, and
// the judgement of the printer's acknowledgement of the last of them.
#pragma once

#include <cstdint>

#include "settingtool/session.h"

namespace hx::settingtool {

[[nodiscard]] bool setPrintSetting(Session& session, const HXPrintSettingParam* param);
[[nodiscard]] bool setUserDefSetting(Session& session, const std::uint8_t* value);
[[nodiscard]] bool restoreFactorySettings(Session& session);
[[nodiscard]] bool setLocationSetting(Session& session, const std::uint8_t* value);
[[nodiscard]] bool setDumpMode(Session& session, std::int32_t mode);
[[nodiscard]] bool labelLackPaperLearn(Session& session);
[[nodiscard]] bool getPrintSettingParam(Session& session, HXPrintSettingParam* param);

// Reads the acknowledgement (up to three attempts) and tells whether it is the
// one the last setting command expects.
[[nodiscard]] bool getSettingResult(Session& session);

}  // namespace hx::settingtool
