// Query frames and the decoding of number and text replies.
#include <functional>

#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

constexpr int32_t kUntouched = -12345;

struct NumberCase {
    const char* name;
    Bytes reply;
    bool ok;
    int32_t value;  // kUntouched: the output keeps its value
};

class NumberReplies : public SettingToolTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(NumberReplies, AreDecodedLittleEndianByTheirCount) {
    reply(GetParam().reply);
    int32_t value = kUntouched;
    EXPECT_EQ(HXGetPrinterPrintedLen(&value), GetParam().ok ? 1 : 0);
    EXPECT_EQ(value, GetParam().value);
    if (!GetParam().ok) { EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL); }
    EXPECT_FALSE(lockHeld());
}

INSTANTIATE_TEST_SUITE_P(
    Counts, NumberReplies,
    ::testing::Values(
        NumberCase{"OneByte", queryReply(2, {0xC8, 0xFF}), true, 200},
        NumberCase{"TwoBytes", queryReply(3, {0x34, 0x12}), true, 4660},
        NumberCase{"FourBytes", queryReply(5, {0x01, 0x00, 0x01, 0x00}), true, 65537},
        NumberCase{"FourBytesNegative", queryReply(5, {0xFE, 0xFF, 0xFF, 0xFF}), true, -2},
        NumberCase{"ThreeBytesKeepsOutput", queryReply(4, {1, 2, 3}), true, kUntouched},
        NumberCase{"SixBytesKeepsOutput", queryReply(6, {1, 2, 3, 4, 5}), true, kUntouched},
        NumberCase{"CountOneFails", queryReply(1, {}), false, kUntouched},
        NumberCase{"CountZeroFails", queryReply(0, {}), false, kUntouched}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, TextRepliesAreCutAtZeroAndConvertedFromTheAnsiCodePage) {
    struct Case {
        Bytes reply;
        std::uint32_t codePage;
        std::u16string expected;
    };
    const Case cases[] = {
        {queryReply(5, {'V', '1', '.', '0', 0}), 65001, u"V1.0"},
        {queryReply(9, {'A', 'B', 0, 'C', 'D'}), 65001, u"AB"},
        {queryReply(3, {'X', 'Y', 'Z', 'W'}), 65001, u"XYZ"},  // N bytes from offset 6
        {queryReply(4, {'C', 0xE9, 'T', 0}), 1252, u"C\u00e9T"},
        {queryReply(3, {0xC3, 0xA9, 0}), 65001, u"\u00e9"},
        {queryReply(2, {0}), 65001, u""},
    };
    for (const auto& c : cases) {
        machine.system().ansiCodePage = c.codePage;
        reply(c.reply);
        uint16_t text[64];
        std::fill(std::begin(text), std::end(text), 0xAAAA);
        ASSERT_EQ(HXGetPrinterFirmwareVer(text), 1);
        EXPECT_EQ(u16(text), c.expected);
    }
}

TEST_F(SettingToolTest, ATextReplyClaimingMoreThanTheBufferStaysInsideIt) {
    Bytes payload(58, 'x');
    reply(queryReply(200, payload));
    uint16_t text[64 + 4];
    std::fill(std::begin(text), std::end(text), 0xAAAA);
    ASSERT_EQ(HXGetPrinterSerialNum(text), 1);
    EXPECT_EQ(u16(text), std::u16string(58, u'x'));
    for (int i = 64; i < 68; ++i) EXPECT_EQ(text[i], 0xAAAA) << "written past the 64-unit buffer at " << i;
}

struct QueryFrame {
    const char* name;
    std::function<int32_t()> call;
    Bytes frame;
};

class QueryFrames : public SettingToolTest, public ::testing::WithParamInterface<QueryFrame> {};

TEST_P(QueryFrames, AreTheBytesOnTheWire) {
    (void)GetParam().call();
    ASSERT_FALSE(wire().empty());
    EXPECT_EQ(wire().back().bytes, GetParam().frame);
}

uint16_t g_text[64];
int32_t g_number;

INSTANTIATE_TEST_SUITE_P(
    Exports, QueryFrames,
    ::testing::Values(QueryFrame{"Connection", [] { return USBCheckConnection(); }, {0x1F, 0x1B, 0x1A, 1, 1, 2}},
                      QueryFrame{"Type", [] { return HXGetPrinterType(g_text); }, {0x1F, 0x1B, 0x1A, 4, 1, 0}},
                      QueryFrame{"Status", [] { return HXGetPrinterIsOK(&g_number); }, {0x1F, 0x1B, 0x1A, 4, 1, 1}},
                      QueryFrame{"Serial", [] { return HXGetPrinterSerialNum(g_text); }, {0x1F, 0x1B, 0x1A, 4, 1, 2}},
                      QueryFrame{"Firmware", [] { return HXGetPrinterFirmwareVer(g_text); }, {0x1F, 0x1B, 0x1A, 4, 1, 3}},
                      QueryFrame{"Length", [] { return HXGetPrinterPrintedLen(&g_number); }, {0x1F, 0x1B, 0x1A, 4, 1, 4}},
                      QueryFrame{"BadDots", [] { return HXBadPointCheck(&g_number); }, {0x1F, 0x1B, 0x1A, 3, 1, 3}},
                      QueryFrame{"PrintSettings",
                                 [] { HXPrintSettingParam p; return HXGetPrinterPrintSettingParam(&p); },
                                 {0x1F, 0x1B, 0x1A, 5, 1, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, TheSimulatedPrinterAnswersEveryQuery) {
    printer().type = "HX-352";
    printer().serialNumber = "SN42";
    printer().firmwareVersion = "V2.3";
    printer().status = 0;
    printer().printedLength = 123456;
    HXPrinterInfo info{};
    ASSERT_EQ(HXGetPrinterInfo(&info), 1);
    EXPECT_EQ(u16(info.printerType), u"HX-352");
    EXPECT_EQ(u16(info.serialNumber), u"SN42");
    EXPECT_EQ(u16(info.firmwareVersion), u"V2.3");
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.printedLength, 123456);
    // Type, status, printed length, serial number, firmware version.
    std::vector<std::uint8_t> order;
    for (const auto& message : wire()) order.push_back(message.data.at(0));
    EXPECT_EQ(order, (std::vector<std::uint8_t>{0, 1, 4, 2, 3}));
}

TEST_F(SettingToolTest, ConnectionCheckAnswers) {
    reply({0xFF, 0xFF, 0xFF, 0xF0});
    EXPECT_EQ(USBCheckConnection(), 1);

    (void)HXLabelLackPaperLearn();  // leaves 51 without the printer's path... but the path is known now
    reply({0xFF, 0xFF, 0xFF, 0xF1});
    const int32_t before = BaseGetHXError();
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), before);  // a different answer stores no code

    noReply();
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
}

TEST_F(SettingToolTest, PrinterInfoChecksThePrinterBeforeTheRecord) {
    machine.setUsbInterfaces({});
    EXPECT_EQ(HXGetPrinterInfo(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);

    machine.setUsbInterfaces({{sim::Machine::defaultPrinterPath, std::make_shared<sim::SimPrinter>()}});
    EXPECT_EQ(HXGetPrinterInfo(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
}

TEST_F(SettingToolTest, PrinterInfoKeepsTheFieldsFilledBeforeAFailure) {
    printer().printedLength = 77;
    printer().status = 0;
    reply(queryReply(4, {'T', '1', 0}));  // type
    reply(queryReply(5, {0, 0, 0, 0}));   // status
    reply(queryReply(2, {77}));           // printed length
    noReply();                            // serial number
    HXPrinterInfo info{};
    info.firmwareVersion[0] = u'?';
    EXPECT_EQ(HXGetPrinterInfo(&info), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
    EXPECT_EQ(u16(info.printerType), u"T1");
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.printedLength, 77);
    EXPECT_EQ(info.serialNumber[0], 0);
    EXPECT_EQ(info.firmwareVersion[0], u'?');
    EXPECT_EQ(wire().size(), 4u);  // the firmware version was never asked
}

TEST_F(SettingToolTest, NullOutputsAreRefusedBeforeAnyExchange) {
    const std::function<int32_t()> calls[] = {
        [] { return HXGetPrinterType(nullptr); },      [] { return HXGetPrinterSerialNum(nullptr); },
        [] { return HXGetPrinterFirmwareVer(nullptr); }, [] { return HXGetPrinterIsOK(nullptr); },
        [] { return HXGetPrinterPrintedLen(nullptr); }, [] { return HXBadPointCheck(nullptr); },
    };
    for (const auto& call : calls) {
        EXPECT_EQ(call(), 0);
        EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
    }
    EXPECT_TRUE(wire().empty());
}

TEST_F(SettingToolTest, NoPrinterMeansErrorFifty) {
    machine.setUsbInterfaces({});
    int32_t value = 0;
    uint16_t text[64];
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);
    EXPECT_EQ(HXGetPrinterType(text), 0);
    EXPECT_EQ(HXGetPrinterIsOK(&value), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);
}

}  // namespace
}  // namespace hx::test
