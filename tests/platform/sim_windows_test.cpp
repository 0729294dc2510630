// Contract tests of the simulated machine's Windows services beyond the USB
// printer: files and paths (with WOW64 redirection), C runtime streams, device
// setup, serial ports, the window layer and the version facts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/unique_handle.h"

namespace hx::sim {
namespace {

using namespace hx::platform;
using namespace hx::platform::win;

constexpr std::uint32_t kShareBoth = kFileShareRead | kFileShareWrite;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;
constexpr std::uint32_t kErrorInvalidClass = 0xE0000206;
constexpr std::uint32_t kErrorNoCompatDrivers = 0xE0000228;
constexpr std::uint32_t kErrorInWow64 = 0xE0000235;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
constexpr std::uint32_t kInjected = 4321;

// {4D36E979-E325-11CE-BFC1-08002BE10318}
constexpr Guid kPrinterClass = {0x4D36E979, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const std::u16string kHardwareId = u"USBPRINT\\HX-35290EE";
const std::u16string kLanguageMonitorKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HX352 Language Monitor";

std::string utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// UTF-16 LE with its byte-order mark, as an INF may be stored.
std::string utf16File(std::string_view ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

// A printer driver package's INF that installs model "HX-352" for `hardwareId`.
std::string printerInf(const std::string& hardwareId = "USBPRINT\\HX-35290EE") {
    return "; stand-in printer package\r\n"
           "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=Printer\r\n"
           "ClassGuid={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
           "\r\n"
           "[Manufacturer]\r\n"
           "%Maker%=Models,NTamd64,NTx86\r\n"
           "\r\n"
           "[Models.NTamd64]\r\n"
           "\"HX-352\" = HX352_Install, " + hardwareId + "\r\n"
           "[Models.NTx86]\r\n"
           "\"HX-352\" = HX352_Install, " + hardwareId + "\r\n"
           "\r\n"
           "[HX352_Install]\r\n"
           "CopyFiles=HX352_Files\r\n"
           "LanguageMonitor=%LanguageMonitor%\r\n"
           "\r\n"
           "[Strings]\r\n"
           "Maker=\"Velmor\"\r\n"
           "LanguageMonitor=\"HX352 Language Monitor,HX352LM.dll\"\r\n";
}

class SimWindows : public ::testing::Test {
protected:
    Machine machine;
    Platform& p = machine.platform();

    std::uint32_t lastError() { return p.lastError.getLastError(); }

    std::filesystem::path host(const std::u16string& path) { return machine.hostPath(path); }
    bool exists(const std::u16string& path) { return std::filesystem::exists(host(path)); }

    void put(const std::u16string& path, std::string_view contents) {
        auto file = host(path);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << contents;
    }
    void makeDirectory(const std::u16string& path) { std::filesystem::create_directories(host(path)); }

    std::optional<std::string> contents(const std::u16string& path) {
        std::ifstream in(host(path), std::ios::binary);
        if (!in) return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    Procedure procedure(const char16_t* module, const char* name) {
        UniqueLibrary library(p.libraries, p.libraries.loadLibrary(module));
        return library ? p.libraries.getProcAddress(library.get(), name) : nullptr;
    }

    bool journalHas(const std::string& line) {
        for (const auto& entry : machine.journal()) {
            if (entry == line) return true;
        }
        return false;
    }

    // The names a search delivers, in order; the error when it delivers none.
    std::vector<std::u16string> find(const std::u16string& pattern, std::uint32_t* error = nullptr) {
        std::vector<std::u16string> names;
        FindData data{};
        UniqueFindHandle search(p.files, p.files.findFirstFile(pattern.c_str(), &data));
        if (!search) {
            if (error) *error = lastError();
            return names;
        }
        do {
            names.emplace_back(data.fileName);
        } while (p.files.findNextFile(search.get(), &data));
        EXPECT_EQ(lastError(), kErrorNoMoreFiles);
        return names;
    }

    // One element of the printer class with the hardware ID, registered.
    void registerPrinterDevice(const std::u16string& hardwareId = kHardwareId) {
        UniqueSetupDeviceInfoSet set(p.deviceSetup, p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr));
        ASSERT_TRUE(set.valid());
        DeviceInfoData data{sizeof(DeviceInfoData), {}, 0, 0};
        ASSERT_TRUE(p.deviceSetup.createDeviceInfo(set.get(), u"Printer", &kPrinterClass, nullptr, nullptr,
                                                   kDicdGenerateId, &data));
        auto list = hardwareId + u'\0' + u'\0';
        ASSERT_TRUE(p.deviceSetup.setDeviceRegistryProperty(set.get(), &data, kSpdrpHardwareId,
                                                            reinterpret_cast<const std::uint8_t*>(list.data()),
                                                            static_cast<std::uint32_t>(list.size() * 2)));
        ASSERT_TRUE(p.deviceSetup.callClassInstaller(kDifRegisterDevice, set.get(), &data));
    }

    void TearDown() override {
        // Every test gives back what it opened.
        EXPECT_TRUE(machine.openResources().none()) << machine.describeOpenResources();
    }
};

// ---- Paths ----

TEST_F(SimWindows, FullPathNamesAreNormalisedAndJoinedToTheCurrentDirectory) {
    struct Case {
        const char16_t* path;
        const char16_t* full;
        const char16_t* filePart;  // null: the path names a directory by its trailing separator
    };
    const Case cases[] = {
        {u"C:\\Windows\\.\\System32\\..\\inf\\oem0.inf", u"C:\\Windows\\inf\\oem0.inf", u"oem0.inf"},
        {u"C:/HX352Setup/HX-352/ENG/HX-352.INF", u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF", u"HX-352.INF"},
        {u"srclient.dll", u"C:\\Users\\Public\\srclient.dll", u"srclient.dll"},
        {u"..\\notes.txt", u"C:\\Users\\notes.txt", u"notes.txt"},
        {u"\\Temp\\a.log", u"C:\\Temp\\a.log", u"a.log"},
        {u"C:\\..\\..\\boot.ini", u"C:\\boot.ini", u"boot.ini"},
        {u"C:\\Windows\\inf\\", u"C:\\Windows\\inf\\", nullptr},
        {u"C:sub\\f.txt", u"C:\\Users\\Public\\sub\\f.txt", u"f.txt"},
        {u"D:x.txt", u"D:\\x.txt", u"x.txt"},
        {u"\\\\server\\share\\a\\..\\b", u"\\\\server\\share\\b", u"b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.path));
        char16_t buffer[260];
        char16_t* filePart = buffer + 100;
        std::u16string full(c.full);
        EXPECT_EQ(p.files.getFullPathName(c.path, 260, buffer, &filePart), full.size());
        EXPECT_EQ(std::u16string(buffer), full);
        if (c.filePart) {
            ASSERT_NE(filePart, nullptr);
            EXPECT_GE(filePart, buffer);
            EXPECT_EQ(std::u16string(filePart), c.filePart);
        } else {
            EXPECT_EQ(filePart, nullptr);
        }
    }
}

TEST_F(SimWindows, FullPathNameReportsTheSizeNeededWhenTheBufferIsShort) {
    const std::u16string full = u"C:\\Users\\Public\\srclient.dll";
    const auto length = static_cast<std::uint32_t>(full.size());
    std::u16string buffer(64, u'#');
    char16_t* filePart = nullptr;
    EXPECT_EQ(p.files.getFullPathName(u"srclient.dll", length, buffer.data(), &filePart), length + 1);
    EXPECT_EQ(buffer, std::u16string(64, u'#'));
    EXPECT_EQ(p.files.getFullPathName(u"srclient.dll", 0, nullptr, nullptr), length + 1);
    EXPECT_EQ(p.files.getFullPathName(u"srclient.dll", length + 1, buffer.data(), &filePart), length);
    EXPECT_EQ(std::u16string(buffer.c_str()), full);

    EXPECT_EQ(p.files.getFullPathName(u"", 64, buffer.data(), &filePart), 0u);
    EXPECT_EQ(lastError(), kErrorInvalidName);
    EXPECT_EQ(p.files.getFullPathName(nullptr, 64, buffer.data(), &filePart), 0u);
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
}

TEST_F(SimWindows, SystemDirectoryFollowsTheBufferRule) {
    machine.system().systemDirectory = u"C:\\WINNT\\system32";
    const auto length = static_cast<std::uint32_t>(machine.system().systemDirectory.size());
    std::u16string buffer(64, u'#');
    EXPECT_EQ(p.files.getSystemDirectory(buffer.data(), length), length + 1);
    EXPECT_EQ(buffer, std::u16string(64, u'#'));
    EXPECT_EQ(p.files.getSystemDirectory(buffer.data(), length + 1), length);
    EXPECT_EQ(std::u16string(buffer.c_str()), u"C:\\WINNT\\system32");
}

TEST_F(SimWindows, AttributesAndExistenceAgree) {
    put(u"C:\\Data\\file.txt", "x");
    struct Case {
        const char16_t* path;
        std::uint32_t attributes;
        std::uint32_t error;  // when the attributes are invalid
    };
    const Case cases[] = {
        {u"C:\\Data", kFileAttributeDirectory, 0},
        {u"C:\\Data\\file.txt", kFileAttributeArchive, 0},
        {u"c:\\DATA\\FILE.TXT", kFileAttributeArchive, 0},
        {u"..\\..\\Data\\file.txt", kFileAttributeArchive, 0},
        {u"C:\\Data\\none.txt", kInvalidFileAttributes, kErrorFileNotFound},
        {u"C:\\Nowhere\\none.txt", kInvalidFileAttributes, kErrorPathNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.path));
        EXPECT_EQ(p.files.getFileAttributes(c.path), c.attributes);
        if (c.error) {
            EXPECT_EQ(lastError(), c.error);
        }
        EXPECT_EQ(p.files.pathIsDirectory(c.path), c.attributes == kFileAttributeDirectory);
        EXPECT_EQ(p.files.pathFileExists(c.path), c.attributes != kInvalidFileAttributes);
    }
}

// ---- Copying and deleting ----

struct FileCase {
    const char* name;
    std::function<void(Machine&, std::vector<UniqueFile>&)> arrange;
    const char16_t* source;
    const char16_t* target;
    bool failIfExists;
    std::uint32_t error;                  // 0: the call succeeds
    std::optional<std::string> expected;  // what the target holds afterwards
};

void putOn(Machine& m, const std::u16string& path, std::string_view contents) {
    auto file = m.hostPath(path);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << contents;
}

// A registered port monitor whose DLL lies in the system directory.
void registerMonitor(Machine& m, const std::u16string& dll) {
    m.monitors().push_back({u"USB Printer Monitor", u"Windows x64", dll});
    putOn(m, m.system().systemDirectory + u"\\" + dll, "old monitor");
}

TEST(SimFileCopy, CopyFileFollowsTheWindowsRules) {
    const std::u16string source = u"C:\\Src\\mon.dll";
    const std::u16string target = u"C:\\Windows\\System32\\mon.dll";
    auto openTarget = [](std::uint32_t share) {
        return [share](Machine& m, std::vector<UniqueFile>& held) {
            putOn(m, u"C:\\Windows\\System32\\mon.dll", "old monitor");
            auto& files = m.platform().files;
            held.emplace_back(files, files.createFile(u"C:\\Windows\\System32\\mon.dll", kGenericRead, share,
                                                      kOpenExisting, kFileAttributeNormal));
        };
    };
    auto nothing = [](Machine&, std::vector<UniqueFile>&) {};
    auto oldTarget = [](Machine& m, std::vector<UniqueFile>&) {
        putOn(m, u"C:\\Windows\\System32\\mon.dll", "old monitor");
    };
    const FileCase cases[] = {
        {"copies the bytes", nothing, source.c_str(), target.c_str(), false, 0, "new monitor"},
        {"overwrites a target", oldTarget, source.c_str(), target.c_str(), false, 0, "new monitor"},
        {"keeps a target when asked to", oldTarget, source.c_str(), target.c_str(), true, kErrorFileExists,
         "old monitor"},
        {"fail-if-exists on a new target", nothing, source.c_str(), target.c_str(), true, 0, "new monitor"},
        {"source missing", nothing, u"C:\\Src\\none.dll", target.c_str(), false, kErrorFileNotFound, std::nullopt},
        {"source directory missing", nothing, u"C:\\Nowhere\\mon.dll", target.c_str(), false, kErrorPathNotFound,
         std::nullopt},
        {"target directory missing", nothing, source.c_str(), u"C:\\Nowhere\\mon.dll", false, kErrorPathNotFound,
         std::nullopt},
        {"source is a directory", nothing, u"C:\\Src", target.c_str(), false, kErrorAccessDenied, std::nullopt},
        {"target held without write sharing", openTarget(kFileShareRead), source.c_str(), target.c_str(), false,
         kErrorSharingViolation, "old monitor"},
        {"target held with write sharing", openTarget(kShareBoth), source.c_str(), target.c_str(), false, 0,
         "new monitor"},
        {"target held by another process",
         [](Machine& m, std::vector<UniqueFile>&) {
             putOn(m, u"C:\\Windows\\System32\\mon.dll", "old monitor");
             m.holdFileElsewhere(u"C:\\Windows\\System32\\mon.dll", 1);
         },
         source.c_str(), target.c_str(), false, kErrorSharingViolation, "old monitor"},
        {"target is a running monitor's DLL",
         [](Machine& m, std::vector<UniqueFile>&) { registerMonitor(m, u"mon.dll"); }, source.c_str(),
         target.c_str(), false, kErrorSharingViolation, "old monitor"},
        {"monitor DLL with the spooler stopped",
         [](Machine& m, std::vector<UniqueFile>&) {
             registerMonitor(m, u"mon.dll");
             m.setSpoolerState(ServiceState::Stopped);
         },
         source.c_str(), target.c_str(), false, 0, "new monitor"},
        {"relative source from the current directory",
         [](Machine& m, std::vector<UniqueFile>&) { putOn(m, u"C:\\Users\\Public\\mon.dll", "new monitor"); },
         u"mon.dll", target.c_str(), false, 0, "new monitor"},
        {"onto itself", nothing, source.c_str(), u"C:\\SRC\\MON.DLL", false, kErrorSharingViolation, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        putOn(m, source, "new monitor");
        std::vector<UniqueFile> held;
        c.arrange(m, held);
        auto& files = m.platform().files;
        bool copied = files.copyFile(c.source, c.target, c.failIfExists);
        EXPECT_EQ(copied, c.error == 0);
        if (c.error) {
            EXPECT_EQ(m.platform().lastError.getLastError(), c.error);
        }
        if (c.expected) {
            std::ifstream in(m.hostPath(c.target), std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), *c.expected);
        }
        EXPECT_EQ(std::string(m.journal().back()),
                  "CopyFileW " + utf8(c.source) + " " + utf8(c.target) +
                      (c.error ? " -> " + std::to_string(c.error) : ""));
    }
}

TEST(SimFileCopy, DeleteFileFollowsTheWindowsRules) {
    const std::u16string path = u"C:\\Windows\\System32\\mon.dll";
    struct Case {
        const char* name;
        std::function<void(Machine&, std::vector<UniqueFile>&)> arrange;
        const char16_t* path;
        std::uint32_t error;
    };
    auto nothing = [](Machine&, std::vector<UniqueFile>&) {};
    const Case cases[] = {
        {"deletes", nothing, path.c_str(), 0},
        {"file missing", nothing, u"C:\\Windows\\System32\\none.dll", kErrorFileNotFound},
        {"directory missing", nothing, u"C:\\Nowhere\\mon.dll", kErrorPathNotFound},
        {"a directory", nothing, u"C:\\Windows\\System32", kErrorAccessDenied},
        {"held open by this process",
         [&](Machine& m, std::vector<UniqueFile>& held) {
             auto& files = m.platform().files;
             held.emplace_back(files, files.createFile(path.c_str(), kGenericRead, kShareBoth, kOpenExisting,
                                                       kFileAttributeNormal));
         },
         path.c_str(), kErrorSharingViolation},
        {"a running monitor's DLL", [](Machine& m, std::vector<UniqueFile>&) { registerMonitor(m, u"mon.dll"); },
         path.c_str(), kErrorSharingViolation},
        {"monitor DLL with the spooler stopped",
         [](Machine& m, std::vector<UniqueFile>&) {
             registerMonitor(m, u"mon.dll");
             m.setSpoolerState(ServiceState::Stopped);
         },
         path.c_str(), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        putOn(m, path, "monitor");
        std::vector<UniqueFile> held;
        c.arrange(m, held);
        EXPECT_EQ(m.platform().files.deleteFile(c.path), c.error == 0);
        if (c.error) {
            EXPECT_EQ(m.platform().lastError.getLastError(), c.error);
            EXPECT_TRUE(std::filesystem::exists(m.hostPath(path)));
        } else {
            EXPECT_FALSE(std::filesystem::exists(m.hostPath(path)));
        }
    }
}

// ---- Directory searches ----

TEST_F(SimWindows, SearchDeliversNtfsOrderAndEndsWithNoMoreFiles) {
    for (auto name : {u"oem10.inf", u"OEM2.inf", u"oem1.inf", u"oem_a.inf", u"notes.txt"}) {
        put(u"C:\\Windows\\inf\\" + std::u16string(name), "x");
    }
    makeDirectory(u"C:\\Windows\\inf\\oemdir.inf");

    FindData data{};
    UniqueFindHandle search(p.files, p.files.findFirstFile(u"C:\\Windows\\inf\\oem*.inf", &data));
    ASSERT_TRUE(search.valid());
    EXPECT_EQ(machine.openResources().findHandles, 1);
    std::vector<std::pair<std::u16string, std::uint32_t>> seen{{data.fileName, data.attributes}};
    while (p.files.findNextFile(search.get(), &data)) seen.emplace_back(data.fileName, data.attributes);
    EXPECT_EQ(lastError(), kErrorNoMoreFiles);
    EXPECT_FALSE(p.files.findNextFile(search.get(), &data));
    EXPECT_EQ(lastError(), kErrorNoMoreFiles);
    // Upper-cased order puts '_' after the letters.
    const std::vector<std::pair<std::u16string, std::uint32_t>> expected = {
        {u"oem1.inf", kFileAttributeArchive},   {u"oem10.inf", kFileAttributeArchive},
        {u"OEM2.inf", kFileAttributeArchive},   {u"oemdir.inf", kFileAttributeDirectory},
        {u"oem_a.inf", kFileAttributeArchive},
    };
    EXPECT_EQ(seen, expected);
    search.reset();
    EXPECT_EQ(machine.openResources().findHandles, 0);
    EXPECT_FALSE(p.files.findClose(reinterpret_cast<Handle>(0x4)));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

TEST_F(SimWindows, SearchPatternsMatchTheLastComponentWithoutRegardToCase) {
    for (auto name : {u"a.txt", u"b.TXT", u"ab.txt", u"readme", u"x.y.z"}) {
        put(u"C:\\Patterns\\" + std::u16string(name), "x");
    }
    struct Case {
        const char16_t* pattern;
        std::vector<std::u16string> names;
        std::uint32_t error;  // when nothing is found
    };
    const Case cases[] = {
        {u"C:\\Patterns\\*.txt", {u"a.txt", u"ab.txt", u"b.TXT"}, 0},
        {u"C:\\Patterns\\?.TXT", {u"a.txt", u"b.TXT"}, 0},
        {u"C:\\Patterns\\*.*", {u"a.txt", u"ab.txt", u"b.TXT", u"readme", u"x.y.z"}, 0},
        {u"C:\\Patterns\\*", {u"a.txt", u"ab.txt", u"b.TXT", u"readme", u"x.y.z"}, 0},
        {u"C:\\Patterns\\*.", {u"readme"}, 0},
        {u"c:/patterns/README", {u"readme"}, 0},
        {u"C:\\Patterns\\*.z", {u"x.y.z"}, 0},
        {u"C:\\Patterns\\*.doc", {}, kErrorFileNotFound},
        {u"C:\\Nowhere\\*.txt", {}, kErrorPathNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.pattern));
        std::uint32_t error = 0;
        EXPECT_EQ(find(c.pattern, &error), c.names);
        EXPECT_EQ(error, c.error);
    }
    machine.system().currentDirectory = u"C:\\Patterns";
    EXPECT_EQ(find(u"a*"), (std::vector<std::u16string>{u"a.txt", u"ab.txt"}));
}

// ---- C runtime ----

TEST_F(SimWindows, AccessTakesAnsiPathsRelativeToTheCurrentDirectory) {
    put(u"C:\\Users\\Public\\Gr\u00FC\u00DFe.txt", "x");
    struct Case {
        std::string path;
        int mode;
        int result;
    };
    const Case cases[] = {
        {utf8(u"C:\\Users\\Public\\Gr\u00FC\u00DFe.txt"), 0, 0},
        {utf8(u"Gr\u00FC\u00DFe.txt"), 0, 0},
        {utf8(u"c:\\users\\public\\GR\u00FC\u00DFE.TXT"), 6, 0},
        {"C:\\Users\\Public\\missing.txt", 0, -1},
        {"C:\\Users\\Public", 4, 0},
        {utf8(u"Gr\u00FC\u00DFe.txt"), 1, -1},  // not a mode _access knows
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.mode));
        EXPECT_EQ(p.files.accessAnsi(c.path.c_str(), c.mode), c.result);
    }
    machine.system().ansiCodePage = 1252;
    EXPECT_EQ(p.files.accessAnsi("C:\\Users\\Public\\Gr\xFC\xDF" "e.txt", 0), 0);
}

TEST_F(SimWindows, TextStreamsTranslateLineEndsLikeTheWindowsRuntime) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* mode;
        std::string delivered;
        bool endOfFile;  // after asking for as many bytes as the file has
    };
    const Case cases[] = {
        {"CR LF in text mode", "line1\r\nline2\r\n", "r+", "line1\nline2\n", true},
        {"CR LF in binary mode", "line1\r\nline2\r\n", "rb", "line1\r\nline2\r\n", false},
        {"UTF-16 without CR LF", std::string("A\0B\0", 4), "r+", std::string("A\0B\0", 4), false},
        {"lone CR kept", "a\rb", "r", "a\rb", false},
        {"CTRL+Z ends text", "ab\x1A" "cd", "r", "ab", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        put(u"C:\\Windows\\inf\\oem0.inf", c.bytes);
        UniqueStream stream(p.files, p.files.openStream("C:\\Windows\\inf\\oem0.inf", c.mode));
        ASSERT_TRUE(stream.valid());
        EXPECT_EQ(machine.openResources().streams, 1);
        // The size the removal asks for: the byte length, whatever the mode.
        ASSERT_EQ(std::fseek(stream.get(), 0, SEEK_END), 0);
        std::fpos_t position;
        ASSERT_EQ(std::fgetpos(stream.get(), &position), 0);
        EXPECT_EQ(std::ftell(stream.get()), static_cast<long>(c.bytes.size()));
        ASSERT_EQ(std::fseek(stream.get(), 0, SEEK_SET), 0);
        std::string buffer(c.bytes.size() + 2, '\0');
        auto got = std::fread(buffer.data(), 1, c.bytes.size(), stream.get());
        EXPECT_EQ(buffer.substr(0, got), c.delivered);
        EXPECT_EQ(std::feof(stream.get()) != 0, c.endOfFile);
    }
    EXPECT_EQ(machine.openResources().streams, 0);
}

TEST_F(SimWindows, TextStreamsWriteCrLf) {
    for (auto [mode, expected] : {std::pair{"w", "a\r\nb\r\n"}, std::pair{"wb", "a\nb\n"}}) {
        SCOPED_TRACE(mode);
        {
            UniqueStream stream(p.files, p.files.openStream("C:\\Users\\Public\\out.txt", mode));
            ASSERT_TRUE(stream.valid());
            std::fputs("a\nb\n", stream.get());
        }
        EXPECT_EQ(contents(u"C:\\Users\\Public\\out.txt"), expected);
    }
}

TEST_F(SimWindows, StreamsThatWriteStayOnDriveC) {
    auto outside = machine.driveC().parent_path() / (machine.driveC().filename().string() + "-outside");
    std::filesystem::create_directories(outside);
    std::ofstream(outside / "present.txt") << "outside";
    std::filesystem::create_directory_symlink(outside, host(u"C:\\Link"));

    EXPECT_EQ(p.files.openStream("C:\\Link\\new.txt", "w"), nullptr);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_EQ(p.files.openStream("C:\\Link\\present.txt", "r+"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(outside / "new.txt"));
    {
        UniqueStream reading(p.files, p.files.openStream("C:\\Link\\present.txt", "r"));
        EXPECT_TRUE(reading.valid());
    }
    EXPECT_EQ(p.files.openStream("C:\\Users\\Public\\missing.txt", "r"), nullptr);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
    EXPECT_EQ(p.files.openStream("C:\\Users\\Public\\x.txt", "q"), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidParameter);

    std::FILE* foreign = std::tmpfile();
    ASSERT_NE(foreign, nullptr);
    EXPECT_EQ(p.files.closeStream(foreign), EOF);
    EXPECT_EQ(std::fclose(foreign), 0);  // still open: the machine did not close it
    std::filesystem::remove_all(outside);
}

// ---- WOW64 file-system redirection ----

TEST_F(SimWindows, Wow64ProcessCopiesIntoSysWow64UntilRedirectionIsOff) {
    machine.system().processArchitecture = kProcessorArchitectureIntel;
    put(u"C:\\Src\\x.dll", "x");
    auto disable = procedure(u"Kernel32.dll", "Wow64DisableWow64FsRedirection");
    auto revert = procedure(u"Kernel32.dll", "Wow64RevertWow64FsRedirection");
    ASSERT_NE(disable, nullptr);

    ASSERT_TRUE(p.files.copyFile(u"C:\\Src\\x.dll", u"C:\\Windows\\System32\\x.dll", false));
    EXPECT_TRUE(exists(u"C:\\Windows\\SysWOW64\\x.dll"));
    EXPECT_FALSE(exists(u"C:\\Windows\\System32\\x.dll"));
    EXPECT_FALSE(machine.redirectionDisabled());

    void* old = reinterpret_cast<void*>(0x77);
    ASSERT_TRUE(p.files.callWow64DisableFsRedirection(disable, &old));
    EXPECT_TRUE(machine.redirectionDisabled());
    ASSERT_TRUE(p.files.copyFile(u"C:\\Src\\x.dll", u"C:\\WINDOWS\\system32\\x.dll", false));
    EXPECT_TRUE(exists(u"C:\\Windows\\System32\\x.dll"));
    ASSERT_TRUE(p.files.callWow64RevertFsRedirection(revert, old));
    EXPECT_FALSE(machine.redirectionDisabled());
    ASSERT_TRUE(p.files.deleteFile(u"C:\\Windows\\System32\\x.dll"));
    EXPECT_FALSE(exists(u"C:\\Windows\\SysWOW64\\x.dll"));
    EXPECT_TRUE(exists(u"C:\\Windows\\System32\\x.dll"));
    EXPECT_TRUE(journalHas("Wow64DisableWow64FsRedirection"));
    EXPECT_TRUE(journalHas("Wow64RevertWow64FsRedirection"));
}

TEST_F(SimWindows, Wow64RedirectionSparesItsExemptDirectories) {
    machine.system().processArchitecture = kProcessorArchitectureIntel;
    struct Case {
        const char16_t* path;
        const char16_t* lands;
    };
    const Case cases[] = {
        {u"C:\\Windows\\System32\\a.dll", u"C:\\Windows\\SysWOW64\\a.dll"},
        {u"c:\\windows\\SYSTEM32\\drivers\\b.sys", u"C:\\Windows\\SysWOW64\\drivers\\b.sys"},
        {u"C:\\Windows\\System32\\spool\\drivers\\x64\\c.txt", u"C:\\Windows\\System32\\spool\\drivers\\x64\\c.txt"},
        {u"C:\\Windows\\System32\\drivers\\etc\\hosts", u"C:\\Windows\\System32\\drivers\\etc\\hosts"},
        {u"C:\\Windows\\System32\\catroot\\d.cat", u"C:\\Windows\\System32\\catroot\\d.cat"},
        {u"C:\\Windows\\System32x\\e.dll", u"C:\\Windows\\System32x\\e.dll"},
        {u"C:\\Windows\\Sysnative\\f.dll", u"C:\\Windows\\System32\\f.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.path));
        std::u16string lands(c.lands);
        makeDirectory(lands.substr(0, lands.find_last_of(u'\\')));
        UniqueFile file(p.files, p.files.createFile(c.path, kGenericWrite, 0, kCreateAlways, kFileAttributeNormal));
        ASSERT_TRUE(file.valid());
        EXPECT_TRUE(exists(lands));
    }
}

TEST(SimRedirection, OnlyAWow64ProcessCanSwitchRedirectionOff) {
    struct Case {
        std::uint16_t native, process;
        bool switches;
    };
    const Case cases[] = {
        {kProcessorArchitectureAmd64, kProcessorArchitectureAmd64, false},
        {kProcessorArchitectureIntel, kProcessorArchitectureIntel, false},
        {kProcessorArchitectureAmd64, kProcessorArchitectureIntel, true},
        {kProcessorArchitectureIa64, kProcessorArchitectureIntel, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.native) + "/" + std::to_string(c.process));
        Machine m;
        m.system().nativeArchitecture = c.native;
        m.system().processArchitecture = c.process;
        auto& p = m.platform();
        UniqueLibrary kernel(p.libraries, p.libraries.loadLibrary(u"Kernel32.dll"));
        auto disable = p.libraries.getProcAddress(kernel.get(), "Wow64DisableWow64FsRedirection");
        auto revert = p.libraries.getProcAddress(kernel.get(), "Wow64RevertWow64FsRedirection");
        void* old = nullptr;
        EXPECT_EQ(p.files.callWow64DisableFsRedirection(disable, &old), c.switches);
        if (!c.switches) {
            EXPECT_EQ(p.lastError.getLastError(), kErrorInvalidFunction);
        }
        EXPECT_EQ(m.redirectionDisabled(), c.switches);
        EXPECT_EQ(p.files.callWow64RevertFsRedirection(revert, old), c.switches);
        EXPECT_FALSE(m.redirectionDisabled());
        // Only the procedure the module handed out does the work.
        EXPECT_FALSE(p.files.callWow64DisableFsRedirection(revert, &old));
        EXPECT_EQ(p.lastError.getLastError(), kErrorInvalidParameter);
    }
}

// ---- Device setup ----

TEST_F(SimWindows, InfClassComesFromTheVersionSection) {
    struct Case {
        const char* name;
        std::optional<std::string> bytes;  // none: no file
        std::uint32_t capacity;
        std::uint32_t error;  // 0: success with the printer class
    };
    const std::string versionOnly = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    const Case cases[] = {
        {"ANSI", printerInf(), 32, 0},
        {"UTF-16 with its mark", utf16File(printerInf()), 32, 0},
        {"class name only", versionOnly + "Class=Printer\r\n", 32, 0},
        {"class GUID only", versionOnly + "ClassGuid={4d36e979-e325-11ce-bfc1-08002be10318}\r\n", 32, 0},
        {"class in another section", "[Strings]\r\nClass=Printer\r\n" + versionOnly, 32, kErrorInvalidClass},
        {"no file", std::nullopt, 32, kErrorFileNotFound},
        {"class name capacity too small", printerInf(), 7, kErrorInsufficientBuffer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(host(u"C:\\Pkg\\HX-352.INF"));
        if (c.bytes) put(u"C:\\Pkg\\HX-352.INF", *c.bytes);
        Guid guid{};
        char16_t name[32] = {};
        std::uint32_t required = 0;
        bool ok = p.deviceSetup.getInfClass(u"C:\\Pkg\\HX-352.INF", &guid, name, c.capacity, &required);
        EXPECT_EQ(ok, c.error == 0);
        if (ok) {
            EXPECT_EQ(guid, kPrinterClass);
            EXPECT_EQ(std::u16string(name), u"Printer");
        } else {
            EXPECT_EQ(lastError(), c.error);
        }
        if (c.error == 0 || c.error == kErrorInsufficientBuffer) {
            EXPECT_EQ(required, 8u);
        }
    }
}

TEST_F(SimWindows, RegisteredElementsOutliveTheirSetWithTheFirstFreeInstanceId) {
    registerPrinterDevice();
    ASSERT_EQ(machine.devices().size(), 1u);
    EXPECT_EQ(machine.devices()[0].instanceId, u"ROOT\\PRINTER\\0000");
    EXPECT_EQ(machine.devices()[0].hardwareId, kHardwareId);
    EXPECT_FALSE(machine.devices()[0].driverInstalled);

    {
        // An element that is never registered holds its number only while its set lives.
        UniqueSetupDeviceInfoSet set(p.deviceSetup, p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr));
        DeviceInfoData data{sizeof(DeviceInfoData), {}, 0, 0};
        ASSERT_TRUE(p.deviceSetup.createDeviceInfo(set.get(), u"Printer", &kPrinterClass, nullptr, nullptr,
                                                   kDicdGenerateId, &data));
        EXPECT_EQ(data.classGuid, kPrinterClass);
        EXPECT_TRUE(journalHas("SetupDiCreateDeviceInfoW ROOT\\PRINTER\\0001"));
        EXPECT_EQ(machine.openResources().deviceInfoSets, 1);
    }
    registerPrinterDevice(u"ROOT\\OTHER");
    ASSERT_EQ(machine.devices().size(), 2u);
    EXPECT_EQ(machine.devices()[1].instanceId, u"ROOT\\PRINTER\\0001");

    UniqueSetupDeviceInfoSet set(p.deviceSetup, p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr));
    DeviceInfoData wrongSize{28, {}, 0, 0};
    EXPECT_FALSE(p.deviceSetup.createDeviceInfo(set.get(), u"Printer", &kPrinterClass, nullptr, nullptr,
                                                kDicdGenerateId, &wrongSize));
    EXPECT_EQ(lastError(), kErrorInvalidUserBuffer);
}

TEST_F(SimWindows, HardwareIdListMustEndInsideItsSize) {
    const std::u16string list = kHardwareId + u'\0' + u'\0' + u'\0';
    const auto exact = static_cast<std::uint32_t>((kHardwareId.size() + 2) * 2);
    struct Case {
        std::uint32_t size;
        std::uint32_t error;
    };
    const Case cases[] = {{exact, 0}, {exact + 2, 0}, {exact - 2, kErrorInvalidData}, {exact - 1, kErrorInvalidData}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        UniqueSetupDeviceInfoSet set(p.deviceSetup, p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr));
        DeviceInfoData data{sizeof(DeviceInfoData), {}, 0, 0};
        ASSERT_TRUE(p.deviceSetup.createDeviceInfo(set.get(), u"Printer", &kPrinterClass, nullptr, nullptr,
                                                   kDicdGenerateId, &data));
        EXPECT_EQ(p.deviceSetup.setDeviceRegistryProperty(set.get(), &data, kSpdrpHardwareId,
                                                          reinterpret_cast<const std::uint8_t*>(list.data()), c.size),
                  c.error == 0);
        if (c.error) {
            EXPECT_EQ(lastError(), c.error);
        }
    }
}

TEST_F(SimWindows, ClassInstallerRegistersOnlyForRegisterDevice) {
    UniqueSetupDeviceInfoSet set(p.deviceSetup, p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr));
    DeviceInfoData data{sizeof(DeviceInfoData), {}, 0, 0};
    ASSERT_TRUE(p.deviceSetup.createDeviceInfo(set.get(), u"Printer", &kPrinterClass, nullptr, nullptr,
                                               kDicdGenerateId, &data));
    EXPECT_TRUE(p.deviceSetup.callClassInstaller(0x2, set.get(), &data));
    EXPECT_TRUE(machine.devices().empty());
    ASSERT_TRUE(p.deviceSetup.callClassInstaller(kDifRegisterDevice, set.get(), &data));
    ASSERT_EQ(machine.devices().size(), 1u);
    // The description set after registering reaches the registered device.
    const std::u16string description = u"HX-352.INF";
    ASSERT_TRUE(p.deviceSetup.setDeviceRegistryProperty(
        set.get(), &data, kSpdrpDeviceDesc, reinterpret_cast<const std::uint8_t*>(description.c_str()),
        static_cast<std::uint32_t>((description.size() + 1) * 2)));
    EXPECT_EQ(machine.devices()[0].description, description);
    EXPECT_TRUE(journalHas("SetupDiCallClassInstaller 0x19 ROOT\\PRINTER\\0000"));

