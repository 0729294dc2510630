// The settings library's text table: its rows, lookups by key and by error
// code, and the choice of language.
#include "settingtool/texts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

namespace hx::settingtool {
namespace {

constexpr const char* kExpectedKeys[] = {
    "PO_HX_ERR_SUCCESS", "PO_HX_ERR_INVALID_PARAM", "PO_HX_ERR_FILE_NOT_FIND", "PO_HX_ERR_INVALID_FIRMWARE",
    "PO_HX_ERR_NOT_FINE_USB_PRINTER", "PO_HX_ERR_CANNOT_OPEN_USB_PRINTER", "PO_HX_ERR_WRITE_USB_FAIL",
    "PO_HX_ERR_READ_USB_FAIL", "PO_HX_ERR_READ_USB_BEYOND_MAX_TIME", "PO_HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT",
    "PO_HX_ERR_PRINT_STATUS_IS_NOT_READY", "PO_GSTR_MAIN_DLG_CAPTION", "PO_IDC_BUTTON_ADD_PRINTER",
    "PO_IDC_BUTTON_MODIFY_PRINTER", "PO_IDC_BUTTON_DEL_PRINTER", "PO_IDC_BUTTON_CONNECT_TEST",
    "PO_IDC_BUTTON_SHOW_PRINTER_INFO", "PO_IDC_BUTTON_MAIN_DOWNLOAD", "PO_IDC_BUTTON_SET_PRINTER",
    "PO_DOWNLOAD_DLG_CAPTION", "PO_DOWNLOAD_DLG_PROGRAM", "PO_GSTR_OPERATION_FAIL", "PO_GSTR_OPERATION_SUCCESS",
    "PO_IDC_STATIC_LABEL_AUTO_LEARN", "PO_GSTR_LEARN", "PO_IDC_STATIC_LACK_PAPER_LEARN", "PO_GSTR_SUCCESS",
    "PO_PRINTER_SET_DLG_CAPTION", "PO_PRINTER_SET_DLG_PRINT_SETTING", "PO_PRINTER_SET_DLG_USER_DEF",
    "PO_PRINTER_SET_DLG_LOCATION", "PO_PRINTER_SET_DLG_TEST", "PO_GSTR_PLEASE_INPUT_NUMBER", "PO_GSTR_SETTING_FAIL",
    "PO_GSTR_SETTING_SUCCESS", "PO_IDC_STATIC_PRINT_TYPE", "PO_IDC_STATIC_POWER_ON_POSITION",
    "PO_IDC_STATIC_LABEL_HEIGHT", "PO_IDC_STATIC_PAPER_TYPE", "PO_IDC_STATIC_REPRINT_WHEN_ERROR",
    "PO_IDC_STATIC_AFTER_PRINTING", "PO_IDC_STATIC_N_MINUTES_LATER_OPEN", "PO_IDC_STATIC_PREVENT_STICKER",
    "PO_IDC_STATIC_SPECIAL_LABEL", "PO_IDC_STATIC_PRINT_SPEED", "PO_IDC_STATIC_DARKNESS_SETTING",
    "PO_IDC_STATIC_H_ORIGIN", "PO_IDC_STATIC_VERTICAL_ORIGIN", "PO_IDC_STATIC_PRINT_TO_STOP", "PO_GSTR_SET",
    "PO_GSTR_THERMAL", "PO_GSTR_RIBBONS", "PO_GSTR_DISABLE", "PO_GSTR_OPEN", "PO_GSTR_IS_SET_DUMP", "PO_GSTR_ENABLE",
    "PO_GSTR_RECEIPT", "PO_GSTR_LABEL", "PO_GSTR_BLACK_MARK", "PO_GSTR_UPDATE_FAIL", "PO_GSTR_UPDATE_SUCCESS",
    "PO_IDC_STATIC_PROGRAM_SELECT", "PO_IDC_BUTTON_PROGRAM_OPEN", "PO_IDC_BUTTON_PROGRAM_UPDATE",
    "PO_DLG_SHOW_PRINTER_INFOMATION", "PO_IDC_STATIC_PRINTER_TYPE", "PO_IDC_STATIC_PRINTER_SERIAL_NUMBER",
    "PO_IDC_STATIC_PRINTER_FIRMWARE_VERSION", "PO_IDC_STATIC_PRINTER_PRINT_LENGTH", "PO_IDC_STATIC_PRINTER_STATUS",
    "PO_IDC_STATIC_PREVENT_TIME", "PO_IDC_STATIC_SHOW_MINUTES", "PO_HX_PRINT_STATUS_PRINT_PAUSE",
    "PO_HX_PRINT_STATUS_STUCK_PAPER", "PO_HX_PRINT_STATUS_VOLTAGE_ERR", "PO_HX_PRINT_STATUS_LACK_PAPER",
    "PO_HX_PRINT_STATUS_SWITCH_NOT_PLACE", "PO_HX_PRINT_STATUS_OVER_HEART", "PO_HX_PRINT_STATUS_RAM_TEST_FAIL",
    "PO_HX_PRINT_STATUS_READY", "PO_GSTR_PRINT_SELF_TEXT_SUCCESS", "PO_IDC_STATIC_FIND_BAD_POINT",
    "PO_IDC_STATIC_DUMP_MODE", "PO_IDC_STATIC_BAD_POINT_CHECK", "PO_IDC_STATIC_BAD_POINT_CHECK_RESULT_NORMAL",
    "PO_GSTR_SELF_TEST", "PO_IDC_BUTTON_PRINT_TEXT_TEST", "PO_IDC_BUTTON_BAD_POINT_CHECK", "PO_GSTR_PRINT_SUCCESS",
    "PO_GSTR_TEXT_TEST_DLG_CAPTION", "PO_IDC_STATIC_PRINT_TEXT_TEST_ENTER", "PO_IDC_STATIC_SET_AREA_PRINT",
    "PO_IDC_STATIC_PRINTABLE_WIDTH", "PO_IDC_STATIC_PRINTABLE_HEIGHT", "PO_GSTR_PRINT", "PO_GSTR_CANCEL",
    "PO_GSTR_SET_DEFAULT_FAIL", "PO_GSTR_SET_DEFAULT_SUCCESS", "PO_IDC_STATIC_USER_BEEP",
    "PO_IDC_BUTTON_USER_DEF_SET_DEFAULT",
};

TEST(TextTable, HoldsEveryKeyOnceInTheFixedOrder) {
    const auto table = textTable();
    ASSERT_EQ(table.size(), std::size(kExpectedKeys));
    for (std::size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(kExpectedKeys[i]);
        EXPECT_STREQ(table[i].key, kExpectedKeys[i]) << "row " << i;
        // Lookup returns the row itself, so no earlier row shadows this key.
        EXPECT_EQ(findTextRow(kExpectedKeys[i]), &table[i]);
    }
}

TEST(TextTable, EveryTextIsPresentAndFitsTheCallersBuffer) {
    std::size_t longest = 0;
    for (const TextRow& row : textTable()) {
        SCOPED_TRACE(row.key);
        for (const char16_t* text : {row.english, row.chinese}) {
            ASSERT_NE(text, nullptr);
            const std::size_t units = std::u16string_view(text).size();
            EXPECT_GT(units, 0u);
            EXPECT_LE(units, kLongestTextUnits);
            longest = std::max(longest, units);
        }
    }
    EXPECT_EQ(longest, kLongestTextUnits);
}

struct GivenText {
    const char* key;
    std::u16string_view english;
    std::u16string_view chinese;
};

class GivenTexts : public testing::TestWithParam<GivenText> {};

TEST_P(GivenTexts, ReadAsGivenInBothLanguages) {
    const GivenText& given = GetParam();
    const TextRow* row = findTextRow(given.key);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(rowText(*row, Language::English), given.english);
    EXPECT_EQ(rowText(*row, Language::SimplifiedChinese), given.chinese);
}

INSTANTIATE_TEST_SUITE_P(
    TextTable, GivenTexts,
    testing::Values(
        GivenText{"PO_HX_ERR_SUCCESS", u"Success", u"成功"},
        GivenText{"PO_HX_ERR_FILE_NOT_FIND", u"File Not Find", u"文件未找到"},
        GivenText{"PO_HX_ERR_READ_USB_FAIL", u"Read from usb fail", u"向USB打印机读取失败"},
        GivenText{"PO_HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT", u"This version nonsupport to get setting result",
                  u"该版本不支持获取设置结果反馈"},
        GivenText{"PO_HX_ERR_PRINT_STATUS_IS_NOT_READY", u"Operation failed,Printer is not ready",
                  u"操作失败，打印机未处于就绪状态"},
        GivenText{"PO_HX_PRINT_STATUS_LACK_PAPER", u"Lack of paper", u"缺纸"},
        GivenText{"PO_HX_PRINT_STATUS_OVER_HEART", u"Over heart", u"打印头过热"},
        GivenText{"PO_HX_PRINT_STATUS_RAM_TEST_FAIL", u"ARM test fail", u"RAM测试不通过"},
        GivenText{"PO_HX_PRINT_STATUS_READY", u"Ready", u"打印机准备就绪"},
        GivenText{"PO_GSTR_UPDATE_SUCCESS", u"Update Success, Please wait for restart", u"更新成功，请等待打印机重启"},
        GivenText{"PO_GSTR_SETTING_FAIL", u"Setting Fail", u"设置失败！"},
        GivenText{"PO_GSTR_SELF_TEST", u"Location", u"打印自测页"},
        GivenText{"PO_GSTR_IS_SET_DUMP", u"Dump mode open?", u"是否开启除错模式？"}),
    [](const testing::TestParamInfo<GivenText>& info) { return std::string(info.param.key); });

TEST(TextTable, FixedEnglishWords) {
    const struct {
        const char* key;
        std::u16string_view english;
    } cases[] = {
        {"PO_GSTR_SET", u"Set"},
        {"PO_GSTR_MAIN_DLG_CAPTION", u"HX-352SettingTool"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const TextRow* row = findTextRow(c.key);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(rowText(*row, Language::English), c.english);
    }
}

TEST(FindTextRow, MatchesWholeKeysExactly) {
    const struct {
        const char* key;
        const char* foundKey;  // null: no row
    } cases[] = {
        {"PO_GSTR_SET", "PO_GSTR_SET"},
        {"PO_GSTR_SETTING_FAIL", "PO_GSTR_SETTING_FAIL"},
        {"po_gstr_set", nullptr},
        {"PO_GSTR_Set", nullptr},
        {"PO_HX_PRINT_STATUS_LACK_PAPEr", nullptr},
        {"PO_GSTR_SETTING", nullptr},
        {"PO_GSTR_SET ", nullptr},
        {"PO_", nullptr},
        {"", nullptr},
        {"PO_NO_SUCH_TEXT", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("key \"") + c.key + "\"");
        const TextRow* row = findTextRow(c.key);
        if (c.foundKey == nullptr) {
            EXPECT_EQ(row, nullptr);
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_STREQ(row->key, c.foundKey);
        }
    }
}

TEST(FindTextRow, PrefixKeyReadsItsOwnRow) {
    const TextRow* set = findTextRow("PO_GSTR_SET");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(std::u16string_view(set->english), u"Set");
    EXPECT_NE(set, findTextRow("PO_GSTR_SETTING_FAIL"));
    EXPECT_NE(set, findTextRow("PO_GSTR_SET_DEFAULT_FAIL"));
}

TEST(FindTextRow, NullKeyFindsNothing) {
    EXPECT_EQ(findTextRow(nullptr), nullptr);
}

TEST(ErrorTextKey, MapsTheElevenCodes) {
    const struct {
        std::int32_t code;
        const char* key;
    } cases[] = {
        {0, "PO_HX_ERR_SUCCESS"},
        {1, "PO_HX_ERR_INVALID_PARAM"},
        {2, "PO_HX_ERR_FILE_NOT_FIND"},
        {9, "PO_HX_ERR_INVALID_FIRMWARE"},
        {50, "PO_HX_ERR_NOT_FINE_USB_PRINTER"},
        {51, "PO_HX_ERR_CANNOT_OPEN_USB_PRINTER"},
        {52, "PO_HX_ERR_WRITE_USB_FAIL"},
        {53, "PO_HX_ERR_READ_USB_FAIL"},
        {54, "PO_HX_ERR_READ_USB_BEYOND_MAX_TIME"},
        {55, "PO_HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT"},
        {56, "PO_HX_ERR_PRINT_STATUS_IS_NOT_READY"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        const char* key = errorTextKey(c.code);
        ASSERT_NE(key, nullptr);
        EXPECT_STREQ(key, c.key);
        EXPECT_NE(findTextRow(key), nullptr);
    }
}

TEST(ErrorTextKey, OtherCodesHaveNoText) {
    for (const std::int32_t code : {3, 8, 10, 49, 57, 100, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(errorTextKey(code), nullptr);
    }
}

TEST(Language, OnlyChinesePrcReadsChinese) {
    const struct {
        std::uint16_t langId;
        Language language;
    } cases[] = {
        {0x0804, Language::SimplifiedChinese},  // Chinese (PRC)
        {0x0409, Language::English},            // English (United States)
        {0x0404, Language::English},            // Chinese (Taiwan)
        {0x0C04, Language::English},            // Chinese (Hong Kong)
        {0x1004, Language::English},            // Chinese (Singapore)
        {0x0004, Language::English},            // Chinese, neutral
        {0x0000, Language::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.langId);
        EXPECT_EQ(languageFor(c.langId), c.language);
    }
}

TEST(Language, SelectsTheRowsText) {
    const TextRow* row = findTextRow("PO_HX_PRINT_STATUS_LACK_PAPER");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(std::u16string_view(rowText(*row, languageFor(0x0804))), u"缺纸");
    EXPECT_EQ(std::u16string_view(rowText(*row, languageFor(0x0404))), u"Lack of paper");
    EXPECT_EQ(std::u16string_view(rowText(*row, languageFor(0x0409))), u"Lack of paper");
}

}  // namespace
}  // namespace hx::settingtool
