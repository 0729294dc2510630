// HX-352SettingToolDll as an outside caller meets it: loaded by name, every
// export resolved by name, on a system with no HX-352 attached. Wine lists no
// USB device interfaces, so no exchange with a printer can be shown here: the
// replies, acknowledgements and wire frames are the simulated printer's tests.
#include <windows.h>
#include <winspool.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "settingtool/HX352SettingTool.h"
#include "tests/wine/checks.h"

namespace hx::wine_tests {
namespace {

constexpr const wchar_t* kLibraryName = L"HX-352SettingToolDll.dll";

// Every export of the library, by the name its callers resolve.
#define HX_SETTING_TOOL_EXPORTS(X)   \
    X(USBCheckConnection)            \
    X(HXGetPrinterType)              \
    X(HXGetPrinterSerialNum)         \
    X(HXGetPrinterFirmwareVer)       \
    X(HXGetPrinterIsOK)              \
    X(HXGetPrinterPrintedLen)        \
    X(HXGetPrinterInfo)              \
    X(HXSetPrintSetting)             \
    X(HXSetUserDefSetting)           \
    X(HXRestoreFactorySettings)      \
    X(HXSetLocationSetting)          \
    X(HXSetDumpMode)                 \
    X(HXLabelLackPaperLearn)         \
    X(HXGetPrinterPrintSettingParam) \
    X(GetSettingResult)              \
    X(HXSelfTestPrint)               \
    X(HXTextTestPrint)               \
    X(HXBadPointCheck)               \
    X(BaseDownloadFirmware)          \
    X(BaseGetHXError)                \
    X(BaseGetHXErrorString)          \
    X(BaseGetPOText)

struct SettingTool {
#define HX_EXPORT_SLOT(name) decltype(&::name) name = nullptr;
    HX_SETTING_TOOL_EXPORTS(HX_EXPORT_SLOT)
#undef HX_EXPORT_SLOT
};

template <class Function>
bool resolve(HMODULE library, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(library, name)));
    return slot != nullptr;
}

