// The error and text exports: last-error persistence, error texts, and the
// text table in the system's language.
#include <algorithm>

#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

constexpr uint16_t kFill = 0xAAAA;

struct Buffer {
    Buffer() { std::fill(std::begin(units), std::end(units), kFill); }
    uint16_t units[64];
    bool untouched() const {
        return std::all_of(std::begin(units), std::end(units), [](uint16_t u) { return u == kFill; });
    }
};

struct LanguageCase {
    std::uint16_t langId;
    std::u16string lackPaper;
    std::u16string error53;
};

class Languages : public SettingToolTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(Languages, TextsFollowTheSystemDefaultLanguage) {
    machine.system().defaultLangId = GetParam().langId;
    Buffer text;
    ASSERT_EQ(BaseGetPOText("PO_HX_PRINT_STATUS_LACK_PAPER", text.units), text.units);
    EXPECT_EQ(u16(text.units), GetParam().lackPaper);
    BaseGetHXErrorString(53, text.units);
    EXPECT_EQ(u16(text.units), GetParam().error53);
}

INSTANTIATE_TEST_SUITE_P(LangIds, Languages,
                         ::testing::Values(LanguageCase{0x0804, u"缺纸", u"向USB打印机读取失败"},
                                           LanguageCase{0x0409, u"Lack of paper", u"Read from usb fail"},
                                           LanguageCase{0x0404, u"Lack of paper", u"Read from usb fail"},
                                           LanguageCase{0x1004, u"Lack of paper", u"Read from usb fail"}),
                         [](const auto& info) { return "LangId" + std::to_string(info.param.langId); });

TEST_F(SettingToolTest, TheLanguageIsReadOnceForTheProcess) {
    Buffer text;
    ASSERT_NE(BaseGetPOText("PO_GSTR_SET", text.units), nullptr);
    EXPECT_EQ(u16(text.units), u"Set");
    machine.system().defaultLangId = 0x0804;
    ASSERT_NE(BaseGetPOText("PO_GSTR_SETTING_FAIL", text.units), nullptr);
    EXPECT_EQ(u16(text.units), u"Setting Fail");
}

TEST_F(SettingToolTest, KeysMatchWholeAndCaseSensitively) {
    for (const char* key : {"PO_GSTR_set", "PO_GSTR_SE", "PO_GSTR_SETTING", "", "PO_GSTR_SET "}) {
        Buffer text;
        EXPECT_EQ(BaseGetPOText(key, text.units), nullptr) << key;
        EXPECT_TRUE(text.untouched()) << key;
    }
    EXPECT_EQ(BaseGetPOText(nullptr, Buffer().units), nullptr);
    EXPECT_EQ(BaseGetPOText("PO_GSTR_SET", nullptr), nullptr);  // nothing to write into
}

TEST_F(SettingToolTest, ErrorTexts) {
    struct Case {
        int32_t code;
        std::u16string text;  // empty: the buffer stays untouched
    };
    const Case cases[] = {
        {0, u"Success"},
        {1, u"Invalid Param"},
        {2, u"File Not Find"},
        {9, u"Invalid firmware"},
        {50, u"Can't find usb printer"},
        {51, u"Can't open usb printer"},
        {52, u"Write to usb fail"},
        {53, u"Read from usb fail"},
        {54, u"Read USB wait timeout"},
        {55, u"This version nonsupport to get setting result"},
        {56, u"Operation failed,Printer is not ready"},
        {3, u""}, {8, u""}, {10, u""}, {49, u""}, {57, u""}, {-1, u""}, {-53, u""},
    };
    for (const auto& c : cases) {
        Buffer text;
        BaseGetHXErrorString(c.code, text.units);
        if (c.text.empty()) {
            EXPECT_TRUE(text.untouched()) << c.code;
        } else {
            EXPECT_EQ(u16(text.units), c.text) << c.code;
            EXPECT_EQ(text.units[c.text.size() + 1], kFill) << "wrote past the terminator for " << c.code;
        }
    }
    BaseGetHXErrorString(53, nullptr);  // no buffer: nothing happens
}

TEST_F(SettingToolTest, TheLastErrorOutlivesLaterSuccesses) {
    EXPECT_EQ(BaseGetHXError(), HX_ERR_SUCCESS);
    noReply();
    int32_t status = 0;
    EXPECT_EQ(HXGetPrinterIsOK(&status), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
    EXPECT_EQ(HXGetPrinterIsOK(&status), 1);
    EXPECT_EQ(USBCheckConnection(), 1);
    Buffer text;
    EXPECT_NE(BaseGetPOText("PO_GSTR_SET", text.units), nullptr);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL);
}

}  // namespace
}  // namespace hx::test