    machine.system().processArchitecture = kProcessorArchitectureIntel;
    EXPECT_FALSE(p.deviceSetup.callClassInstaller(kDifRegisterDevice, set.get(), &data));
    EXPECT_EQ(lastError(), kErrorInWow64);
}

TEST_F(SimWindows, EitherKindOfSetIsDestroyedThroughEitherInterface) {
    auto usbSet = p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent | kDigcfDeviceInterface);
    auto setupSet = p.deviceSetup.createDeviceInfoList(&kPrinterClass, nullptr);
    EXPECT_EQ(machine.openResources().deviceInfoSets, 2);
    EXPECT_TRUE(p.deviceSetup.destroyDeviceInfoList(usbSet));
    EXPECT_TRUE(p.usb.destroyDeviceInfoList(setupSet));
    EXPECT_EQ(machine.openResources().deviceInfoSets, 0);
    EXPECT_FALSE(p.deviceSetup.destroyDeviceInfoList(setupSet));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

TEST_F(SimWindows, DriverUpdateInstallsTheInfForTheRegisteredDevice) {
    put(u"C:\\Pkg\\HX-352.INF", printerInf());
    registerPrinterDevice();
    bool reboot = true;
    ASSERT_TRUE(p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), u"C:\\Pkg\\HX-352.INF",
                                                                kInstallFlagForce, &reboot));
    EXPECT_FALSE(reboot);
    EXPECT_EQ(contents(u"C:\\Windows\\inf\\oem0.inf"), printerInf());
    ASSERT_EQ(machine.drivers().size(), 1u);
    EXPECT_EQ(machine.drivers()[0].name, u"HX-352");
    EXPECT_EQ(machine.drivers()[0].environment, u"Windows x64");
    EXPECT_EQ(machine.registryString(kLanguageMonitorKey, u"Driver"), u"HX352LM.dll");
    EXPECT_TRUE(machine.devices()[0].driverInstalled);
    EXPECT_TRUE(journalHas("UpdateDriverForPlugAndPlayDevicesW USBPRINT\\HX-35290EE C:\\Pkg\\HX-352.INF"));

    // The same INF again reuses its copy; without the force flag it is no better.
    ASSERT_TRUE(p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), u"C:\\Pkg\\HX-352.INF",
                                                                kInstallFlagForce, &reboot));
    EXPECT_FALSE(exists(u"C:\\Windows\\inf\\oem1.inf"));
    EXPECT_EQ(machine.drivers().size(), 1u);
    EXPECT_FALSE(p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), u"C:\\Pkg\\HX-352.INF",
                                                                 0, &reboot));
    EXPECT_EQ(lastError(), kErrorNoMoreItems);

    // Another INF takes the next free number.
    put(u"C:\\Pkg2\\HX-352.INF", printerInf() + "; revised\r\n");
    ASSERT_TRUE(p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), u"C:\\Pkg2\\HX-352.INF",
                                                                kInstallFlagForce, &reboot));
    EXPECT_EQ(contents(u"C:\\Windows\\inf\\oem1.inf"), printerInf() + "; revised\r\n");
}

