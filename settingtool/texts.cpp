// The text table of the settings library and its lookups by key, by error code
// and by system language.
#include "settingtool/texts.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "settingtool/HX352SettingTool.h"

namespace hx::settingtool {
namespace {

// Searched top to bottom. The first eleven rows are the error texts, in the
// order of kErrorCodes below. Some English texts are odd ("Over heart", "ARM
// test fail", "Location" for the self-test) but callers and their users know
// them as they are, so they stay.
constexpr TextRow kRows[] = {
    {"PO_HX_ERR_SUCCESS", u"Success", u"成功"},
    {"PO_HX_ERR_INVALID_PARAM", u"Invalid Param", u"无效参数"},
    {"PO_HX_ERR_FILE_NOT_FIND", u"File Not Find", u"文件未找到"},
    {"PO_HX_ERR_INVALID_FIRMWARE", u"Invalid firmware", u"无效的固件程序文件"},
    {"PO_HX_ERR_NOT_FINE_USB_PRINTER", u"Can't find usb printer", u"未找到USB打印机"},
    {"PO_HX_ERR_CANNOT_OPEN_USB_PRINTER", u"Can't open usb printer", u"无法打开USB打印机"},
    {"PO_HX_ERR_WRITE_USB_FAIL", u"Write to usb fail", u"向USB打印机写入失败"},
    {"PO_HX_ERR_READ_USB_FAIL", u"Read from usb fail", u"向USB打印机读取失败"},
    {"PO_HX_ERR_READ_USB_BEYOND_MAX_TIME", u"Read USB wait timeout", u"读取USB等待超时"},
    {"PO_HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT", u"This version nonsupport to get setting result",
     u"该版本不支持获取设置结果反馈"},
    {"PO_HX_ERR_PRINT_STATUS_IS_NOT_READY", u"Operation failed,Printer is not ready",
     u"操作失败，打印机未处于就绪状态"},
    {"PO_GSTR_MAIN_DLG_CAPTION", u"HX-352SettingTool", u"HX-352设置工具"},
    {"PO_IDC_BUTTON_ADD_PRINTER", u"Add Printer", u"添加打印机"},
    {"PO_IDC_BUTTON_MODIFY_PRINTER", u"Modify Printer", u"修改打印机"},
    {"PO_IDC_BUTTON_DEL_PRINTER", u"Delete Printer", u"删除打印机"},
    {"PO_IDC_BUTTON_CONNECT_TEST", u"Connection Test", u"连接测试"},
    {"PO_IDC_BUTTON_SHOW_PRINTER_INFO", u"Printer Information", u"打印机信息"},
    {"PO_IDC_BUTTON_MAIN_DOWNLOAD", u"Firmware Update", u"固件更新"},
    {"PO_IDC_BUTTON_SET_PRINTER", u"Printer Settings", u"打印机设置"},
    {"PO_DOWNLOAD_DLG_CAPTION", u"Firmware Update", u"固件更新"},
    {"PO_DOWNLOAD_DLG_PROGRAM", u"Firmware file", u"固件程序文件"},
    {"PO_GSTR_OPERATION_FAIL", u"Operation Failure", u"操作失败"},
    {"PO_GSTR_OPERATION_SUCCESS", u"Operation Success", u"操作成功"},
    {"PO_IDC_STATIC_LABEL_AUTO_LEARN", u"Label auto-learn:", u"标签自动学习："},
    {"PO_GSTR_LEARN", u"Learn", u"学习"},
    {"PO_IDC_STATIC_LACK_PAPER_LEARN", u"Learn on paper load:", u"缺纸后自动学习："},
    {"PO_GSTR_SUCCESS", u"Success", u"成功"},
    {"PO_PRINTER_SET_DLG_CAPTION", u"Printer Settings", u"打印机设置"},
    {"PO_PRINTER_SET_DLG_PRINT_SETTING", u"Print Settings", u"打印设置"},
    {"PO_PRINTER_SET_DLG_USER_DEF", u"User Defined", u"用户自定义"},
    {"PO_PRINTER_SET_DLG_LOCATION", u"Location", u"定位"},
    {"PO_PRINTER_SET_DLG_TEST", u"Test", u"测试"},
    {"PO_GSTR_PLEASE_INPUT_NUMBER", u"Please input a valid number", u"请输入有效数字"},
    {"PO_GSTR_SETTING_FAIL", u"Setting Fail", u"设置失败！"},
    {"PO_GSTR_SETTING_SUCCESS", u"Setting Success", u"设置成功！"},
    {"PO_IDC_STATIC_PRINT_TYPE", u"Print method:", u"打印方式："},
    {"PO_IDC_STATIC_POWER_ON_POSITION", u"Locate at power-on:", u"开机定位："},
    {"PO_IDC_STATIC_LABEL_HEIGHT", u"Label height (mm):", u"标签高度(mm)："},
    {"PO_IDC_STATIC_PAPER_TYPE", u"Paper type:", u"纸张类型："},
    {"PO_IDC_STATIC_REPRINT_WHEN_ERROR", u"Reprint after error:", u"出错后重新打印："},
    {"PO_IDC_STATIC_AFTER_PRINTING", u"After printing:", u"打印完成后："},
    {"PO_IDC_STATIC_N_MINUTES_LATER_OPEN", u"Start after (minutes):", u"多少分钟后开启："},
    {"PO_IDC_STATIC_PREVENT_STICKER", u"Anti-stick:", u"防粘连："},
    {"PO_IDC_STATIC_SPECIAL_LABEL", u"Special label:", u"特殊标签："},
    {"PO_IDC_STATIC_PRINT_SPEED", u"Print speed:", u"打印速度："},
    {"PO_IDC_STATIC_DARKNESS_SETTING", u"Darkness:", u"打印浓度："},
    {"PO_IDC_STATIC_H_ORIGIN", u"Horizontal origin:", u"水平起始位置："},
    {"PO_IDC_STATIC_VERTICAL_ORIGIN", u"Vertical origin:", u"垂直起始位置："},
    {"PO_IDC_STATIC_PRINT_TO_STOP", u"Stop position after printing:", u"打印后停止位置："},
    {"PO_GSTR_SET", u"Set", u"设置"},
    {"PO_GSTR_THERMAL", u"Direct thermal", u"热敏"},
    {"PO_GSTR_RIBBONS", u"Thermal transfer (ribbon)", u"热转印（碳带）"},
    {"PO_GSTR_DISABLE", u"Disable", u"禁用"},
    {"PO_GSTR_OPEN", u"On", u"开启"},
    {"PO_GSTR_IS_SET_DUMP", u"Dump mode open?", u"是否开启除错模式？"},
    {"PO_GSTR_ENABLE", u"Enable", u"启用"},
    {"PO_GSTR_RECEIPT", u"Receipt", u"小票"},
    {"PO_GSTR_LABEL", u"Label", u"标签"},
    {"PO_GSTR_BLACK_MARK", u"Black mark", u"黑标"},
    {"PO_GSTR_UPDATE_FAIL", u"Update Fail", u"更新失败！"},
    {"PO_GSTR_UPDATE_SUCCESS", u"Update Success, Please wait for restart", u"更新成功，请等待打印机重启"},
    {"PO_IDC_STATIC_PROGRAM_SELECT", u"Firmware file:", u"固件文件："},
    {"PO_IDC_BUTTON_PROGRAM_OPEN", u"Browse...", u"浏览..."},
    {"PO_IDC_BUTTON_PROGRAM_UPDATE", u"Update", u"更新"},
    {"PO_DLG_SHOW_PRINTER_INFOMATION", u"Printer Information", u"打印机信息"},
    {"PO_IDC_STATIC_PRINTER_TYPE", u"Printer model:", u"打印机型号："},
    {"PO_IDC_STATIC_PRINTER_SERIAL_NUMBER", u"Serial number:", u"序列号："},
    {"PO_IDC_STATIC_PRINTER_FIRMWARE_VERSION", u"Firmware version:", u"固件版本："},
    {"PO_IDC_STATIC_PRINTER_PRINT_LENGTH", u"Printed length:", u"已打印长度："},
    {"PO_IDC_STATIC_PRINTER_STATUS", u"Printer status:", u"打印机状态："},
    {"PO_IDC_STATIC_PREVENT_TIME", u"Anti-stick delay:", u"防粘连时间："},
    {"PO_IDC_STATIC_SHOW_MINUTES", u"minutes", u"分钟"},
    {"PO_HX_PRINT_STATUS_PRINT_PAUSE", u"Print Pause", u"打印暂停"},
    {"PO_HX_PRINT_STATUS_STUCK_PAPER", u"Stuck Paper", u"打印机卡纸"},
    {"PO_HX_PRINT_STATUS_VOLTAGE_ERR", u"Voltage is too high or too low", u"电压过高或过低"},
    {"PO_HX_PRINT_STATUS_LACK_PAPER", u"Lack of paper", u"缺纸"},
    {"PO_HX_PRINT_STATUS_SWITCH_NOT_PLACE", u"Position switch is not in place", u"到位开关未到位"},
    {"PO_HX_PRINT_STATUS_OVER_HEART", u"Over heart", u"打印头过热"},
    {"PO_HX_PRINT_STATUS_RAM_TEST_FAIL", u"ARM test fail", u"RAM测试不通过"},
    {"PO_HX_PRINT_STATUS_READY", u"Ready", u"打印机准备就绪"},
    {"PO_GSTR_PRINT_SELF_TEXT_SUCCESS", u"Printing Text Success!", u"打印自测页成功！"},
    {"PO_IDC_STATIC_FIND_BAD_POINT", u"Bad dots found:", u"发现坏点："},
    {"PO_IDC_STATIC_DUMP_MODE", u"Dump mode:", u"除错模式："},
    {"PO_IDC_STATIC_BAD_POINT_CHECK", u"Print head check:", u"打印头坏点检测："},
    {"PO_IDC_STATIC_BAD_POINT_CHECK_RESULT_NORMAL", u"Print head normal, no bad dots", u"打印头正常，无坏点"},
    {"PO_GSTR_SELF_TEST", u"Location", u"打印自测页"},
    {"PO_IDC_BUTTON_PRINT_TEXT_TEST", u"Text Test", u"文本测试"},
    {"PO_IDC_BUTTON_BAD_POINT_CHECK", u"Check", u"检测"},
    {"PO_GSTR_PRINT_SUCCESS", u"Printing Success!", u"打印成功！"},
    {"PO_GSTR_TEXT_TEST_DLG_CAPTION", u"Text Print Test", u"文本打印测试"},
    {"PO_IDC_STATIC_PRINT_TEXT_TEST_ENTER", u"Text to print:", u"请输入要打印的文本："},
    {"PO_IDC_STATIC_SET_AREA_PRINT", u"Print area", u"打印区域"},
    {"PO_IDC_STATIC_PRINTABLE_WIDTH", u"Width (mm):", u"宽度(mm)："},
    {"PO_IDC_STATIC_PRINTABLE_HEIGHT", u"Height (mm):", u"高度(mm)："},
    {"PO_GSTR_PRINT", u"Print", u"打印"},
    {"PO_GSTR_CANCEL", u"Cancel", u"取消"},
    {"PO_GSTR_SET_DEFAULT_FAIL", u"Restore factory settings fail", u"恢复出厂设置失败"},
    {"PO_GSTR_SET_DEFAULT_SUCCESS", u"Restore factory settings success", u"恢复出厂设置成功"},
    {"PO_IDC_STATIC_USER_BEEP", u"Beeper:", u"蜂鸣器："},
    {"PO_IDC_BUTTON_USER_DEF_SET_DEFAULT", u"Restore Defaults", u"恢复出厂设置"},
};

constexpr std::int32_t kErrorCodes[] = {
    HX_ERR_SUCCESS,
    HX_ERR_INVALID_PARAM,
    HX_ERR_FILE_NOT_FIND,
    HX_ERR_INVALID_FIRMWARE,
    HX_ERR_NOT_FINE_USB_PRINTER,
    HX_ERR_CANNOT_OPEN_USB_PRINTER,
    HX_ERR_WRITE_USB_FAIL,
    HX_ERR_READ_USB_FAIL,
    HX_ERR_READ_USB_BEYOND_MAX_TIME,
    HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT,
    HX_ERR_PRINT_STATUS_IS_NOT_READY,
};

constexpr std::size_t longestText() {
    std::size_t longest = 0;
    for (const TextRow& row : kRows) {
        longest = std::max({longest, std::u16string_view(row.english).size(),
                            std::u16string_view(row.chinese).size()});
    }
    return longest;
}

// Callers size their buffers by kLongestTextUnits, so a longer text must not build.
static_assert(longestText() == kLongestTextUnits);
static_assert(std::size(kRows) == 100);

}  // namespace

std::span<const TextRow> textTable() {
    return kRows;
}

const TextRow* findTextRow(const char* key) {
    if (key == nullptr) {
        return nullptr;
    }
    for (const TextRow& row : kRows) {
        if (std::strcmp(row.key, key) == 0) {
            return &row;
        }
    }
    return nullptr;
}

const char* errorTextKey(std::int32_t code) {
    const auto* found = std::find(std::begin(kErrorCodes), std::end(kErrorCodes), code);
    if (found == std::end(kErrorCodes)) {
        return nullptr;
    }
    return kRows[found - std::begin(kErrorCodes)].key;
}

Language languageFor(std::uint16_t systemDefaultLangId) {
    constexpr std::uint16_t kChinesePrc = 0x0804;
    return systemDefaultLangId == kChinesePrc ? Language::SimplifiedChinese : Language::English;
}

const char16_t* rowText(const TextRow& row, Language language) {
    return language == Language::SimplifiedChinese ? row.chinese : row.english;
}

}  // namespace hx::settingtool
