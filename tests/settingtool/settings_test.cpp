// Setting frames, acknowledgements and the print setting read-back.
#include <array>
#include <cstring>
#include <functional>

#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

HXPrintSettingParam sampleSettings() {
    HXPrintSettingParam p{};
    p.field1 = 0x11;
    p.field2 = 0x22;
    p.field3 = 0x0203;
    p.field4 = 4;
    p.field5 = 5;
    p.field6 = 6;
    p.field7 = 7;
    p.field8 = 8;
    p.field9 = 9;
    p.field10 = 10;
    p.field11 = 11;
    p.field12 = -5;
    p.field13 = 0xABCD;
    return p;
}

const uint8_t kValue = 0x5A;

struct SettingFrame {
    const char* name;
    std::function<int32_t()> call;
    Bytes frame;
};

class SettingFrames : public SettingToolTest, public ::testing::WithParamInterface<SettingFrame> {};

TEST_P(SettingFrames, AreTheBytesOnTheWire) {
    ASSERT_EQ(USBCheckConnection(), 1);
    EXPECT_EQ(GetParam().call(), 1);
    EXPECT_EQ(wire().back().bytes, GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Exports, SettingFrames,
    ::testing::Values(
        SettingFrame{"PrintSetting",
                     [] { const auto p = sampleSettings(); return HXSetPrintSetting(&p); },
                     {0x1F, 0x1B, 0x1A, 0x00, 0x0F, 0x11, 0x22, 0x03, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 0xFB, 0xCD, 0xAB}},
        SettingFrame{"UserDef", [] { return HXSetUserDefSetting(&kValue); }, {0x1F, 0x1B, 0x1A, 1, 2, 0, 0x5A}},
        SettingFrame{"Factory", [] { return HXRestoreFactorySettings(); }, {0x1F, 0x1B, 0x1A, 1, 1, 1}},
        SettingFrame{"Location", [] { return HXSetLocationSetting(&kValue); }, {0x1F, 0x1B, 0x1A, 3, 1, 0x5A}},
        SettingFrame{"DumpModeLowByte", [] { return HXSetDumpMode(0x1234); }, {0x1F, 0x1B, 0x1A, 3, 2, 2, 0x34}},
        SettingFrame{"PaperLearn", [] { return HXLabelLackPaperLearn(); }, {0x1F, 0x1B, 0x1A, 2, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

struct AckCase {
    const char* name;
    std::function<int32_t()> command;
    Bytes acknowledgement;
    int32_t result;
};

class Acknowledgements : public SettingToolTest, public ::testing::WithParamInterface<AckCase> {};

TEST_P(Acknowledgements, AreJudgedByTheKindOfTheLastCommand) {
    ASSERT_EQ(USBCheckConnection(), 1);
    const auto param = GetParam();
    reply(param.acknowledgement);
    ASSERT_EQ(param.command(), 1);
    const int32_t errorBefore = BaseGetHXError();
    EXPECT_EQ(GetSettingResult(), param.result);
    EXPECT_EQ(BaseGetHXError(), errorBefore);  // a refusal stores no code
}

const auto kPrintSetting = [] { const auto p = sampleSettings(); return HXSetPrintSetting(&p); };
INSTANTIATE_TEST_SUITE_P(
    Kinds, Acknowledgements,
    ::testing::Values(
        AckCase{"PrintSettingAccepted", kPrintSetting, {0x1F, 0x1B, 0x1A, 0, 1, 1}, 1},
        AckCase{"PrintSettingOtherGroup", kPrintSetting, {0x1F, 0x1B, 0x1A, 1, 1, 1}, 0},
        AckCase{"UserDefAccepted", [] { return HXSetUserDefSetting(&kValue); }, {0x1F, 0x1B, 0x1A, 1, 1, 1}, 1},
        AckCase{"FactoryAccepted", [] { return HXRestoreFactorySettings(); }, {0x1F, 0x1B, 0x1A, 1, 1, 1, 9, 9}, 1},
        AckCase{"FactoryRefused", [] { return HXRestoreFactorySettings(); }, {0x1F, 0x1B, 0x1A, 1, 1, 0}, 0},
        AckCase{"DumpModeAccepted", [] { return HXSetDumpMode(1); }, {0x1F, 0x1B, 0x1A, 3, 1, 1}, 1},
        AckCase{"DumpModeRefused", [] { return HXSetDumpMode(1); }, {0x1F, 0x1B, 0x1A, 3, 1, 0}, 0},
        AckCase{"PaperLearnAccepted", [] { return HXLabelLackPaperLearn(); }, {0x1F, 0x1B, 0x1A, 2, 1, 1}, 1},
        AckCase{"PaperLearnTruncated", [] { return HXLabelLackPaperLearn(); }, {0x1F, 0x1B, 0x1A, 2, 1}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, LocationAcknowledgement) {
    reply(queryReply(5, {0, 0, 0, 0}, 4, 1));   // status: ready
    reply({0x1F, 0x1B, 0x1A, 3, 1, 1});          // the location command's answer
    ASSERT_EQ(HXSetLocationSetting(&kValue), 1);
    EXPECT_EQ(GetSettingResult(), 1);
}

TEST_F(SettingToolTest, NoSettingCommandYetMeansNoAcknowledgement) {
    reply({0x1F, 0x1B, 0x1A, 1, 1, 1});
    ASSERT_EQ(USBCheckConnection(), 0);  // the scripted bytes are not the connection answer
    EXPECT_EQ(GetSettingResult(), 0);
}

TEST_F(SettingToolTest, AnAcknowledgementThatNeverComesCostsThreeReads) {
    printer().settingAck = sim::AckBehaviour::Silent;
    ASSERT_EQ(HXRestoreFactorySettings(), 1);
    const auto start = machine.nowMs();
    EXPECT_EQ(GetSettingResult(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_BEYOND_MAX_TIME);
    EXPECT_EQ(machine.nowMs() - start, 3000u);
    EXPECT_FALSE(lockHeld());
}

TEST_F(SettingToolTest, TheSimulatedPrinterAcknowledgesAsTold) {
    for (auto [behaviour, expected] : {std::pair{sim::AckBehaviour::Accept, 1}, std::pair{sim::AckBehaviour::Refuse, 0}}) {
        printer().settingAck = behaviour;
        ASSERT_EQ(HXSetDumpMode(1), 1);
        EXPECT_EQ(GetSettingResult(), expected);
    }
}

TEST_F(SettingToolTest, AFailedWriteLeavesTheKindSet) {
    ASSERT_EQ(USBCheckConnection(), 1);
    // Part of the frame reaches the printer, which answers all the same.
    machine.shortenDeviceWrites(5, 1);
    reply({0x1F, 0x1B, 0x1A, 3, 1, 1});
    EXPECT_EQ(HXSetDumpMode(1), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_WRITE_USB_FAIL);
    EXPECT_EQ(GetSettingResult(), 1);
}

TEST_F(SettingToolTest, QueriesAndPrintsDoNotChangeTheKind) {
    ASSERT_EQ(HXSetDumpMode(7), 1);
    const std::function<int32_t()> others[] = {
        [] { return USBCheckConnection(); },
        [] { int32_t v; return HXGetPrinterIsOK(&v); },
        [] { int32_t v; return HXBadPointCheck(&v); },
        [] { HXPrinterInfo info; return HXGetPrinterInfo(&info); },
        [] { HXPrintSettingParam p; return HXGetPrinterPrintSettingParam(&p); },
        [] { return HXSelfTestPrint(); },
    };
    for (const auto& call : others) {
        EXPECT_EQ(call(), 1);
        EXPECT_EQ(session().settingKind, settingtool::SettingKind::DumpMode);
    }
}

TEST_F(SettingToolTest, LocationIsRefusedWhenThePrinterIsNotReady) {
    printer().status = 3;
    EXPECT_EQ(HXSetLocationSetting(&kValue), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_PRINT_STATUS_IS_NOT_READY);
    ASSERT_EQ(wire().size(), 1u);
    EXPECT_EQ(wire()[0].bytes, (Bytes{0x1F, 0x1B, 0x1A, 4, 1, 1}));
    // The status comes first even for a null value.
    printer().status = 0;
    EXPECT_EQ(HXSetLocationSetting(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
    EXPECT_EQ(wire().size(), 2u);
}

TEST_F(SettingToolTest, PrintSettingsRoundTripThroughThePrinter) {
    const auto written = sampleSettings();
    ASSERT_EQ(HXSetPrintSetting(&written), 1);
    HXPrintSettingParam read{};
    ASSERT_EQ(HXGetPrinterPrintSettingParam(&read), 1);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
}

TEST_F(SettingToolTest, PrintSettingReplyLayout) {
    struct Case {
        std::uint8_t byte17;
        std::int16_t field12;
    };
    for (const Case c : {Case{0x85, -5}, Case{0x05, 5}, Case{0x80, 0}, Case{0xFF, -127}, Case{0x7F, 127}}) {
        reply({0, 0, 0, 0, 15, 9, 1, 2, 0x03, 0x02, 4, 5, 7, 6, 8, 10, 11, c.byte17, 0xCD, 0xAB});
        HXPrintSettingParam p{};
        ASSERT_EQ(HXGetPrinterPrintSettingParam(&p), 1);
        EXPECT_EQ(p.field12, c.field12) << std::hex << int(c.byte17);
        EXPECT_EQ(p.field9, 9);
        EXPECT_EQ(p.field1, 1);
        EXPECT_EQ(p.field2, 2);
        EXPECT_EQ(p.field3, 0x0203);
        EXPECT_EQ(p.field6, 6);
        EXPECT_EQ(p.field7, 7);
        EXPECT_EQ(p.field11, 11);
        EXPECT_EQ(p.field13, 0xABCD);
    }
}

TEST_F(SettingToolTest, PrintSettingQueryFailures) {
    HXPrintSettingParam p{};
    p.field1 = 42;
    reply({0, 0, 0, 0, 1, 9, 9});
    EXPECT_EQ(HXGetPrinterPrintSettingParam(&p), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
    EXPECT_EQ(p.field1, 42);
    EXPECT_FALSE(lockHeld());

    EXPECT_EQ(HXGetPrinterPrintSettingParam(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
}

TEST_F(SettingToolTest, NullSettingArgumentsAreRefusedBeforeThePrinterIsSought) {
    machine.setUsbInterfaces({});
    EXPECT_EQ(HXSetPrintSetting(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
    EXPECT_EQ(HXSetUserDefSetting(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
    EXPECT_EQ(HXRestoreFactorySettings(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);
}

}  // namespace
}  // namespace hx::test
