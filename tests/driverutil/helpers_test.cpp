// The general helpers: registry strings, privileges, shell copy, files and
// streams, quoting, installed printers, text conversion, the model name and
// the driver directory.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_handle.h"
#include "tests/driverutil/fixture.h"
#include "tests/driverutil/journal.h"

namespace hx::test {
namespace {

using namespace platform::win;

constexpr const char16_t* kTestKey = u"SOFTWARE\\HX352\\Test";
constexpr uint16_t kUntouched = 0xAAAA;

// A caller's 260-unit buffer with a guard behind it, holding "stale" at first.
struct RegBuffer {
    RegBuffer() {
        std::fill(std::begin(units), std::end(units), kUntouched);
        std::copy_n(u"stale", 6, units);
    }
    uint16_t units[270];
    bool guardIntact() const {
        return std::all_of(units + 260, std::end(units), [](uint16_t u) { return u == kUntouched; });
    }
};

class HelpersTest : public DriverUtilTest {
protected:
    void SetUp() override { machine.createRegistryKey(kTestKey); }

    // A value written as it stands, terminator or not.
    void setRawValue(const char16_t* name, uint32_t type, const std::u16string& units, std::size_t bytes) {
        auto& registry = machine.platform().registry;
        platform::Handle opened = nullptr;
        ASSERT_EQ(registry.regOpenKeyEx(platform::kHkeyLocalMachine, kTestKey, 0, kKeyReadWrite, &opened), 0);
        platform::UniqueRegistryKey key(registry, opened);
        ASSERT_EQ(registry.regSetValueEx(key.get(), name, type, reinterpret_cast<const uint8_t*>(units.data()),
                                         static_cast<uint32_t>(bytes)),
                  0);
    }

