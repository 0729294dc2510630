// Encoding and decoding of the printer's frames and replies.
#include "settingtool/frames.h"

#include <algorithm>
#include <cstring>

namespace hx::settingtool {
namespace {
constexpr std::size_t kReplyCount = 4;
constexpr std::size_t kReplyPayload = 6;

std::uint8_t low(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
std::uint8_t high(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }
std::uint16_t word(std::uint8_t lowByte, std::uint8_t highByte) {
    return static_cast<std::uint16_t>(lowByte | (highByte << 8));
}
}  // namespace

Bytes commandFrame(std::uint8_t group, std::initializer_list<std::uint8_t> data) {
    Bytes frame(5 + data.size());
    frame[0] = 0x1F;
    frame[1] = 0x1B;
    frame[2] = 0x1A;
    frame[3] = group;
    frame[4] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 5);
    return frame;
}

bool replyHasPayload(const ReplyBuffer& reply) { return reply[kReplyCount] > 1; }

std::optional<std::int32_t> replyNumber(const ReplyBuffer& reply) {
    const std::uint8_t* p = reply.data() + kReplyPayload;
    switch (reply[kReplyCount]) {
        case 2: return p[0];
        case 3: return p[0] | (p[1] << 8);
        case 5: return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                                                 (static_cast<std::uint32_t>(p[2]) << 16) |
                                                 (static_cast<std::uint32_t>(p[3]) << 24));
        default: return std::nullopt;
    }
}

std::span<const std::uint8_t> replyText(const ReplyBuffer& reply) {
    const std::size_t available = reply.size() - kReplyPayload;
    const std::size_t count = std::min<std::size_t>(reply[kReplyCount], available);
    const std::uint8_t* begin = reply.data() + kReplyPayload;
    const std::uint8_t* end = std::find(begin, begin + count, 0);
    return {begin, static_cast<std::size_t>(end - begin)};
}

Bytes printSettingFrame(const HXPrintSettingParam& p) {
    // Field 12 goes out as its stored low byte, not in the reply's sign-magnitude form.
    const auto field12 = static_cast<std::uint8_t>(static_cast<std::uint16_t>(p.field12) & 0xFF);
    return commandFrame(command::kGroupPrintSetting,
                        {p.field1, p.field2, low(p.field3), high(p.field3), p.field4, p.field5, p.field6, p.field7,
                         p.field8, p.field9, p.field10, p.field11, field12, low(p.field13), high(p.field13)});
}

HXPrintSettingParam printSettingFromReply(const ReplyBuffer& r) {
    HXPrintSettingParam p{};
    p.field9 = r[5];
    p.field1 = r[6];
    p.field2 = r[7];
    p.field3 = word(r[8], r[9]);
    p.field4 = r[10];
    p.field5 = r[11];
    p.field7 = r[12];
    p.field6 = r[13];
    p.field8 = r[14];
    p.field10 = r[15];
    p.field11 = r[16];
    p.field12 = static_cast<std::int16_t>((r[17] & 0x80) ? -(r[17] & 0x7F) : r[17]);
    p.field13 = word(r[18], r[19]);
    return p;
}

void writeFirmwareHeader(std::uint8_t* header, std::uint32_t imageSize) {
    header[0] = 0x1F;
    header[1] = 0x75;
    header[2] = static_cast<std::uint8_t>(imageSize >> 24);
    header[3] = static_cast<std::uint8_t>(imageSize >> 16);
    header[4] = static_cast<std::uint8_t>(imageSize >> 8);
    header[5] = static_cast<std::uint8_t>(imageSize);
}

}  // namespace hx::settingtool
