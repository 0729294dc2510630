// Question-and-answer exchanges: the connection check, number and text
// queries, and the printer information built on them.
#pragma once

#include <cstdint>

#include "settingtool/session.h"

namespace hx::settingtool {

inline constexpr std::size_t kPrinterTextUnits = 64;

// Reads the reply of a query just written and gives the transfer lock back,
// whatever the read gave; false with the transfer's error, or 53 for a reply
// that carries nothing.
[[nodiscard]] bool readQueryReply(Session& session, ReplyBuffer& reply);

// Group/sub-command number query; the output keeps its value when the reply
// carries a number of another width.
[[nodiscard]] bool queryNumber(Session& session, std::uint8_t group, std::uint8_t subCommand, std::int32_t& out);

// Group 4 text query into a buffer of kPrinterTextUnits, terminated.
[[nodiscard]] bool queryText(Session& session, std::uint8_t subCommand, char16_t* out);

[[nodiscard]] bool checkConnection(Session& session);

// Reads the printer status; error 56 when it is not ready.
[[nodiscard]] bool statusGate(Session& session);

[[nodiscard]] bool getPrinterInfo(Session& session, HXPrinterInfo* info);

}  // namespace hx::settingtool