    void writeHostFile(const std::u16string& windowsPath, const std::string& content) {
        const auto path = machine.hostPath(windowsPath);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }
};

// ---- getRegStr / setRegStr ----

TEST_F(HelpersTest, GetRegStrFillsTheBufferOnlyWithAValueThatFits) {
    const std::u16string fits(259, u'f');
    const std::u16string tooLong(260, u't');
    machine.setRegistryString(kTestKey, u"Name", u"HX-352");
    machine.setRegistryString(kTestKey, u"Empty", u"");
    machine.setRegistryString(kTestKey, u"Fits", fits);
    machine.setRegistryString(kTestKey, u"TooLong", tooLong);
    setRawValue(u"Unterminated", kRegSz, std::u16string(260, u'u'), 520);
    setRawValue(u"ShortUnterminated", kRegSz, u"abcdef", 12);
    setRawValue(u"Expandable", kRegExpandSz, std::u16string(u"%SystemRoot%\\inf") + u'\0', 34);
    setRawValue(u"EmptyExpandable", kRegExpandSz, u"", 0);

    struct Case {
        const char16_t* key;
        const char16_t* value;
        int32_t result;
        std::u16string buffer;
    };
    const Case cases[] = {
        {kTestKey, u"Name", 1, u"HX-352"},
        {kTestKey, u"name", 1, u"HX-352"},
        {kTestKey, u"Empty", 1, u""},
        {kTestKey, u"EmptyExpandable", 1, u""},
        {kTestKey, u"Missing", 1, u"stale"},
        {kTestKey, u"Fits", 1, fits},
        {kTestKey, u"TooLong", 1, u"stale"},
        {kTestKey, u"Unterminated", 1, u"stale"},
        {kTestKey, u"ShortUnterminated", 1, u"abcdef"},
        {kTestKey, u"Expandable", 1, u"%SystemRoot%\\inf"},
        {u"SOFTWARE\\HX352\\Missing", u"Name", 0, u"stale"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(c.value)));
        RegBuffer buffer;
        EXPECT_EQ(getRegStr(w(c.key), w(c.value), buffer.units), c.result);
        EXPECT_EQ(u16(buffer.units), c.buffer);
        EXPECT_TRUE(buffer.guardIntact());
    }
}

TEST_F(HelpersTest, GetRegStrNeedsWriteAccessAndAKeyPath) {
    machine.setRegistryString(kTestKey, u"Name", u"HX-352");
    RegBuffer buffer;
    EXPECT_EQ(getRegStr(nullptr, w(u"Name"), buffer.units), 0);
    machine.system().registryWritable = false;
    EXPECT_EQ(getRegStr(w(kTestKey), w(u"Name"), buffer.units), 0);
    EXPECT_EQ(u16(buffer.units), u"stale");
}

TEST_F(HelpersTest, SetRegStrWritesIntoAnExistingKeyOnly) {
    EXPECT_EQ(setRegStr(w(kTestKey), w(u"TransmissionRetryTimeout"), w(u"90")), 1);
    EXPECT_EQ(machine.registryString(kTestKey, u"TransmissionRetryTimeout"), u"90");
    RegBuffer buffer;
    EXPECT_EQ(getRegStr(w(kTestKey), w(u"TransmissionRetryTimeout"), buffer.units), 1);
    EXPECT_EQ(u16(buffer.units), u"90");

    EXPECT_EQ(setRegStr(w(kTestKey), w(u"Nothing"), nullptr), 1);
    EXPECT_EQ(machine.registryString(kTestKey, u"Nothing"), std::nullopt);

    EXPECT_EQ(setRegStr(w(u"SOFTWARE\\HX352\\Missing"), w(u"Value"), w(u"1")), 0);
    EXPECT_FALSE(machine.registryKeyExists(u"SOFTWARE\\HX352\\Missing"));
    EXPECT_EQ(setRegStr(nullptr, w(u"Value"), w(u"1")), 0);

    machine.system().registryWritable = false;
    EXPECT_EQ(setRegStr(w(kTestKey), w(u"TransmissionRetryTimeout"), w(u"30")), 0);
    EXPECT_EQ(machine.registryString(kTestKey, u"TransmissionRetryTimeout"), u"90");
}

// ---- _SetPrivilege ----

TEST_F(HelpersTest, SetPrivilegeEnablesOrRemovesForGood) {
    auto& token = machine.platform().token;
    platform::Handle opened = nullptr;
    ASSERT_TRUE(token.openProcessToken(kTokenAllAccess, &opened));
    platform::UniqueToken process(token, opened);

    EXPECT_EQ(_SetPrivilege(process.get(), w(u"SeNoSuchPrivilege"), 1), 0);
    EXPECT_EQ(_SetPrivilege(process.get(), nullptr, 1), 0);

    EXPECT_EQ(_SetPrivilege(process.get(), w(u"SeDebugPrivilege"), 1), 1);
    EXPECT_TRUE(machine.privilegeEnabled(u"SeDebugPrivilege"));
    EXPECT_EQ(_SetPrivilege(process.get(), w(u"SeDebugPrivilege"), 0), 1);
    EXPECT_FALSE(machine.privilegeEnabled(u"SeDebugPrivilege"));
    // Gone from the token: asking again still "succeeds" but enables nothing.
    EXPECT_EQ(_SetPrivilege(process.get(), w(u"SeDebugPrivilege"), 1), 1);
    EXPECT_FALSE(machine.privilegeEnabled(u"SeDebugPrivilege"));

    machine.failOperation("AdjustTokenPrivileges", kErrorAccessDenied, 1);
    EXPECT_EQ(_SetPrivilege(process.get(), w(u"SeShutdownPrivilege"), 1), 0);
}

// ---- copyDirFiles / FileIsExist ----

TEST_F(HelpersTest, CopyDirFilesCopiesTheListedFiles) {
    writeHostFile(u"C:\\Source\\a.txt", "alpha");
    std::filesystem::create_directories(machine.hostPath(u"C:\\Target"));
    std::u16string from = u"C:\\Source\\a.txt";
    from.push_back(u'\0');
    std::u16string to = u"C:\\Target";
    to.push_back(u'\0');
    EXPECT_EQ(copyDirFiles(w(to), w(from)), 1);
    EXPECT_EQ(readFile(machine.hostPath(u"C:\\Target\\a.txt")), "alpha");

    machine.failOperation("SHFileOperationW", kErrorAccessDenied, 1);
    EXPECT_EQ(copyDirFiles(w(to), w(from)), 0);
    EXPECT_EQ(copyDirFiles(nullptr, w(from)), 0);
}

TEST_F(HelpersTest, FileIsExistForFilesAndDirectories) {
    writeHostFile(u"C:\\Data\\file.bin", "x");
    EXPECT_EQ(FileIsExist(w(u"C:\\Data\\file.bin")), 1);
    EXPECT_EQ(FileIsExist(w(u"C:\\Data")), 1);
    EXPECT_EQ(FileIsExist(w(u"C:\\Data\\missing.bin")), 0);
    EXPECT_EQ(FileIsExist(nullptr), 0);
}

// ---- GetFileLen ----

TEST(FileLength, LengthWithTheStreamBackAtItsStart) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000}}) {
        std::FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        const std::string bytes(size, 'z');
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
        EXPECT_EQ(GetFileLen(stream), static_cast<int64_t>(size));
        EXPECT_EQ(std::ftell(stream), 0);
        std::fclose(stream);
    }
}

