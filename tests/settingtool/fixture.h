// Shared set-up for the settings library's tests: a fresh simulated machine
// with the HX-352 attached, installed as the process platform, and a check
// after every test that nothing but the transfer lock was left open.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "settingtool/HX352SettingTool.h"
#include "settingtool/session.h"

namespace hx::test {

using Bytes = std::vector<std::uint8_t>;

// A query reply: 1F 1B 1A group N sub payload.
inline Bytes queryReply(std::uint8_t n, Bytes payload, std::uint8_t group = 4, std::uint8_t sub = 0) {
    Bytes out{0x1F, 0x1B, 0x1A, group, n, sub};
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

class SettingToolTest : public ::testing::Test {
protected:
    void TearDown() override {
        const auto open = machine.openResources();
        EXPECT_EQ(open.deviceHandles, 0);
        EXPECT_EQ(open.deviceInfoSets, 0);
        EXPECT_EQ(open.heapBlocks, 0);
        // The transfer lock may stay held by design; nothing else may.
        EXPECT_EQ(open.fileHandles, lockHeld() ? 1 : 0);
    }

    sim::SimPrinter& printer() { return machine.printer(); }
    const std::vector<sim::WireMessage>& wire() { return printer().received(); }
    settingtool::Session& session() { return settingtool::Session::process(); }
    bool lockHeld() { return session().transport.lockHeld(); }

    // Every frame the printer received, as bytes, in order.
    std::vector<Bytes> frames() {
        std::vector<Bytes> out;
        for (const auto& message : wire()) out.push_back(message.bytes);
        return out;
    }

    void reply(Bytes bytes, std::uint32_t delayMs = 0) { printer().scriptReply({std::move(bytes), delayMs, false}); }
    void noReply() { printer().scriptReply({{}, 0, true}); }

    sim::Machine machine;
    settingtool::ScopedSessionForTesting scope{machine.platform()};
};

inline std::u16string u16(const std::uint16_t* text) { return reinterpret_cast<const char16_t*>(text); }

// An HXTextTestParam with its text, in storage that lives as long as the object.
class TextTestParam {
public:
    TextTestParam(std::uint8_t width, std::uint8_t height, const std::u16string& text)
        : storage_(2 + (text.size() + 1) * sizeof(char16_t)) {
        storage_[0] = width;
        storage_[1] = height;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            const char16_t unit = i < text.size() ? text[i] : u'\0';
            storage_[2 + 2 * i] = static_cast<std::uint8_t>(unit & 0xFF);
            storage_[3 + 2 * i] = static_cast<std::uint8_t>(unit >> 8);
        }
    }
    const HXTextTestParam* get() const { return reinterpret_cast<const HXTextTestParam*>(storage_.data()); }

private:
    std::vector<std::uint8_t> storage_;
};

}  // namespace hx::test