// Resolves all exports; the names that are missing, or empty.
std::string resolveAll(HMODULE library, SettingTool& tool) {
    std::string missing;
#define HX_RESOLVE(name) \
    if (!resolve(library, #name, tool.name)) missing += " " #name;
    HX_SETTING_TOOL_EXPORTS(HX_RESOLVE)
#undef HX_RESOLVE
    return missing;
}

std::string number(std::int64_t value) { return std::to_string(value); }

std::string outcome(std::int32_t result, std::int32_t error) {
    return "result " + number(result) + ", error " + number(error);
}

const char16_t* utf16(const std::uint16_t* text) { return reinterpret_cast<const char16_t*>(text); }

std::u16string tempPath(const char16_t* name) {
    std::array<wchar_t, MAX_PATH + 1> dir{};
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    return std::u16string(reinterpret_cast<const char16_t*>(dir.data()), length) + name;
}

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool writeWholeFile(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
    const HANDLE file =
        ::CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        bytes.empty() || (::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size());
    ::CloseHandle(file);
    return ok;
}

// Firmware files the download reads, in the user's temporary directory.
struct FirmwareFiles {
    std::u16string missing = tempPath(u"hx352-wine-missing.bin");
    std::u16string empty = tempPath(u"hx352-wine-empty.bin");
    std::u16string threeBytes = tempPath(u"hx352-wine-three.bin");

    [[nodiscard]] bool create() const {
        ::DeleteFileW(wide(missing));
        return writeWholeFile(empty, {}) && writeWholeFile(threeBytes, {0xAA, 0xBB, 0xCC});
    }
    ~FirmwareFiles() {
        ::DeleteFileW(wide(empty));
        ::DeleteFileW(wide(threeBytes));
    }
};

const std::uint16_t* path(const std::u16string& text) { return reinterpret_cast<const std::uint16_t*>(text.c_str()); }

// Stores a code other than `avoid` through a download that fails early, so that
// the call checked next is seen to store its own code.
bool primeLastError(Checks& checks, const SettingTool& t, const FirmwareFiles& files, std::int32_t avoid) {
    const bool useNull = avoid != HX_ERR_INVALID_PARAM;
    const std::int32_t code = useNull ? HX_ERR_INVALID_PARAM : HX_ERR_FILE_NOT_FIND;
    t.BaseDownloadFirmware(useNull ? nullptr : path(files.missing));
    const std::int32_t seen = t.BaseGetHXError();
    if (seen == code) return true;
    checks.expect(false, "set-up: a failed download stores " + number(code), "error " + number(seen));
    return false;
}

struct ErrorCase {
    std::string call;
    std::function<std::int32_t()> run;
    std::int32_t result;
    std::int32_t error;
};

// Arguments the calls write into or read from; zero-filled and valid.
struct Arguments {
    std::uint16_t text[64]{};
    std::int32_t number = 0;
    HXPrinterInfo info{};
    HXPrintSettingParam printSetting{};
    std::uint8_t value = 1;
    alignas(2) std::uint8_t textTest[16]{};

    Arguments() {
        textTest[0] = 60;
        textTest[1] = 40;
        const char16_t text[] = u"AB";
        std::memcpy(textTest + 2, text, sizeof text);
    }
    [[nodiscard]] const HXTextTestParam* textTestParam() const {
        return reinterpret_cast<const HXTextTestParam*>(textTest);
    }
};

// Each call on a system without the printer: its result and the code it stores.
// A null argument is refused before the printer is looked for, except where
// the printer (or its status) is asked first.
void checkCallsWithoutPrinter(Checks& checks, const SettingTool& t, const FirmwareFiles& files) {
    Arguments a;
    const std::vector<ErrorCase> cases = {
        {"USBCheckConnection()", [&] { return t.USBCheckConnection(); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterType(null)", [&] { return t.HXGetPrinterType(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXGetPrinterType(buffer)", [&] { return t.HXGetPrinterType(a.text); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterSerialNum(null)", [&] { return t.HXGetPrinterSerialNum(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXGetPrinterSerialNum(buffer)", [&] { return t.HXGetPrinterSerialNum(a.text); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterFirmwareVer(null)", [&] { return t.HXGetPrinterFirmwareVer(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXGetPrinterFirmwareVer(buffer)", [&] { return t.HXGetPrinterFirmwareVer(a.text); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterIsOK(null)", [&] { return t.HXGetPrinterIsOK(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXGetPrinterIsOK(value)", [&] { return t.HXGetPrinterIsOK(&a.number); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterPrintedLen(null)", [&] { return t.HXGetPrinterPrintedLen(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXGetPrinterPrintedLen(value)", [&] { return t.HXGetPrinterPrintedLen(&a.number); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterInfo(null)", [&] { return t.HXGetPrinterInfo(nullptr); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterInfo(record)", [&] { return t.HXGetPrinterInfo(&a.info); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXSetPrintSetting(null)", [&] { return t.HXSetPrintSetting(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXSetPrintSetting(record)", [&] { return t.HXSetPrintSetting(&a.printSetting); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXSetUserDefSetting(null)", [&] { return t.HXSetUserDefSetting(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXSetUserDefSetting(value)", [&] { return t.HXSetUserDefSetting(&a.value); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXRestoreFactorySettings()", [&] { return t.HXRestoreFactorySettings(); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXSetDumpMode(1)", [&] { return t.HXSetDumpMode(1); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXSetLocationSetting(value)", [&] { return t.HXSetLocationSetting(&a.value); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXSetLocationSetting(null)", [&] { return t.HXSetLocationSetting(nullptr); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXGetPrinterPrintSettingParam(null)", [&] { return t.HXGetPrinterPrintSettingParam(nullptr); }, 0,
         HX_ERR_INVALID_PARAM},
        {"HXGetPrinterPrintSettingParam(record)", [&] { return t.HXGetPrinterPrintSettingParam(&a.printSetting); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"GetSettingResult()", [&] { return t.GetSettingResult(); }, 0, HX_ERR_READ_USB_BEYOND_MAX_TIME},
        {"HXSelfTestPrint()", [&] { return t.HXSelfTestPrint(); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXTextTestPrint(60 x 40, AB)", [&] { return t.HXTextTestPrint(a.textTestParam()); }, 0,
         HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXTextTestPrint(null)", [&] { return t.HXTextTestPrint(nullptr); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        {"HXBadPointCheck(null)", [&] { return t.HXBadPointCheck(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"HXBadPointCheck(value)", [&] { return t.HXBadPointCheck(&a.number); }, 0, HX_ERR_NOT_FINE_USB_PRINTER},
        // These two write without looking for the printer; with no device path
        // the device cannot be opened.
        {"HXLabelLackPaperLearn()", [&] { return t.HXLabelLackPaperLearn(); }, 0, HX_ERR_CANNOT_OPEN_USB_PRINTER},
        {"BaseDownloadFirmware(3-byte file)", [&] { return t.BaseDownloadFirmware(path(files.threeBytes)); }, 0,
         HX_ERR_CANNOT_OPEN_USB_PRINTER},
        {"BaseDownloadFirmware(null)", [&] { return t.BaseDownloadFirmware(nullptr); }, 0, HX_ERR_INVALID_PARAM},
        {"BaseDownloadFirmware(missing file)", [&] { return t.BaseDownloadFirmware(path(files.missing)); }, 0,
         HX_ERR_FILE_NOT_FIND},
        {"BaseDownloadFirmware(empty file)", [&] { return t.BaseDownloadFirmware(path(files.empty)); }, 0,
         HX_ERR_INVALID_FIRMWARE},
    };

    for (const ErrorCase& c : cases) {
        if (!primeLastError(checks, t, files, c.error)) continue;
        const std::int32_t result = c.run();
        const std::int32_t error = t.BaseGetHXError();
        checks.expect(result == c.result && error == c.error, c.call + " gives " + outcome(c.result, c.error),
                      outcome(result, error));

        // Lookups that succeed leave the latest failure's code in place.
        std::uint16_t scratch[64]{};
        const bool found = t.BaseGetPOText("PO_GSTR_SET", scratch) == scratch;
        t.BaseGetHXErrorString(HX_ERR_WRITE_USB_FAIL, scratch);
        const std::int32_t kept = t.BaseGetHXError();
        checks.expect(found && kept == error, c.call + ": the code outlives successful text lookups",
                      "error " + number(kept));
    }
}

// The transfer lock in the spooler's driver directory, honoured across opens:
// without the file a write goes ahead at once; held by someone else, after
// three pauses; taken, it stays held until the reply is read.
void checkTransferLock(Checks& checks, const SettingTool& t) {
    std::array<wchar_t, MAX_PATH + 1> directory{};
    DWORD needed = 0;
    const bool haveDirectory =
        ::GetPrinterDriverDirectoryW(nullptr, const_cast<wchar_t*>(L"Windows x64"), 1,
                                     reinterpret_cast<BYTE*>(directory.data()), sizeof directory, &needed);
    checks.expect(haveDirectory, "set-up: the printer-driver directory", number(::GetLastError()));
    if (!haveDirectory) return;
    const std::wstring lockPath = std::wstring(directory.data()) + L"\\hx352-usb-lock.txt";
    ::DeleteFileW(lockPath.c_str());

    auto timedWrite = [&](const std::string& what, bool lockHeld) {
        const Stopwatch stopwatch;
        const std::int32_t result = t.HXLabelLackPaperLearn();
        const std::int64_t elapsed = stopwatch.elapsedMilliseconds();
        const std::int32_t error = t.BaseGetHXError();
        checks.expect(result == 0 && error == HX_ERR_CANNOT_OPEN_USB_PRINTER,
                      what + ": HXLabelLackPaperLearn still tries the device", outcome(result, error));
        const bool paused = lockHeld ? elapsed >= 299 && elapsed < 2000 : elapsed < 250;
        checks.expect(paused, what + (lockHeld ? ": three 100 ms pauses" : ": no pause"), number(elapsed) + " ms");
    };
    auto openExclusive = [&] {
        return ::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    };

    timedWrite("no lock file", false);

    const HANDLE held = ::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    checks.expect(held != INVALID_HANDLE_VALUE, "set-up: the lock file", number(::GetLastError()));
    if (held == INVALID_HANDLE_VALUE) return;
    timedWrite("lock file held elsewhere", true);
    ::CloseHandle(held);

    const std::int32_t result = t.HXLabelLackPaperLearn();
    checks.expect(result == 0, "HXLabelLackPaperLearn with a free lock file", "result " + number(result));
    const HANDLE whileHeld = openExclusive();
    const DWORD heldError = ::GetLastError();
    checks.expect(whileHeld == INVALID_HANDLE_VALUE && heldError == ERROR_SHARING_VIOLATION,
                  "the library keeps the lock after its write", number(heldError));
    if (whileHeld != INVALID_HANDLE_VALUE) ::CloseHandle(whileHeld);

    const std::int32_t acknowledged = t.GetSettingResult();
    checks.expect(acknowledged == 0 && t.BaseGetHXError() == HX_ERR_READ_USB_BEYOND_MAX_TIME,
                  "GetSettingResult without a printer", outcome(acknowledged, t.BaseGetHXError()));
    const HANDLE released = openExclusive();
    checks.expect(released != INVALID_HANDLE_VALUE, "GetSettingResult releases the lock", number(::GetLastError()));
    if (released != INVALID_HANDLE_VALUE) ::CloseHandle(released);
    ::DeleteFileW(lockPath.c_str());
}

struct ErrorText {
    std::int32_t code;
    const char16_t* english;
    const char16_t* chinese;
};

constexpr ErrorText kErrorTexts[] = {
    {HX_ERR_SUCCESS, u"Success", u"成功"},
    {HX_ERR_INVALID_PARAM, u"Invalid Param", u"无效参数"},
    {HX_ERR_FILE_NOT_FIND, u"File Not Find", u"文件未找到"},
    {HX_ERR_INVALID_FIRMWARE, u"Invalid firmware", u"无效的固件程序文件"},
    {HX_ERR_NOT_FINE_USB_PRINTER, u"Can't find usb printer", u"未找到USB打印机"},
    {HX_ERR_CANNOT_OPEN_USB_PRINTER, u"Can't open usb printer", u"无法打开USB打印机"},
    {HX_ERR_WRITE_USB_FAIL, u"Write to usb fail", u"向USB打印机写入失败"},
    {HX_ERR_READ_USB_FAIL, u"Read from usb fail", u"向USB打印机读取失败"},
    {HX_ERR_READ_USB_BEYOND_MAX_TIME, u"Read USB wait timeout", u"读取USB等待超时"},
    {HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT, u"This version nonsupport to get setting result",
     u"该版本不支持获取设置结果反馈"},
    {HX_ERR_PRINT_STATUS_IS_NOT_READY, u"Operation failed,Printer is not ready", u"操作失败，打印机未处于就绪状态"},
};

constexpr std::int32_t kCodesWithoutText[] = {3, 8, 10, 49, 57, -1};

struct KeyText {
    const char* key;
    const char16_t* english;
    const char16_t* chinese;  // null where only the English text is fixed
};

constexpr KeyText kKeyTexts[] = {
    {"PO_GSTR_SET", u"Set", nullptr},
    {"PO_GSTR_MAIN_DLG_CAPTION", u"HX-352SettingTool", nullptr},
    {"PO_HX_ERR_SUCCESS", u"Success", u"成功"},
    {"PO_HX_ERR_PRINT_STATUS_IS_NOT_READY", u"Operation failed,Printer is not ready",
     u"操作失败，打印机未处于就绪状态"},
    {"PO_HX_PRINT_STATUS_READY", u"Ready", u"打印机准备就绪"},
    {"PO_HX_PRINT_STATUS_RAM_TEST_FAIL", u"ARM test fail", u"RAM测试不通过"},
    {"PO_HX_PRINT_STATUS_OVER_HEART", u"Over heart", u"打印头过热"},
    {"PO_HX_PRINT_STATUS_SWITCH_NOT_PLACE", u"Position switch is not in place", u"到位开关未到位"},
    {"PO_HX_PRINT_STATUS_LACK_PAPER", u"Lack of paper", u"缺纸"},
    {"PO_HX_PRINT_STATUS_VOLTAGE_ERR", u"Voltage is too high or too low", u"电压过高或过低"},
    {"PO_HX_PRINT_STATUS_STUCK_PAPER", u"Stuck Paper", u"打印机卡纸"},
    {"PO_HX_PRINT_STATUS_PRINT_PAUSE", u"Print Pause", u"打印暂停"},
    {"PO_GSTR_SETTING_SUCCESS", u"Setting Success", u"设置成功！"},
    {"PO_GSTR_SETTING_FAIL", u"Setting Fail", u"设置失败！"},
    {"PO_GSTR_SET_DEFAULT_SUCCESS", u"Restore factory settings success", u"恢复出厂设置成功"},
    {"PO_GSTR_SET_DEFAULT_FAIL", u"Restore factory settings fail", u"恢复出厂设置失败"},
    {"PO_GSTR_UPDATE_SUCCESS", u"Update Success, Please wait for restart", u"更新成功，请等待打印机重启"},
    {"PO_GSTR_UPDATE_FAIL", u"Update Fail", u"更新失败！"},
    {"PO_GSTR_PRINT_SUCCESS", u"Printing Success!", u"打印成功！"},
    {"PO_GSTR_PRINT_SELF_TEXT_SUCCESS", u"Printing Text Success!", u"打印自测页成功！"},
    {"PO_GSTR_OPERATION_SUCCESS", u"Operation Success", u"操作成功"},
    {"PO_GSTR_OPERATION_FAIL", u"Operation Failure", u"操作失败"},
    {"PO_GSTR_SUCCESS", u"Success", u"成功"},
    {"PO_GSTR_SELF_TEST", u"Location", u"打印自测页"},
    {"PO_GSTR_IS_SET_DUMP", u"Dump mode open?", u"是否开启除错模式？"},
    {"PO_GSTR_PLEASE_INPUT_NUMBER", u"Please input a valid number", u"请输入有效数字"},
};

// Keys no row holds: another letter case, a prefix of a key, a key run on.
constexpr const char* kUnknownKeys[] = {"PO_GSTR_set",
                                        "po_gstr_set",
                                        "PO_GSTR_SE",
                                        "PO_GSTR_SETTING",
                                        "PO_GSTR_SET ",
                                        "PO_HX_PRINT_STATUS_LACK_PAPER_",
                                        ""};

constexpr std::uint16_t kUntouched = 0xA5A5;
constexpr std::size_t kBufferUnits = 64;

using TextBuffer = std::array<std::uint16_t, kBufferUnits>;

TextBuffer freshBuffer() {
    TextBuffer buffer;
    buffer.fill(kUntouched);
    return buffer;
}

bool untouched(const TextBuffer& buffer, std::size_t from = 0) {
    for (std::size_t i = from; i < buffer.size(); ++i) {
        if (buffer[i] != kUntouched) return false;
    }
    return true;
}

// The text and its terminator, and nothing written past them.
bool holds(const TextBuffer& buffer, std::u16string_view text) {
    if (text.size() + 1 > buffer.size()) return false;
    return terminated(utf16(buffer.data()), buffer.size()) == text && untouched(buffer, text.size() + 1);
}

void checkTexts(Checks& checks, const SettingTool& t, bool chinese) {
    const char* language = chinese ? " (Chinese)" : " (English)";
    for (const ErrorText& row : kErrorTexts) {
        TextBuffer buffer = freshBuffer();
        t.BaseGetHXErrorString(row.code, buffer.data());
        const char16_t* want = chinese ? row.chinese : row.english;
        checks.expect(holds(buffer, want), "BaseGetHXErrorString(" + number(row.code) + ")" + language,
                      quoted(utf16(buffer.data()), buffer.size()));
    }
    for (const std::int32_t code : kCodesWithoutText) {
        TextBuffer buffer = freshBuffer();
        t.BaseGetHXErrorString(code, buffer.data());
        checks.expect(untouched(buffer), "BaseGetHXErrorString(" + number(code) + ") writes nothing",
                      quoted(utf16(buffer.data()), buffer.size()));
    }
    for (const KeyText& row : kKeyTexts) {
        TextBuffer buffer = freshBuffer();
        const std::uint16_t* returned = t.BaseGetPOText(row.key, buffer.data());
        const char16_t* want = chinese ? row.chinese : row.english;
        const bool text = want ? holds(buffer, want)
                               : !terminated(utf16(buffer.data()), buffer.size()).empty() &&
                                     terminated(utf16(buffer.data()), buffer.size()).size() < buffer.size();
        checks.expect(returned == buffer.data() && text, std::string("BaseGetPOText(\"") + row.key + "\")" + language,
                      std::string(returned == buffer.data() ? "" : "another pointer, ") +
                          quoted(utf16(buffer.data()), buffer.size()));
    }
    for (const char* key : kUnknownKeys) {
        TextBuffer buffer = freshBuffer();
        const std::uint16_t* returned = t.BaseGetPOText(key, buffer.data());
        checks.expect(returned == nullptr && untouched(buffer),
                      std::string("BaseGetPOText(\"") + key + "\") finds nothing",
                      std::string(returned ? "a pointer, " : "null, ") + quoted(utf16(buffer.data()), buffer.size()));
    }
}

// The stored self-test job, as the library finds it: through its own module.
void checkSelfTestResource(Checks& checks, HMODULE library, const std::string& generatedFile) {
    const HMODULE byName = ::GetModuleHandleW(kLibraryName);
    checks.expect(byName == library, "GetModuleHandleW finds the library by its file name", "another module");
    const HRSRC info = byName ? ::FindResourceW(byName, MAKEINTRESOURCEW(108), L"BIN") : nullptr;
    checks.expect(info != nullptr, "resource BIN 108 exists", number(::GetLastError()));
    if (!info) return;
    const auto* bytes = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(byName, info)));
    const std::size_t size = ::SizeofResource(byName, info);
    if (!bytes) return;

    const std::string head =
        "SIZE 100mm,95mm\r\nDIRECTION 0,0\r\nREFERENCE 0,0\r\nOFFSET 0mm\r\nDENSITY 8\r\nSET PEEL OFF\r\n"
        "SET CUTTER OFF\r\nSET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nCLS\r\nBITMAP 0,0,100,753,1,";
    const std::string tail = "\r\nPRINT 1,1\r\n";
    constexpr std::size_t kRowBytes = 100;
    constexpr std::size_t kRows = 753;
    const std::string_view job(reinterpret_cast<const char*>(bytes), size);
    checks.expect(size == 75476, "the self-test job is 75,476 bytes", number(static_cast<std::int64_t>(size)));
    checks.expect(job.starts_with(head), "the self-test job opens with its set-up lines and the bitmap command",
                  std::string(job.substr(0, 40)));
    checks.expect(job.ends_with(tail), "the self-test job ends with PRINT 1,1",
                  std::string(job.substr(job.size() >= 16 ? job.size() - 16 : 0)));
    if (size != head.size() + kRows * kRowBytes + tail.size()) return;

    // 0 bits draw, 1 bits are the background: the top rows are blank and the
    // first bar is solid across the middle.
    const std::uint8_t* bitmap = bytes + head.size();
    bool blankTop = true;
    for (std::size_t i = 0; i < 12 * kRowBytes; ++i) blankTop = blankTop && bitmap[i] == 0xFF;
    checks.expect(blankTop, "bitmap rows 0 to 11 are blank", "drawn dots");
    bool solidBar = true;
    for (std::size_t row = 12; row <= 73; ++row) {
        for (std::size_t column = 10; column < 90; ++column)
            solidBar = solidBar && bitmap[row * kRowBytes + column] == 0;
    }
    checks.expect(solidBar, "bitmap rows 12 to 73 hold a solid bar", "background dots");

    std::ifstream generated(generatedFile, std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(generated)), std::istreambuf_iterator<char>());
    checks.expect(generated.good() || generated.eof(), "set-up: the generated job file " + generatedFile, "unreadable");
    checks.expect(!expected.empty() && job == expected, "the resource carries the generated job",
                  number(static_cast<std::int64_t>(expected.size())) + " bytes in the file");
}

}  // namespace

void runSettingToolChecks(Checks& checks, const Expectations& expected) {
    const HMODULE library = ::LoadLibraryW(kLibraryName);
    checks.expect(library != nullptr, "LoadLibraryW(HX-352SettingToolDll.dll)", number(::GetLastError()));
    if (!library) return;
    SettingTool tool;
    const std::string missing = resolveAll(library, tool);
    checks.expect(missing.empty(), "GetProcAddress finds every export", "missing:" + missing);
    if (!missing.empty()) return;

    const std::int32_t initial = tool.BaseGetHXError();
    checks.expect(initial == HX_ERR_SUCCESS, "BaseGetHXError() after loading is 0", number(initial));

    FirmwareFiles files;
    checks.expect(files.create(), "set-up: firmware files", number(::GetLastError()));
    checkCallsWithoutPrinter(checks, tool, files);
    checkTransferLock(checks, tool);
    checkTexts(checks, tool, expected.chineseSystem);
    checkSelfTestResource(checks, library, expected.selfTestJobFile);
    ::FreeLibrary(library);
}

}  // namespace hx::wine_tests