TEST(FileLength, AStreamThatCannotSeekGivesMinusOne) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::FILE* stream = fdopen(fds[0], "r");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(GetFileLen(stream), -1);
    std::fclose(stream);
    close(fds[1]);
    EXPECT_EQ(GetFileLen(nullptr), -1);
}

// ---- AddDoubleQuotations3Str / AddDoubleQuotations2Str ----

TEST(Quoting, QuotesIntoTheDestinationOrInPlace) {
    const std::u16string cases[] = {u"", u"x", u"C:\\Program Files\\HX-352\\HX-352.INF", std::u16string(1037, u'a'),
                                    std::u16string(2000, u'b')};
    for (const auto& text : cases) {
        SCOPED_TRACE(text.size());
        const std::u16string quoted = u"\"" + text + u"\"";

        std::vector<uint16_t> destination(text.size() + 3 + 4, kUntouched);
        EXPECT_EQ(AddDoubleQuotations3Str(destination.data(), w(text)), destination.data());
        EXPECT_EQ(u16(destination.data()), quoted);
        EXPECT_TRUE(std::all_of(destination.end() - 4, destination.end(), [](uint16_t u) { return u == kUntouched; }));

        std::vector<uint16_t> inPlace(text.size() + 3 + 4, kUntouched);
        std::copy(text.begin(), text.end(), inPlace.begin());
        inPlace[text.size()] = 0;
        EXPECT_EQ(AddDoubleQuotations2Str(inPlace.data()), inPlace.data());
        EXPECT_EQ(u16(inPlace.data()), quoted);
        EXPECT_TRUE(std::all_of(inPlace.end() - 4, inPlace.end(), [](uint16_t u) { return u == kUntouched; }));
    }
    uint16_t untouched[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(AddDoubleQuotations3Str(untouched, nullptr), nullptr);
    EXPECT_EQ(untouched[0], kUntouched);
    EXPECT_EQ(AddDoubleQuotations3Str(nullptr, w(u"x")), nullptr);
    EXPECT_EQ(AddDoubleQuotations2Str(nullptr), nullptr);
}

// ---- enumLocalPrinters / getSpecifiedPrinterCount ----

TEST_F(HelpersTest, EnumLocalPrintersHandsOutEveryPrinter) {
    machine.printers() = {{u"HX-352", u"HX-352", u"USB PORT:", {}}, {u"Office", u"Generic", u"LPT1:", {}}};
    void* block = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(enumLocalPrinters(&block, &count), 1);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(count, 2u);
    const auto* printers = static_cast<const platform::PrinterInfo2*>(block);
    EXPECT_EQ(std::u16string(printers[0].printerName), u"HX-352");
    EXPECT_EQ(std::u16string(printers[1].driverName), u"Generic");
    EXPECT_EQ(std::u16string(printers[1].portName), u"LPT1:");
    ReleasePortInfo(block);
}

TEST_F(HelpersTest, EnumLocalPrintersWithoutPrintersOrMemorySetsNothing) {
    void* const sentinel = reinterpret_cast<void*>(0x5A5A);
    void* block = sentinel;
    uint32_t count = 77;
    machine.printers().clear();
    EXPECT_EQ(enumLocalPrinters(&block, &count), 0);
    machine.printers() = {{u"HX-352", u"HX-352", u"USB PORT:", {}}};
    machine.failAllocations(1);
    EXPECT_EQ(enumLocalPrinters(&block, &count), 0);
    EXPECT_EQ(block, sentinel);
    EXPECT_EQ(count, 77u);
    EXPECT_EQ(enumLocalPrinters(nullptr, &count), 0);
    EXPECT_EQ(enumLocalPrinters(&block, nullptr), 0);
}

TEST_F(HelpersTest, SpecifiedPrinterCountByPrefixAndExactDriver) {
    machine.printers() = {{u"HX-352", u"HX-352", u"USB PORT:", {}},
                          {u"HX-352 (Copy 1)", u"HX-352", u"USB PORT:", {}},
                          {u"hx-352 lower", u"HX-352", u"USB PORT:", {}},
                          {u"HX-352 other", u"hx-352", u"USB PORT:", {}},
                          {u"Office", u"HX-352", u"LPT1:", {}}};
    struct Case {
        const char16_t* driver;
        const char16_t* prefix;
        int32_t count;
    };
    const Case cases[] = {
        {u"HX-352", u"HX-352", 2},
        {u"hx-352", u"HX-352", 1},
        {u"HX-352", u"HX", 2},
        {u"HX-352", u"O", 1},
        {u"HX-352", u"HX-352 (Copy 1) more", 0},
        {u"HX-352", u"", 0},
        {u"HX-352", nullptr, -1},
        {u"", u"HX", 0},
        {nullptr, u"HX", -1},
        {nullptr, u"", 0},
        {u"HX-35", u"HX", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << ::testing::PrintToString(c.driver ? std::u16string(c.driver) : u"(null)") << " "
                     << ::testing::PrintToString(c.prefix ? std::u16string(c.prefix) : u"(null)"));
        EXPECT_EQ(getSpecifiedPrinterCount(w(c.driver), w(c.prefix)), c.count);
        EXPECT_EQ(machine.openResources().heapBlocks, 0);
    }
}

TEST_F(HelpersTest, SpecifiedPrinterCountWithoutPrinters) {
    machine.printers().clear();
    EXPECT_EQ(getSpecifiedPrinterCount(w(u"HX-352"), w(u"HX")), -1);
    EXPECT_EQ(getSpecifiedPrinterCount(w(u""), w(u"HX")), -1);
    EXPECT_EQ(getSpecifiedPrinterCount(w(u"HX-352"), w(u"")), 0);
}

// ---- UTF8_To_string ----

TEST_F(HelpersTest, Utf8ToTheAnsiCodePage) {
    struct Case {
        uint32_t codePage;
        const char* utf8;
        std::string ansi;
    };
    const Case cases[] = {
        {1252, "Caf\xC3\xA9", "Caf\xE9"},
        {1252, "\xE6\x97\xA5 HX", "? HX"},
        {65001, "Caf\xC3\xA9 \xE6\x97\xA5", "Caf\xC3\xA9 \xE6\x97\xA5"},
        {1252, "", ""},
        {65001, "plain", "plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.codePage << " " << c.utf8);
        machine.system().ansiCodePage = c.codePage;
        char* ansi = UTF8_To_string(c.utf8);
        ASSERT_NE(ansi, nullptr);
        EXPECT_EQ(std::string(ansi), c.ansi);
        EXPECT_EQ(machine.openResources().heapBlocks, 1);
        ReleasePortInfo(ansi);
    }
    EXPECT_EQ(UTF8_To_string(nullptr), nullptr);
    machine.failAllocations(1);
    EXPECT_EQ(UTF8_To_string("x"), nullptr);
}

// ---- isMatch ----

TEST(ModelName, MatchesTheWholeNameInAnyCase) {
    const std::pair<const char16_t*, int32_t> cases[] = {
        {u"HX-352", 1}, {u"hx-352", 1},  {u"Hx-352", 1}, {u"HX-352 ", 0}, {u" HX-352", 0},
        {u"HX-35", 0},  {u"HX-3520", 0}, {u"HX_352", 0}, {u"", 0},
    };
    for (const auto& [text, match] : cases)
        EXPECT_EQ(isMatch(w(text)), match) << ::testing::PrintToString(std::u16string(text));
    EXPECT_EQ(isMatch(nullptr), 0);
}

// ---- getPrinterDriverDir ----

TEST_F(HelpersTest, PrinterDriverDirectoryByTheEnvironmentFlag) {
    const std::pair<int32_t, std::u16string> cases[] = {
        {1, u"C:\\Windows\\System32\\spool\\drivers\\x64"},
        {5, u"C:\\Windows\\System32\\spool\\drivers\\x64"},
        {0, u"C:\\Windows\\System32\\spool\\drivers\\W32X86"},
    };
    for (const auto& [flag, path] : cases) {
        uint16_t* directory = getPrinterDriverDir(flag);
        ASSERT_NE(directory, nullptr) << flag;
        EXPECT_EQ(u16(directory), path);
        ReleasePortInfo(directory);
    }
    machine.failDriverDirectory(kErrorAccessDenied, 1);
    EXPECT_EQ(getPrinterDriverDir(1), nullptr);
    machine.failAllocations(1);
    EXPECT_EQ(getPrinterDriverDir(1), nullptr);
}

}  // namespace
}  // namespace hx::test
