// The simulated HX-352: parses what it receives, keeps its settings, and
// prepares its answer to the latest message.
#include "platform/sim/printer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace hx::sim {
namespace {

constexpr std::uint8_t kFramePrefix[] = {0x1F, 0x1B, 0x1A};
constexpr std::size_t kFrameHeader = 5;
constexpr std::size_t kFirmwareHeader = 6;
constexpr std::size_t kLargePayload = 4096;
constexpr std::size_t kReplyCapacity = 64;

using Bytes = std::vector<std::uint8_t>;

Bytes frame(std::uint8_t group, std::initializer_list<std::uint8_t> data) {
    Bytes out(kFrameHeader + data.size());
    const std::uint8_t header[] = {0x1F, 0x1B, 0x1A, group, static_cast<std::uint8_t>(data.size())};
    std::copy(std::begin(header), std::end(header), out.begin());
    std::copy(data.begin(), data.end(), out.begin() + kFrameHeader);
    return out;
}

// 1F 1B 1A group 05 sub value(LE32): N counts the sub-command and the value.
Bytes numberReply(std::uint8_t group, std::uint8_t sub, std::int32_t value) {
    auto v = static_cast<std::uint32_t>(value);
    return frame(group, {sub, static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

// 1F 1B 1A 04 N sub text 00, cut so that the whole reply fits 64 bytes.
Bytes textReply(std::uint8_t sub, const std::string& text) {
    std::size_t length = std::min(text.size(), kReplyCapacity - kFrameHeader - 2);
    Bytes out(kFrameHeader + 1 + length + 1, 0x00);  // the text's terminator stays 0
    const std::uint8_t header[] = {0x1F, 0x1B, 0x1A, 0x04, static_cast<std::uint8_t>(length + 2), sub};
    std::copy(std::begin(header), std::end(header), out.begin());
    std::copy_n(text.begin(), length, out.begin() + kFrameHeader + 1);
    return out;
}

std::uint8_t signMagnitude(std::int16_t value) {
    return value < 0 ? static_cast<std::uint8_t>(0x80 | (-value & 0x7F)) : static_cast<std::uint8_t>(value & 0x7F);
}

Bytes printSettingsReply(const PrintSettings& s) {
    return frame(0x05, {s.field9, s.field1, s.field2, static_cast<std::uint8_t>(s.field3),
                        static_cast<std::uint8_t>(s.field3 >> 8), s.field4, s.field5, s.field7, s.field6, s.field8,
                        s.field10, s.field11, signMagnitude(s.field12), static_cast<std::uint8_t>(s.field13),
                        static_cast<std::uint8_t>(s.field13 >> 8)});
}

PrintSettings settingsFromWrite(const Bytes& d) {
    PrintSettings s;
    s.field1 = d[0];
    s.field2 = d[1];
    s.field3 = static_cast<std::uint16_t>(d[2] | (d[3] << 8));
    s.field4 = d[4];
    s.field5 = d[5];
    s.field6 = d[6];
    s.field7 = d[7];
    s.field8 = d[8];
    s.field9 = d[9];
    s.field10 = d[10];
    s.field11 = d[11];
    s.field12 = static_cast<std::int8_t>(d[12]);
    s.field13 = static_cast<std::uint16_t>(d[13] | (d[14] << 8));
    return s;
}

std::optional<Bytes> acknowledgement(AckBehaviour behaviour, Bytes accept, Bytes refuse) {
    switch (behaviour) {
        case AckBehaviour::Accept: return accept;
        case AckBehaviour::Refuse: return refuse;
        case AckBehaviour::Silent: return std::nullopt;
    }
    return std::nullopt;
}

// Reads the unsigned decimal at `pos` up to `separator`; advances past it.
std::optional<std::size_t> readField(const std::uint8_t* data, std::size_t length, std::size_t& pos, char separator) {
    auto begin = reinterpret_cast<const char*>(data) + pos;
    auto end = reinterpret_cast<const char*>(data) + length;
    auto comma = std::find(begin, end, separator);
    if (comma == end) return std::nullopt;
    const char* first = begin;
    while (first < comma && *first == ' ') ++first;
    std::size_t value = 0;
    auto [ptr, ec] = std::from_chars(first, comma, value);
    if (ec != std::errc() || ptr != comma) return std::nullopt;
    pos = static_cast<std::size_t>(comma - reinterpret_cast<const char*>(data)) + 1;
    return value;
}

// Splits a TSPL job into its CR LF lines. A BITMAP command carries wb*h bytes
// of raster after its last comma; only its text part is kept.
std::vector<std::string> jobLines(const std::uint8_t* data, std::size_t length) {
    static constexpr std::string_view kBitmap = "BITMAP ";
    std::vector<std::string> lines;
    std::size_t pos = 0;
    auto text = [&](std::size_t from, std::size_t to) {
        return std::string(reinterpret_cast<const char*>(data) + from, to - from);
    };
    while (pos < length) {
        std::size_t start = pos;
        if (length - pos >= kBitmap.size() && std::memcmp(data + pos, kBitmap.data(), kBitmap.size()) == 0) {
            std::size_t cursor = pos + kBitmap.size();
            auto x = readField(data, length, cursor, ',');
            auto y = x ? readField(data, length, cursor, ',') : std::nullopt;
            auto widthBytes = y ? readField(data, length, cursor, ',') : std::nullopt;
            auto height = widthBytes ? readField(data, length, cursor, ',') : std::nullopt;
            auto mode = height ? readField(data, length, cursor, ',') : std::nullopt;
            if (mode) {
                lines.push_back(text(start, cursor));
                std::size_t raster = *widthBytes * *height;
                if (raster > length - cursor) return lines;  // the raster was cut short
                pos = cursor + raster;
                if (length - pos >= 2 && data[pos] == '\r' && data[pos + 1] == '\n') {
                    pos += 2;
                } else {
                    // Bytes after the raster that do not end the line are dropped
                    // up to the next line end.
                    std::size_t next = pos;
                    while (next + 1 < length && !(data[next] == '\r' && data[next + 1] == '\n')) ++next;
                    pos = next + 1 < length ? next + 2 : length;
                }
                continue;
            }
        }
        std::size_t end = pos;
        while (end + 1 < length && !(data[end] == '\r' && data[end + 1] == '\n')) ++end;
        if (end + 1 < length) {
            lines.push_back(text(start, end));
            pos = end + 2;
        } else {
            lines.push_back(text(start, length));
            pos = length;
        }
    }
    return lines;
}

}  // namespace

void SimPrinter::scriptReply(ScriptedReply reply) { scripted_.push_back(std::move(reply)); }

void SimPrinter::onWrite(const std::uint8_t* data, std::size_t length, std::uint64_t nowMs) {
    WireMessage message;
    message.atMs = nowMs;
    message.length = length;
    if (keepPayloads || length <= kLargePayload) message.bytes.assign(data, data + length);

    if (length >= kFrameHeader && std::memcmp(data, kFramePrefix, sizeof kFramePrefix) == 0 &&
        length == kFrameHeader + data[4]) {
        message.kind = WireMessage::Kind::Frame;
        message.group = data[3];
        message.data.assign(data + kFrameHeader, data + length);
    } else if (length >= kFirmwareHeader && data[0] == 0x1F && data[1] == 0x75) {
        message.kind = WireMessage::Kind::FirmwareDownload;
        message.declaredSize = (std::uint32_t{data[2]} << 24) | (std::uint32_t{data[3]} << 16) |
                               (std::uint32_t{data[4]} << 8) | data[5];
        message.imageLength = length - kFirmwareHeader;
    } else if (length >= 5 && std::memcmp(data, "SIZE ", 5) == 0) {
        message.kind = WireMessage::Kind::LabelJob;
        message.jobLines = jobLines(data, length);
    }

    // The printer answers only its latest message: whatever was not read of an
    // earlier answer is gone.
    auto own = answer(message);
    received_.push_back(std::move(message));
    pending_.reset();
    if (!scripted_.empty()) {
        auto scripted = std::move(scripted_.front());
        scripted_.pop_front();
        if (!scripted.never) pending_ = PendingReply{std::move(scripted.bytes), nowMs + scripted.delayMs};
    } else if (!own.empty()) {
        pending_ = PendingReply{std::move(own), nowMs + replyDelayMs};
    }
}

std::vector<std::uint8_t> SimPrinter::answer(const WireMessage& message) {
    auto settingAnswer = [&](std::uint8_t group) {
        return acknowledgement(settingAck, frame(group, {0x01}), frame(group, {0x00})).value_or(Bytes{});
    };
    if (message.kind == WireMessage::Kind::FirmwareDownload) {
        // An image shorter or longer than announced is refused whatever the
        // printer was told to do with good ones.
        auto behaviour = message.imageLength == message.declaredSize ? firmwareAck : AckBehaviour::Refuse;
        return acknowledgement(behaviour, {0x1F, 0x75, 0x01, 0x01, 0x01}, {0x1F, 0x75, 0x01, 0x01, 0x00})
            .value_or(Bytes{});
    }
    if (message.kind != WireMessage::Kind::Frame) return {};

    const auto& d = message.data;
    switch (message.group) {
        case 0:
            if (d.size() == 15) {
                settings = settingsFromWrite(d);
                return settingAnswer(0);
            }
            return {};
        case 1:
            if (d == Bytes{0x02}) return {0xFF, 0xFF, 0xFF, 0xF0};
            if (d == Bytes{0x01}) {
                settings = PrintSettings{};
                return settingAnswer(1);
            }
            if (d.size() == 2 && d[0] == 0x00) {
                userDefSetting = d[1];
                return settingAnswer(1);
            }
            return {};
        case 2:
            if (d == Bytes{0x02}) return settingAnswer(2);
            return {};
        case 3:
            if (d.size() == 2 && d[0] == 0x02) {
                dumpMode = d[1];
                return settingAnswer(3);
            }
            if (d == Bytes{0x01}) return {};  // self-test: it prints, it does not answer
            if (d == Bytes{0x03}) return numberReply(3, 0x03, badDotCount);
            if (d.size() == 1) {
                locationSetting = d[0];
                return settingAnswer(3);
            }
            return {};
        case 4:
            if (d.size() != 1) return {};
            switch (d[0]) {
                case 0: return textReply(0, type);
                case 1: return numberReply(4, 1, status);
                case 2: return textReply(2, serialNumber);
                case 3: return textReply(3, firmwareVersion);
                case 4: return numberReply(4, 4, printedLength);
                default: return {};
            }
        case 5:
            if (d == Bytes{0x00}) return printSettingsReply(settings);
            return {};
        default: return {};
    }
}

}  // namespace hx::sim
