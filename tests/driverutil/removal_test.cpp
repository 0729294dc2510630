// Removal on the simulated machine: its order, its failure table, the OEM INF
// search and the chunked stream read.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Driver/DriverInstall_Src/driverutil/inf_search.h"
#include "platform/types.h"
#include "tests/driverutil/fixture.h"
#include "tests/driverutil/journal.h"

namespace hx::test {
namespace {

using namespace hx::platform::win;

const std::u16string kLanguageMonitorKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HX352 Language Monitor";
const std::u16string kUsbMonitorKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\USB Printer Monitor";
const std::string kAnsiInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Models]\r\n\"HX-352\" = I, USBPRINT\\HX-35290EE\r\n";

std::string utf16le(const std::string& ascii, bool bom) {
    std::string out = bom ? std::string("\xFF\xFE", 2) : std::string();
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string utf16be(const std::string& ascii) {
    std::string out("\xFE\xFF", 2);
    for (char c : ascii) {
        out += '\0';
        out += c;
    }
    return out;
}

class RemovalTest : public DriverUtilTest {
protected:
    std::filesystem::path host(const std::u16string& path) { return machine.hostPath(path); }
    std::filesystem::path inf(const std::string& name) { return host(u"C:\\Windows\\inf") / name; }
    bool hasDriver() {
        return std::any_of(machine.drivers().begin(), machine.drivers().end(),
                           [](const sim::SimDriver& d) { return d.name == u"HX-352"; });
    }
    bool hasMonitor() {
        return std::any_of(machine.monitors().begin(), machine.monitors().end(),
                           [](const sim::SimMonitor& m) { return m.name == u"USB Printer Monitor"; });
    }
    void install() {
        ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
        machine.printers().push_back({u"HX-352 Label", u"HX-352", u"USB PORT:", {{1, u"a"}, {2, u"b"}}});
    }
};

TEST_F(RemovalTest, AfterAnInstallationEverythingGoesInOrder) {
    install();
    const auto from = machine.journal().size();
    ASSERT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    const std::vector<std::string> expected = {
        "RegSetValueExW",                                            // language monitor off
        "DeleteFileW",                                               // the OEM INF
        "ControlService", "Sleep", "StartServiceW", "Sleep",         // spooler restarted
        "SetJobW", "SetJobW",                                        // jobs
        "DeletePrinter",                                             // printers
        "DeletePrinterDriverW",                                      // driver
        "DeleteMonitorW", "RegDeleteValueW", "RegDeleteKeyW",        // port monitor
        "RegSetValueExW",                                            // language monitor off again
        "ControlService", "DeleteFileW", "DeleteFileW",
        "DeleteFileW",  // the second pass: a 64-bit process sees the same folder, the file is gone already
        "StartServiceW"};
    std::vector<std::string> steps =
        operationsOf(machine,
                     {"RegSetValueExW", "DeleteFileW", "ControlService", "Sleep", "StartServiceW", "SetJobW",
                      "DeletePrinter", "DeletePrinterDriverW", "DeleteMonitorW", "RegDeleteValueW", "RegDeleteKeyW"},
                     from);
    // The wait for the final stop to finish is polling, not a step of its own.
    while (steps.size() > 1 && steps[steps.size() - 2] == "Sleep") steps.erase(steps.end() - 2);
    EXPECT_EQ(steps, expected);

    EXPECT_EQ(machine.registryString(kLanguageMonitorKey, u"Driver"), u"NULL");
    EXPECT_FALSE(std::filesystem::exists(host(u"C:\\Windows\\inf\\oem0.inf")));
    EXPECT_TRUE(machine.printers().empty());
    EXPECT_FALSE(hasDriver());
    EXPECT_FALSE(hasMonitor());
    EXPECT_FALSE(machine.registryKeyExists(kUsbMonitorKey));
    EXPECT_FALSE(std::filesystem::exists(host(u"C:\\Windows\\System32\\VelmorUSBMon.dll")));
    EXPECT_FALSE(std::filesystem::exists(host(u"C:\\Windows\\System32\\VelmorUSBMonUI.dll")));
    EXPECT_EQ(machine.spoolerState(), sim::ServiceState::Running);
}

TEST_F(RemovalTest, TheSpoolerIsRunningAgainEvenWhenItsStopTakesTime) {
    install();
    machine.spoolerStopDelayMs = 900;  // within the restart's pause, but longer than deleting two files
    EXPECT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    EXPECT_EQ(machine.spoolerState(), sim::ServiceState::Running);
}

TEST_F(RemovalTest, ASpoolerThatWillNotStopGivesSixAfterOnlyTheLanguageMonitorAndInf) {
    install();
    machine.refuseSpoolerStop();
    EXPECT_EQ(uninstall(), HX_UNINSTALL_DELETE_DRIVER_FAILED);
    EXPECT_EQ(operationsOf(machine, {"ControlService"}).size(), 3u);
    EXPECT_EQ(machine.registryString(kLanguageMonitorKey, u"Driver"), u"NULL");
    EXPECT_FALSE(std::filesystem::exists(host(u"C:\\Windows\\inf\\oem0.inf")));
    EXPECT_TRUE(hasDriver());
    EXPECT_TRUE(hasMonitor());
    EXPECT_EQ(machine.printers().size(), 1u);
}

struct FailureRow {
    const char* name;
    const char* operation;  // fails always from the start of removal
    std::uint32_t error;
    std::int32_t result;
    bool driverGone;
    bool monitorGone;
};

class RemovalFailures : public RemovalTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(RemovalFailures, OnlyTheRestartAndTheDriverDecideTheResult) {
    install();
    machine.failOperation(GetParam().operation, GetParam().error);
    EXPECT_EQ(uninstall(), GetParam().result);
    EXPECT_EQ(!hasDriver(), GetParam().driverGone);
    EXPECT_EQ(!hasMonitor(), GetParam().monitorGone);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RemovalFailures,
    ::testing::Values(
        FailureRow{"NoServiceManager", "OpenSCManagerW", kErrorAccessDenied, 6, false, false},
        FailureRow{"NoServiceRights", "OpenServiceW", kErrorAccessDenied, 6, false, false},
        // Never seen stopped, so never started: the spooler stays down and the driver cannot go.
        FailureRow{"StatusUnreadable", "QueryServiceStatus", kErrorAccessDenied, 6, false, false},
        FailureRow{"SpoolerWillNotStart", "StartServiceW", 1053, 6, false, false},
        FailureRow{"LanguageMonitorKeyLocked", "RegOpenKeyExW", kErrorAccessDenied, 0, true, true},
        FailureRow{"InfNotDeletable", "DeleteFileW", kErrorAccessDenied, 0, true, true},
        FailureRow{"PrintersNotEnumerable", "EnumPrintersW", kErrorAccessDenied, 6, false, false},
        FailureRow{"PrinterNotOpenable", "OpenPrinterW", kErrorAccessDenied, 6, false, false},
        FailureRow{"JobsNotEnumerable", "EnumJobsW", kErrorAccessDenied, 0, true, true},
        FailureRow{"DriverNotDeletable", "DeletePrinterDriverW", kErrorAccessDenied, 6, false, false},
        FailureRow{"MonitorNotDeletable", "DeleteMonitorW", kErrorAccessDenied, 0, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemovalTest, NoDriverInstalledGivesSixWithTheSpoolerRestartedTwice) {
    EXPECT_EQ(uninstall(), HX_UNINSTALL_DELETE_DRIVER_FAILED);
    EXPECT_EQ(operationsOf(machine, {"DeletePrinterDriverW"}).size(), 2u);
    EXPECT_EQ(operationsOf(machine, {"StartServiceW"}).size(), 2u);
    EXPECT_EQ(machine.spoolerState(), sim::ServiceState::Running);
}

TEST_F(RemovalTest, ADriverDeletedOnTheSecondTryIsSuccess) {
    install();
    machine.failOperation("DeletePrinterDriverW", kErrorAccessDenied, 1);
    EXPECT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    EXPECT_FALSE(hasDriver());
}

TEST_F(RemovalTest, AnAlreadyStoppedSpoolerIsStartedByTheRestart) {
    install();
    machine.setSpoolerState(sim::ServiceState::Stopped);
    EXPECT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    EXPECT_EQ(machine.spoolerState(), sim::ServiceState::Running);
}

TEST_F(RemovalTest, PrintersAndJobs) {
    install();
    machine.printers().push_back({u"Other", u"Other Driver", u"LPT1:", {{7, u"keep"}}});
    machine.printers().push_back({u"Lower", u"hx-352", u"USB PORT:", {{8, u"x"}}});
    EXPECT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    ASSERT_EQ(machine.printers().size(), 1u);
    EXPECT_EQ(machine.printers()[0].name, u"Other");
    EXPECT_EQ(machine.printers()[0].jobs.size(), 1u);
    // A driver name that differs in case: the printer went, its job was not deleted first.
    EXPECT_TRUE(journalHas(machine, "SetJobW"));
    EXPECT_FALSE(journalHas(machine, "SetJobW 8"));
}

TEST_F(RemovalTest, PrinterNamesTooLongForTheirSlotAreNotCut) {
    install();
    const std::u16string longName(130, u'P');
    machine.printers().push_back({longName, u"HX-352", u"USB PORT:", {{9, u"x"}}});
    machine.printers().push_back({longName.substr(0, 127), u"Other Driver", u"LPT1:", {{10, u"keep"}}});
    EXPECT_EQ(uninstall(), HX_INSTALL_SUCCESS);
    // The long-named printer is still deleted (by its whole name); the printer
    // its cut name would have opened keeps its job.
    ASSERT_EQ(machine.printers().size(), 1u);
    EXPECT_EQ(machine.printers()[0].jobs.size(), 1u);
}

TEST_F(RemovalTest, UnimplementedExportsTouchNothing) {
    const auto before = machine.journal().size();
    EXPECT_EQ(HX352UpdateDriver(), HX_FUNCTION_NOT_IMPLEMENTED);
    EXPECT_EQ(HX352CheckDriverV(), HX_FUNCTION_NOT_IMPLEMENTED);
    EXPECT_EQ(machine.journal().size(), before);
    install();
    EXPECT_EQ(HX352UninstallDriver(), HX_INSTALL_SUCCESS);
}

struct InfCase {
    const char* name;
    std::string content;
    bool names;
};

class InfContent : public ::testing::TestWithParam<InfCase> {};

TEST_P(InfContent, TheHardwareIdIsFoundWhateverTheEncodingAndLineEnds) {
    const auto& content = GetParam().content;
    EXPECT_EQ(driverutil::contentNamesHardwareId(
                  {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()}),
              GetParam().names);
}

std::string withLf(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, InfContent,
    ::testing::Values(InfCase{"AnsiCrLf", kAnsiInf, true}, InfCase{"AnsiLf", withLf(kAnsiInf), true},
                      InfCase{"Utf16WithBom", utf16le(kAnsiInf, true), true},
                      InfCase{"Utf16WithoutBom", utf16le(kAnsiInf, false), true},
                      InfCase{"Utf16BigEndian", utf16be(kAnsiInf), true},
                      InfCase{"AfterAZeroByte", std::string("x\0y", 3) + "USBPRINT\\HX-35290EE", true},
                      InfCase{"OtherHardwareId", "USBPRINT\\HX-35290EF", false},
                      InfCase{"OddUtf16Alignment", "x" + utf16le("USBPRINT\\HX-35290EE", false).substr(0, 37), false},
                      InfCase{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemovalTest, OnlyTheFirstMatchingOemInfInDirectoryOrderIsDeleted) {
    writeFile(inf("oem1.inf"), "unrelated");
    writeFile(inf("oem2.inf"), utf16le(kAnsiInf, true));
    writeFile(inf("oem3.inf"), withLf(kAnsiInf));
    writeFile(inf("other.inf"), kAnsiInf);  // not an OEM copy
    EXPECT_EQ(uninstall(), HX_UNINSTALL_DELETE_DRIVER_FAILED);  // no driver installed
    EXPECT_TRUE(std::filesystem::exists(inf("oem1.inf")));
    EXPECT_FALSE(std::filesystem::exists(inf("oem2.inf")));
    EXPECT_TRUE(std::filesystem::exists(inf("oem3.inf")));
    EXPECT_TRUE(std::filesystem::exists(inf("other.inf")));
}

TEST_F(RemovalTest, AnInfThatCannotBeOpenedDoesNotNameTheId) {
    writeFile(inf("oem1.inf"), kAnsiInf);
    writeFile(inf("oem2.inf"), kAnsiInf);
    machine.failOperation("fopen", kErrorAccessDenied, 1);
    (void)uninstall();
    EXPECT_TRUE(std::filesystem::exists(inf("oem1.inf")));
    EXPECT_FALSE(std::filesystem::exists(inf("oem2.inf")));
}

TEST_F(RemovalTest, TheInfFolderFollowsTheSystemDirectory) {
    machine.system().systemDirectory = u"D:\\WinNT\\System32";
    EXPECT_EQ(driverutil::getInfDirectory(machine.platform()), u"D:\\WinNT\\inf");
    machine.system().systemDirectory = u"C:\\Windows";
    EXPECT_EQ(driverutil::getInfDirectory(machine.platform()), u"C:\\Windows\\inf");
    machine.system().systemDirectory = u"C:";
    EXPECT_EQ(driverutil::getInfDirectory(machine.platform()), u"");
}

TEST(MyFileRead, ReportsWhetherTheReadRanIntoTheEnd) {
    struct Case {
        std::size_t fileBytes;
        std::int32_t asked;
        std::int32_t result;
    };
    for (const Case c : {Case{8192, 8192, 0}, Case{8192, 8193, 1}, Case{20000, 20000, 0}, Case{20000, 16384, 0},
                         Case{100, 200, 1}, Case{0, 0, 0}, Case{0, 1, 1}}) {
        std::FILE* stream = std::tmpfile();
        ASSERT_NE(stream, nullptr);
        const std::string content(c.fileBytes, 'x');
        std::fwrite(content.data(), 1, content.size(), stream);
        std::rewind(stream);
        std::vector<char> buffer(static_cast<std::size_t>(c.asked) + 1);
        EXPECT_EQ(myFileRead(buffer.data(), c.asked, stream), c.result) << c.fileBytes << " " << c.asked;
        std::fclose(stream);
    }
    EXPECT_EQ(myFileRead(nullptr, 10, nullptr), 0);
}

}  // namespace
}  // namespace hx::test

namespace hx::test {
namespace {

// An installation and a later removal in two "processes": each loads the
// machine kept in a directory, acts on it and saves it, as the installer's
// quiet install and its later uninstall do.
TEST(MachineDirectory, AnInstallationIsKeptInFilesAndALaterRemovalUndoesIt) {
    const auto directory = std::filesystem::temp_directory_path() / ("hx352-directory-test-" + std::to_string(::getpid()));
    std::filesystem::remove_all(directory);
    {
        auto machine = sim::Machine::openDirectory(directory);
        settingtool::ScopedSessionForTesting use(machine->platform());
        ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
        machine->save();
    }
    // What the installation left, as files anyone can read.
    EXPECT_TRUE(std::filesystem::exists(directory / "C/Windows/inf/oem0.inf"));
    EXPECT_TRUE(std::filesystem::exists(directory / "C/Windows/system32/VelmorUSBMon.dll") ||
                std::filesystem::exists(directory / "C/Windows/System32/VelmorUSBMon.dll"));
    const std::string spooler = readFile(directory / "machine/spooler.txt");
    EXPECT_NE(spooler.find("USB Printer Monitor"), std::string::npos);
    EXPECT_NE(spooler.find("USB PORT:"), std::string::npos);
    EXPECT_NE(spooler.find("HX-352"), std::string::npos);
    EXPECT_NE(readFile(directory / "machine/registry.txt").find("HX352 Language Monitor"), std::string::npos);
    {
        auto machine = sim::Machine::openDirectory(directory);
        settingtool::ScopedSessionForTesting use(machine->platform());
        ASSERT_EQ(uninstall(), HX_INSTALL_SUCCESS);
        machine->save();
        EXPECT_TRUE(machine->openResources().none()) << machine->describeOpenResources();
    }
    EXPECT_FALSE(std::filesystem::exists(directory / "C/Windows/inf/oem0.inf"));
    EXPECT_EQ(readFile(directory / "machine/spooler.txt").find("USB Printer Monitor"), std::string::npos);
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace hx::test