TEST(SimDriverUpdate, DriverUpdateNeedsAnInfADeviceAndAModelForIt) {
    struct Case {
        const char* name;
        std::function<void(Machine&)> arrange;
        std::uint32_t flags;
        std::uint32_t error;           // 0: success
        const char16_t* environment;  // of the driver installed on success
    };
    auto inf = [](Machine& m) { putOn(m, u"C:\\Pkg\\HX-352.INF", printerInf()); };
    const Case cases[] = {
        {"the attached printer is enough", inf, kInstallFlagForce, 0, u"Windows x64"},
        {"INF missing", [](Machine&) {}, kInstallFlagForce, kErrorFileNotFound, nullptr},
        {"no such device",
         [&](Machine& m) {
             inf(m);
             m.setUsbInterfaces({});
         },
         kInstallFlagForce, kErrorNoSuchDevinst, nullptr},
        {"INF for another device",
         [](Machine& m) { putOn(m, u"C:\\Pkg\\HX-352.INF", printerInf("USBPRINT\\OTHER1234")); }, kInstallFlagForce,
         kErrorNoCompatDrivers, nullptr},
        {"unknown flag", inf, 0x10, kErrorInvalidFlags, nullptr},
        {"32-bit process on a 64-bit machine",
         [&](Machine& m) {
             inf(m);
             m.system().processArchitecture = kProcessorArchitectureIntel;
         },
         kInstallFlagForce, kErrorInWow64, nullptr},
        {"32-bit machine",
         [&](Machine& m) {
             inf(m);
             m.system().nativeArchitecture = kProcessorArchitectureIntel;
             m.system().processArchitecture = kProcessorArchitectureIntel;
         },
         kInstallFlagForce, 0, u"Windows NT x86"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        c.arrange(m);
        auto& p = m.platform();
        bool reboot = true;
        bool ok = p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), u"C:\\Pkg\\HX-352.INF",
                                                                  c.flags, &reboot);
        EXPECT_EQ(ok, c.error == 0);
        if (c.error) {
            EXPECT_EQ(p.lastError.getLastError(), c.error);
            EXPECT_TRUE(m.drivers().empty());
            EXPECT_FALSE(std::filesystem::exists(m.hostPath(u"C:\\Windows\\inf\\oem0.inf")));
        } else {
            ASSERT_EQ(m.drivers().size(), 1u);
            EXPECT_EQ(m.drivers()[0].environment, c.environment);
            EXPECT_TRUE(std::filesystem::exists(m.hostPath(u"C:\\Windows\\inf\\oem0.inf")));
        }
    }
}

