// A simulated HX-352 on the simulated USB bus: answers the command frames with
// the values a test sets, acknowledges settings and firmware as told, and keeps
// every byte it received, parsed into frames, label jobs and firmware messages.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace hx::sim {

enum class AckBehaviour { Accept, Refuse, Silent };

// The thirteen print setting fields, as the printer stores them.
struct PrintSettings {
    std::uint8_t field1 = 0, field2 = 0;
    std::uint16_t field3 = 0;
    std::uint8_t field4 = 0, field5 = 0, field6 = 0, field7 = 0, field8 = 0, field9 = 0, field10 = 0, field11 = 0;
    std::int16_t field12 = 0;
    std::uint16_t field13 = 0;
    friend bool operator==(const PrintSettings&, const PrintSettings&) = default;
};

struct WireMessage {
    enum class Kind { Frame, FirmwareDownload, LabelJob, Unknown };
    Kind kind = Kind::Unknown;
    std::uint64_t atMs = 0;               // virtual time of the write
    std::size_t length = 0;               // bytes taken by the device
    std::vector<std::uint8_t> bytes;      // all of them, unless payloads are not kept
    // Frame: 1F 1B 1A group n data
    std::uint8_t group = 0;
    std::vector<std::uint8_t> data;
    // FirmwareDownload: 1F 75 size(BE32) image
    std::uint32_t declaredSize = 0;
    std::size_t imageLength = 0;
    // LabelJob: the CR LF separated lines (the BITMAP line's binary part left out)
    std::vector<std::string> jobLines;
};

// One reply a test puts in place of the printer's own answer to the next command.
struct ScriptedReply {
    std::vector<std::uint8_t> bytes;  // sent as they are
    std::uint32_t delayMs = 0;        // virtual time after the command's write
    bool never = false;               // no reply at all
};

class SimPrinter {
public:
    // Facts the printer reports.
    std::string type = "HX-352";
    std::string serialNumber = "HX352A000123";
    std::string firmwareVersion = "V1.0";
    std::int32_t status = 0;
    std::int32_t printedLength = 0;
    std::int32_t badDotCount = 0;
    PrintSettings settings;
    std::uint8_t userDefSetting = 0;
    std::uint8_t locationSetting = 0;
    std::uint8_t dumpMode = 0;

    AckBehaviour settingAck = AckBehaviour::Accept;
    AckBehaviour firmwareAck = AckBehaviour::Accept;
    std::uint32_t replyDelayMs = 2;  // latency of the printer's own answers
    bool keepPayloads = true;        // false: bytes of large messages are not kept

    // Replies consumed one per command written, before the printer's own answer.
    void scriptReply(ScriptedReply reply);

    const std::vector<WireMessage>& received() const { return received_; }
    void clearReceived() { received_.clear(); }

    // Device side, called by the machine. A reply replaces any unread earlier one.
    void onWrite(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs);
    struct PendingReply {
        std::vector<std::uint8_t> bytes;
        std::uint64_t readyAtMs = 0;
    };
    std::optional<PendingReply>& pendingReply() { return pending_; }

private:
    std::vector<std::uint8_t> answer(const WireMessage& message);
    std::deque<ScriptedReply> scripted_;
    std::vector<WireMessage> received_;
    std::optional<PendingReply> pending_;
};

}  // namespace hx::sim
