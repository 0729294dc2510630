// Shows what went to the simulated printer: frames in hex, label jobs as text,
// firmware messages by their header.
#pragma once

#include <cstddef>
#include <ostream>

namespace hx::ctl {

// Prints the messages the printer received from index `from` on; returns the
// index after the last one shown. Prints nothing when no simulated printer is
// attached.
std::size_t showWire(std::ostream& out, std::size_t from);

}  // namespace hx::ctl