TEST_F(SimWindows, FreshMachineDriverPackageInstallsThroughItsDevice) {
    const std::u16string inf = u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF";
    auto original = contents(inf);
    ASSERT_TRUE(original.has_value());
    Guid guid{};
    char16_t className[32] = {};
    ASSERT_TRUE(p.deviceSetup.getInfClass(inf.c_str(), &guid, className, 32, nullptr));
    EXPECT_EQ(guid, kPrinterClass);
    registerPrinterDevice();
    bool reboot = true;
    ASSERT_TRUE(
        p.deviceSetup.updateDriverForPlugAndPlayDevices(nullptr, kHardwareId.c_str(), inf.c_str(), kInstallFlagForce,
                                                        &reboot));
    EXPECT_EQ(contents(u"C:\\Windows\\inf\\oem0.inf"), original);
    ASSERT_EQ(machine.drivers().size(), 1u);
    EXPECT_EQ(machine.drivers()[0].name, u"HX-352");
}

// ---- Serial ports ----

TEST_F(SimWindows, SerialPortsStartAt9600EightNoneOne) {
    const std::vector<std::u16string> names = {u"COM1", u"COM2", u"COM3", u"COM4"};
    ASSERT_EQ(machine.serialPorts().size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto& port = machine.serialPorts()[i];
        SCOPED_TRACE(utf8(port.name));
        EXPECT_EQ(port.name, names[i]);
        EXPECT_EQ(port.dcb.dcbLength, sizeof(Dcb));
        EXPECT_EQ(port.dcb.baudRate, 9600u);
        EXPECT_EQ(port.dcb.flags, kDcbBinary | kDcbDtrControlEnable);
        EXPECT_EQ(port.dcb.xonLim, 2048);
        EXPECT_EQ(port.dcb.xoffLim, 512);
        EXPECT_EQ(port.dcb.byteSize, 8);
        EXPECT_EQ(port.dcb.parity, 0);
        EXPECT_EQ(port.dcb.stopBits, 0);
        EXPECT_EQ(port.dcb.xonChar, 0x11);
        EXPECT_EQ(port.dcb.xoffChar, 0x13);
        EXPECT_FALSE(port.refuseSettings);
    }
}

