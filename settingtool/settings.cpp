// Setting commands: each stores its kind before it writes, so a following
// acknowledgement read knows what to expect even after a failed write.
#include "settingtool/settings.h"

#include <algorithm>
#include <array>
#include <span>

#include "settingtool/frames.h"
#include "settingtool/queries.h"

namespace hx::settingtool {
namespace {

bool sendSetting(Session& session, SettingKind kind, const Bytes& frame) {
    session.settingKind = kind;
    return session.transport.usbWrite(frame);
}

bool rejectNull(Session& session, const void* argument) {
    if (argument != nullptr) return false;
    session.errors.set(HX_ERR_INVALID_PARAM);
    return true;
}

// The acknowledgement each kind waits for; empty for none.
std::span<const std::uint8_t> acknowledgementFor(SettingKind kind) {
    static constexpr std::array<std::uint8_t, 6> kPrintSetting = {0x1F, 0x1B, 0x1A, 0x00, 0x01, 0x01};
    static constexpr std::array<std::uint8_t, 6> kSystem = {0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x01};
    static constexpr std::array<std::uint8_t, 6> kLearn = {0x1F, 0x1B, 0x1A, 0x02, 0x01, 0x01};
    static constexpr std::array<std::uint8_t, 6> kTest = {0x1F, 0x1B, 0x1A, 0x03, 0x01, 0x01};
    static constexpr std::array<std::uint8_t, 5> kFirmware = {0x1F, 0x75, 0x01, 0x01, 0x01};
    switch (kind) {
        case SettingKind::PrintSetting: return kPrintSetting;
        case SettingKind::UserDefSetting:
        case SettingKind::RestoreFactory: return kSystem;
        case SettingKind::Location:
        case SettingKind::DumpMode: return kTest;
        case SettingKind::Firmware: return kFirmware;
        case SettingKind::PaperLearn: return kLearn;
        case SettingKind::None: break;
    }
    return {};
}

constexpr int kAcknowledgementReadAttempts = 3;

}  // namespace

bool setPrintSetting(Session& session, const HXPrintSettingParam* param) {
    if (rejectNull(session, param) || !session.transport.ensurePrinter()) return false;
    return sendSetting(session, SettingKind::PrintSetting, printSettingFrame(*param));
}

bool setUserDefSetting(Session& session, const std::uint8_t* value) {
    if (rejectNull(session, value) || !session.transport.ensurePrinter()) return false;
    return sendSetting(session, SettingKind::UserDefSetting, commandFrame(command::kGroupSystem, {0x00, *value}));
}

bool restoreFactorySettings(Session& session) {
    if (!session.transport.ensurePrinter()) return false;
    return sendSetting(session, SettingKind::RestoreFactory, commandFrame(command::kGroupSystem, {0x01}));
}

bool setLocationSetting(Session& session, const std::uint8_t* value) {
    if (!statusGate(session)) return false;
    if (rejectNull(session, value) || !session.transport.ensurePrinter()) return false;
    return sendSetting(session, SettingKind::Location, commandFrame(command::kGroupTest, {*value}));
}

bool setDumpMode(Session& session, std::int32_t mode) {
    if (!session.transport.ensurePrinter()) return false;
    const auto modeByte = static_cast<std::uint8_t>(mode & 0xFF);
    return sendSetting(session, SettingKind::DumpMode, commandFrame(command::kGroupTest, {0x02, modeByte}));
}

bool labelLackPaperLearn(Session& session) {
    // Deliberately no printer search: only an earlier call finds the printer.
    return sendSetting(session, SettingKind::PaperLearn, commandFrame(command::kGroupLearn, {0x02}));
}

bool getPrintSettingParam(Session& session, HXPrintSettingParam* param) {
    if (rejectNull(session, param) || !session.transport.ensurePrinter()) return false;
    auto& transport = session.transport;
    if (!transport.usbWrite(commandFrame(command::kGroupPrintSettingQuery, {0x00}))) return false;
    ReplyBuffer reply;
    if (!readQueryReply(session, reply)) return false;
    *param = printSettingFromReply(reply);
    return true;
}

bool getSettingResult(Session& session) {
    auto& transport = session.transport;
    ReplyBuffer reply{};
    bool received = false;
    for (int attempt = 0; attempt < kAcknowledgementReadAttempts && !received; ++attempt) {
        received = transport.ensurePrinter() && transport.readReply(reply);
    }
    transport.releaseTransferLock();
    if (!received) session.errors.set(HX_ERR_READ_USB_BEYOND_MAX_TIME);
    const auto expected = acknowledgementFor(session.settingKind);
    return !expected.empty() && std::equal(expected.begin(), expected.end(), reply.begin());
}

}  // namespace hx::settingtool
