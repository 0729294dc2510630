// Reads the simulated printer's log of received messages.
#include "tools/hx352ctl/wire_view.h"

#include <cstdio>
#include <string>

#include "platform/sim/machine.h"

namespace hx::ctl {
namespace {

std::string hex(const std::vector<std::uint8_t>& bytes, std::size_t limit) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        text += cell;
    }
    if (bytes.size() > limit) text += "...";
    else if (!text.empty()) text.pop_back();
    return text;
}

}  // namespace

std::size_t showWire(std::ostream& out, std::size_t from) {
    const auto& interfaces = sim::processMachine().usbInterfaces();
    if (interfaces.empty() || !interfaces.front().printer) return from;
    const auto& received = sim::processMachine().printer().received();
    using Kind = sim::WireMessage::Kind;
    for (std::size_t i = from; i < received.size(); ++i) {
        const auto& message = received[i];
        out << "  -> [" << message.atMs << " ms] ";
        switch (message.kind) {
            case Kind::Frame: out << "frame " << hex(message.bytes, 32) << "\n"; break;
            case Kind::FirmwareDownload:
                out << "firmware download, header " << hex(message.bytes, 6) << ", image " << message.imageLength
                    << " bytes (" << message.length << " in one write)\n";
                break;
            case Kind::LabelJob:
                out << "label job, " << message.length << " bytes:\n";
                for (const auto& line : message.jobLines) out << "       " << line << "\n";
                break;
            case Kind::Unknown: out << message.length << " bytes: " << hex(message.bytes, 32) << "\n"; break;
        }
    }
    return received.size();
}

}  // namespace hx::ctl