TEST_F(SimWindows, SerialDevicesOpenOneAtATime) {
    struct Case {
        const char16_t* path;
        std::uint32_t error;
    };
    const Case cases[] = {{u"\\\\.\\COM1", 0}, {u"\\\\.\\com2", 0}, {u"\\\\.\\COM9", kErrorFileNotFound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(utf8(c.path));
        UniqueFile port(p.files, p.files.createFile(c.path, kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
        EXPECT_EQ(port.valid(), c.error == 0);
        if (c.error) {
            EXPECT_EQ(lastError(), c.error);
            continue;
        }
        EXPECT_EQ(machine.openResources().deviceHandles, 1);
        // Sharing asked for or not, a second open is refused while the first lasts.
        UniqueFile second(p.files, p.files.createFile(c.path, kGenericRead, kShareBoth, kOpenExisting, 0));
        EXPECT_FALSE(second.valid());
        EXPECT_EQ(lastError(), kErrorAccessDenied);
    }
    UniqueFile again(p.files, p.files.createFile(u"\\\\.\\COM1", kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
    EXPECT_TRUE(again.valid());
}

TEST_F(SimWindows, CommStateReadsAndStoresTheLineSettings) {
    UniqueFile port(p.files, p.files.createFile(u"\\\\.\\COM2", kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
    ASSERT_TRUE(port.valid());
    Dcb dcb{};
    ASSERT_TRUE(p.serial.getCommState(port.get(), &dcb));
    EXPECT_EQ(dcb.baudRate, machine.serialPorts()[1].dcb.baudRate);

    dcb.baudRate = 4800;
    ASSERT_TRUE(p.serial.setCommState(port.get(), &dcb));
    EXPECT_EQ(machine.serialPorts()[1].dcb.baudRate, 4800u);
    Dcb reread{};
    ASSERT_TRUE(p.serial.getCommState(port.get(), &reread));
    EXPECT_EQ(reread.baudRate, 4800u);

    struct Case {
        const char* name;
        std::function<void(Dcb&)> change;
        bool refuse;
    };
    const Case refused[] = {
        {"the device refuses", [](Dcb& d) { d.baudRate = 19200; }, true},
        {"nine data bits", [](Dcb& d) { d.byteSize = 9; }, false},
        {"no speed", [](Dcb& d) { d.baudRate = 0; }, false},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        machine.serialPorts()[1].refuseSettings = c.refuse;
        Dcb changed = reread;
        c.change(changed);
        EXPECT_FALSE(p.serial.setCommState(port.get(), &changed));
        EXPECT_EQ(lastError(), kErrorInvalidParameter);
        EXPECT_EQ(machine.serialPorts()[1].dcb.baudRate, 4800u);
        machine.serialPorts()[1].refuseSettings = false;
    }

    put(u"C:\\Users\\Public\\plain.txt", "x");
    UniqueFile file(p.files, p.files.createFile(u"plain.txt", kGenericRead, kShareBoth, kOpenExisting, 0));
    ASSERT_TRUE(file.valid());
    EXPECT_FALSE(p.serial.getCommState(file.get(), &dcb));
    EXPECT_EQ(lastError(), kErrorInvalidFunction);
    EXPECT_FALSE(p.serial.getCommState(reinterpret_cast<Handle>(0x4), &dcb));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

TEST_F(SimWindows, SettingsDialogPlaysItsScript) {
    struct Case {
        const char* name;
        SerialDialogScript script;
        const char16_t* port;
        std::uint32_t error;  // 0: the dialog ends with OK
        std::uint32_t baudAfter;
    };
    const Case cases[] = {
        {"OK unchanged", {}, u"COM1", 0, 4800},
        {"user picks a speed", {false, 19200}, u"com3", 0, 19200},
        {"user cancels", {true, 19200}, u"COM1", kErrorCancelled, 4800},
        {"unknown port", {}, u"COM7", kErrorInvalidParameter, 4800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Machine m;
        m.serialDialog() = c.script;
        auto& p = m.platform();
        CommConfig config{};
        config.size = sizeof(CommConfig);
        config.version = 0x100;
        config.dcb = m.serialPorts()[0].dcb;
        config.dcb.baudRate = 4800;
        EXPECT_EQ(p.serial.commConfigDialog(c.port, nullptr, &config), c.error == 0);
        if (c.error) {
            EXPECT_EQ(p.lastError.getLastError(), c.error);
        }
        EXPECT_EQ(config.dcb.baudRate, c.baudAfter);
        if (c.error == kErrorInvalidParameter) {
            EXPECT_FALSE(m.lastSerialDialogDcb().has_value());
        } else {
            ASSERT_TRUE(m.lastSerialDialogDcb().has_value());
            EXPECT_EQ(m.lastSerialDialogDcb()->baudRate, 4800u);
        }
    }
}

// ---- Window layer ----

struct DialogCall {
    Handle window;
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};
std::vector<DialogCall> dialogCalls;

std::intptr_t recordingProc(Handle window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    dialogCalls.push_back({window, message, wParam, lParam});
    return 1;
}

TEST_F(SimWindows, ModalDialogInitialisesThroughTheProcedureAndEndsAsScripted) {
    dialogCalls.clear();
    machine.dialogResult = 7;
    EXPECT_EQ(p.ui.dialogBoxParam(nullptr, 201, nullptr, recordingProc, 0x1234), 7);
    ASSERT_EQ(dialogCalls.size(), 1u);
    EXPECT_NE(dialogCalls[0].window, nullptr);
    EXPECT_EQ(dialogCalls[0].message, kWmInitDialog);
    EXPECT_EQ(dialogCalls[0].lParam, 0x1234);
    EXPECT_TRUE(journalHas("DialogBoxParamW 201"));

    struct Case {
        const char* name;
        Handle instance;
        std::uint16_t templateId;
    };
    const Case failing[] = {{"unknown template", nullptr, 999},
                            {"another module", reinterpret_cast<Handle>(0x1000), 201}};
    for (const auto& c : failing) {
        SCOPED_TRACE(c.name);
        dialogCalls.clear();
        EXPECT_EQ(p.ui.dialogBoxParam(c.instance, c.templateId, nullptr, recordingProc, 0), -1);
        EXPECT_EQ(lastError(), kErrorResourceDataNotFound);
        EXPECT_TRUE(dialogCalls.empty());
    }
}

// ---- Version facts ----

TEST_F(SimWindows, VersionRecordComesFromTheFacts) {
    auto& facts = machine.system();
    facts.majorVersion = 5;
    facts.minorVersion = 2;
    facts.buildNumber = 3790;
    facts.productType = kVerNtServer;
    struct Case {
        std::uint32_t size;
        bool ok;
    };
    const Case cases[] = {{284, true}, {276, true}, {148, false}, {0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        OsVersionInfoEx info{};
        info.osVersionInfoSize = c.size;
        info.productType = 0xEE;
        EXPECT_EQ(p.system.getVersionEx(&info), c.ok);
        if (!c.ok) {
            EXPECT_EQ(lastError(), kErrorInvalidParameter);
            continue;
        }
        EXPECT_EQ(info.majorVersion, 5u);
        EXPECT_EQ(info.minorVersion, 2u);
        EXPECT_EQ(info.buildNumber, 3790u);
        EXPECT_EQ(info.platformId, kVerPlatformWin32Nt);
        // The short record has no product type to fill.
        EXPECT_EQ(info.productType, c.size == 284 ? kVerNtServer : 0xEE);
    }
    facts.versionQueryFails = true;
    OsVersionInfoEx info{};
    info.osVersionInfoSize = sizeof info;
    EXPECT_FALSE(p.system.getVersionEx(&info));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
}

TEST_F(SimWindows, ServerR2MetricAndTrueVersion) {
    machine.system().serverR2Metric = 1;
    EXPECT_EQ(p.system.getSystemMetrics(kSmServerR2), 1);
    EXPECT_EQ(p.system.getSystemMetrics(0), 0);

    auto rtl = procedure(u"ntdll.dll", "RtlGetNtVersionNumbers");
    ASSERT_NE(rtl, nullptr);
    struct Case {
        std::uint32_t reportedMajor, reportedMinor, build, trueMajor;
        std::uint32_t expectedMinor;
    };
    const Case cases[] = {{6, 2, 9200, 10, 0}, {6, 1, 7601, 6, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trueMajor);
        auto& facts = machine.system();
        facts.majorVersion = c.reportedMajor;
        facts.minorVersion = c.reportedMinor;
        facts.buildNumber = c.build;
        facts.trueMajorVersion = c.trueMajor;
        std::uint32_t major = 0, minor = 99, build = 0;
        p.system.callRtlGetNtVersionNumbers(rtl, &major, &minor, &build);
        EXPECT_EQ(major, c.trueMajor);
        EXPECT_EQ(minor, c.expectedMinor);
        EXPECT_EQ(build, c.build | 0xF0000000u);
    }
    std::uint32_t major = 0;
    p.system.callRtlGetNtVersionNumbers(procedure(u"kernel32", "GetNativeSystemInfo"), &major, nullptr, nullptr);
    EXPECT_EQ(major, 0u);
}

// ---- Injected failures ----

TEST(SimInjectedFailures, EveryOperationAsksTheFaultTable) {
    struct Case {
        const char* operation;
        std::function<bool(Machine&)> call;  // true when the call succeeded
    };
    auto closeFind = [](Machine& m, Handle h) {
        if (h == kInvalidHandle) return false;
        return m.platform().files.findClose(h);
    };
    auto withPort = [](Machine& m, const std::function<bool(Handle)>& use) {
        auto& files = m.platform().files;
        UniqueFile port(files, files.createFile(u"\\\\.\\COM1", kGenericRead | kGenericWrite, 0, kOpenExisting, 0));
        return port.valid() && use(port.get());
    };
    const Case cases[] = {
        {"CopyFileW",
         [](Machine& m) { return m.platform().files.copyFile(u"C:\\Src\\a.txt", u"C:\\Src\\b.txt", false); }},
        {"DeleteFileW", [](Machine& m) { return m.platform().files.deleteFile(u"C:\\Src\\a.txt"); }},
        {"FindFirstFileW",
         [&](Machine& m) {
             FindData data{};
             return closeFind(m, m.platform().files.findFirstFile(u"C:\\Src\\*", &data));
         }},
        {"GetFileAttributesW",
         [](Machine& m) { return m.platform().files.getFileAttributes(u"C:\\Src\\a.txt") != kInvalidFileAttributes; }},
        {"GetFullPathNameW",
         [](Machine& m) {
             char16_t buffer[260];
             return m.platform().files.getFullPathName(u"a.txt", 260, buffer, nullptr) != 0;
         }},
        {"PathIsDirectoryW", [](Machine& m) { return m.platform().files.pathIsDirectory(u"C:\\Src"); }},
        {"PathFileExistsW", [](Machine& m) { return m.platform().files.pathFileExists(u"C:\\Src"); }},
        {"GetSystemDirectoryW",
         [](Machine& m) {
             char16_t buffer[260];
             return m.platform().files.getSystemDirectory(buffer, 260) != 0;
         }},
        {"_access", [](Machine& m) { return m.platform().files.accessAnsi("C:\\Src\\a.txt", 0) == 0; }},
        {"fopen",
         [](Machine& m) {
             UniqueStream stream(m.platform().files, m.platform().files.openStream("C:\\Src\\a.txt", "r"));
             return stream.valid();
         }},
        {"CreateFileW",
         [](Machine& m) {
             auto& files = m.platform().files;
             UniqueFile file(files, files.createFile(u"C:\\Src\\a.txt", kGenericRead, kShareBoth, kOpenExisting, 0));
             return file.valid();
         }},
        {"SetupDiGetINFClassW",
         [](Machine& m) {
             Guid guid{};
             char16_t name[32];
             return m.platform().deviceSetup.getInfClass(u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF", &guid, name, 32,
                                                         nullptr);
         }},
        {"SetupDiCreateDeviceInfoList",
         [](Machine& m) {
             auto& setup = m.platform().deviceSetup;
             UniqueSetupDeviceInfoSet set(setup, setup.createDeviceInfoList(&kPrinterClass, nullptr));
             return set.valid();
         }},
        {"UpdateDriverForPlugAndPlayDevicesW",
         [](Machine& m) {
             bool reboot = false;
             return m.platform().deviceSetup.updateDriverForPlugAndPlayDevices(
                 nullptr, kHardwareId.c_str(), u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF", kInstallFlagForce, &reboot);
         }},
        {"GetCommState",
         [&](Machine& m) {
             return withPort(m, [&](Handle port) {
                 Dcb dcb{};
                 return m.platform().serial.getCommState(port, &dcb);
             });
         }},
        {"SetCommState",
         [&](Machine& m) {
             return withPort(m, [&](Handle port) {
                 return m.platform().serial.setCommState(port, &m.serialPorts()[0].dcb);
             });
         }},
        {"CommConfigDialogW",
         [](Machine& m) {
             CommConfig config{};
             return m.platform().serial.commConfigDialog(u"COM1", nullptr, &config);
         }},
        {"DialogBoxParamW",
         [](Machine& m) { return m.platform().ui.dialogBoxParam(nullptr, 201, nullptr, nullptr, 0) != -1; }},
        {"GetVersionExW",
         [](Machine& m) {
             OsVersionInfoEx info{};
             info.osVersionInfoSize = sizeof info;
             return m.platform().system.getVersionEx(&info);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.operation);
        Machine m;
        putOn(m, u"C:\\Src\\a.txt", "a");
        m.failOperation(c.operation, kInjected, 1);
        EXPECT_FALSE(c.call(m));
        EXPECT_EQ(m.platform().lastError.getLastError(), kInjected);
        EXPECT_TRUE(c.call(m));
        EXPECT_TRUE(m.openResources().none()) << m.describeOpenResources();
    }
}

}  // namespace
}  // namespace hx::sim
