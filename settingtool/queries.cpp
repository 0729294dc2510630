// The query exchanges. Each one writes its frame, reads one reply and gives the
// transfer lock back whatever the read gave.
#include "settingtool/queries.h"

#include <algorithm>

#include "settingtool/frames.h"

namespace hx::settingtool {
bool readQueryReply(Session& session, ReplyBuffer& reply) {
    const bool read = session.transport.readReply(reply);
    session.transport.releaseTransferLock();
    if (!read) return false;
    if (!replyHasPayload(reply)) {
        session.errors.set(HX_ERR_READ_USB_FAIL);
        return false;
    }
    return true;
}

namespace {

// Steps shared by the number and text queries.
bool queryExchange(Session& session, std::uint8_t group, std::uint8_t subCommand, ReplyBuffer& reply) {
    if (!session.transport.ensurePrinter()) return false;
    // The exchange stands or falls with the read: a failed write leaves nothing to read.
    (void)session.transport.usbWrite(commandFrame(group, {subCommand}));
    return readQueryReply(session, reply);
}

}  // namespace

bool queryNumber(Session& session, std::uint8_t group, std::uint8_t subCommand, std::int32_t& out) {
    ReplyBuffer reply;
    if (!queryExchange(session, group, subCommand, reply)) return false;
    if (const auto value = replyNumber(reply)) out = *value;
    return true;
}

bool queryText(Session& session, std::uint8_t subCommand, char16_t* out) {
    ReplyBuffer reply;
    if (!queryExchange(session, command::kGroupQuery, subCommand, reply)) return false;
    const auto text = replyText(reply);
    int units = 0;
    if (!text.empty()) {
        // At most 58 bytes arrive, so the text fits; the bound keeps it so.
        units = session.platform.codePages.multiByteToWideChar(
            platform::win::kCpAcp, 0, reinterpret_cast<const char*>(text.data()), static_cast<int>(text.size()),
            out, static_cast<int>(kPrinterTextUnits - 1));
    }
    out[units] = u'\0';
    return true;
}

bool checkConnection(Session& session) {
    auto& transport = session.transport;
    if (!transport.ensurePrinter()) return false;
    (void)transport.usbWrite(commandFrame(command::kGroupSystem, {0x02}));
    ReplyBuffer reply;
    (void)transport.readReply(reply);
    // The lock stays held until the next exchange takes it back.
    return std::equal(kConnectionAnswer.begin(), kConnectionAnswer.end(), reply.begin());
}

bool statusGate(Session& session) {
    std::int32_t status = 0;
    if (!queryNumber(session, command::kGroupQuery, command::kQueryStatus, status)) return false;
    if (status != 0) {
        session.errors.set(HX_ERR_PRINT_STATUS_IS_NOT_READY);
        return false;
    }
    return true;
}

bool getPrinterInfo(Session& session, HXPrinterInfo* info) {
    if (!session.transport.ensurePrinter()) return false;
    if (info == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    auto text = [](std::uint16_t* field) { return reinterpret_cast<char16_t*>(field); };
    using namespace command;
    return queryText(session, kQueryType, text(info->printerType)) &&
           queryNumber(session, kGroupQuery, kQueryStatus, info->status) &&
           queryNumber(session, kGroupQuery, kQueryPrintedLength, info->printedLength) &&
           queryText(session, kQuerySerialNumber, text(info->serialNumber)) &&
           queryText(session, kQueryFirmwareVersion, text(info->firmwareVersion));
}

}  // namespace hx::settingtool
