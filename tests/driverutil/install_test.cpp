// Installation on the simulated machine: the order of its steps for each way
// through, and what it leaves on the machine.
#include <filesystem>

#include "platform/types.h"
#include "tests/driverutil/fixture.h"
#include "tests/driverutil/journal.h"

namespace hx::test {
namespace {

using namespace hx::platform::win;

const std::u16string kProgramDir = u"C:\\HX352Setup";

class InstallTest : public DriverUtilTest {
protected:
    std::filesystem::path host(const std::u16string& path) { return machine.hostPath(path); }
    std::filesystem::path system32(const char16_t* name) {
        return host(std::u16string(u"C:\\Windows\\System32\\") + name);
    }
    bool monitorRegistered() {
        const auto& monitors = machine.monitors();
        return std::any_of(monitors.begin(), monitors.end(),
                           [](const sim::SimMonitor& m) { return m.name == u"USB Printer Monitor"; });
    }
    bool portAdded() {
        const auto& ports = machine.ports();
        return std::any_of(ports.begin(), ports.end(), [](const sim::SimPort& p) { return p.name == u"USB PORT:"; });
    }
    bool driverInstalled() {
        const auto& drivers = machine.drivers();
        return std::any_of(drivers.begin(), drivers.end(), [](const sim::SimDriver& d) { return d.name == u"HX-352"; });
    }
    // Wire messages the printer received: 1 connection check, 2 firmware query.
    std::size_t printerQueries() { return machine.printer().received().size(); }
};

const std::initializer_list<const char*> kSteps = {
    "OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges", "GetModuleFileNameW",
    "CopyFileW", "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection", "AddMonitorW", "AddPortExA",
    "GetFullPathNameW", "SetupDiGetINFClassW", "SetupDiCreateDeviceInfoList", "SetupDiCreateDeviceInfoW",
    "SetupDiSetDeviceRegistryPropertyW", "SetupDiCallClassInstaller", "UpdateDriverForPlugAndPlayDevicesW",
    "SetupDiDestroyDeviceInfoList"};

TEST_F(InstallTest, ASuccessfulInstallationRunsEveryStepInOrder) {
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    const std::vector<std::string> expected = {
        "OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges", "GetModuleFileNameW",
        "CopyFileW",  // srclient.dll, missing from the system
        "CopyFileW", "CopyFileW",  // the monitor files
        "CopyFileW", "CopyFileW",  // again with redirection off (a 64-bit process has none to switch)
        "AddMonitorW", "AddPortExA", "GetFullPathNameW", "SetupDiGetINFClassW", "SetupDiCreateDeviceInfoList",
        "SetupDiCreateDeviceInfoW", "SetupDiSetDeviceRegistryPropertyW", "SetupDiCallClassInstaller",
        "SetupDiSetDeviceRegistryPropertyW", "UpdateDriverForPlugAndPlayDevicesW", "SetupDiDestroyDeviceInfoList"};
    std::vector<std::string> steps = operationsOf(machine, kSteps);
    // The settings library's printer search before it releases its own device set.
    steps.erase(steps.begin(), std::find(steps.begin(), steps.end(), "OpenProcessToken"));
    steps.erase(std::remove_if(steps.begin(), steps.end(),
                               [](const std::string& op) { return op.starts_with("Wow64"); }),
                steps.end());
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(printerQueries(), 2u);
    EXPECT_TRUE(monitorRegistered());
    EXPECT_TRUE(portAdded());
    EXPECT_TRUE(driverInstalled());
    EXPECT_TRUE(std::filesystem::exists(system32(u"VelmorUSBMon.dll")));
    EXPECT_TRUE(std::filesystem::exists(system32(u"VelmorUSBMonUI.dll")));
    EXPECT_TRUE(std::filesystem::exists(host(u"C:\\Windows\\inf\\oem0.inf")));
    EXPECT_TRUE(machine.privilegeEnabled(u"SeDebugPrivilege"));
    ASSERT_EQ(machine.devices().size(), 1u);
    EXPECT_EQ(machine.devices()[0].hardwareId, u"USBPRINT\\HX-35290EE");
    EXPECT_EQ(machine.devices()[0].description, u"HX-352.INF");
    const auto monitor = std::find_if(machine.monitors().begin(), machine.monitors().end(),
                                      [](const sim::SimMonitor& m) { return m.name == u"USB Printer Monitor"; });
    ASSERT_NE(monitor, machine.monitors().end());
    EXPECT_EQ(monitor->environment, u"Windows x64");
    EXPECT_EQ(monitor->dll, u"VelmorUSBMon.dll");
}

TEST_F(InstallTest, WithoutThePrinterNothingIsTouched) {
    machine.setUsbInterfaces({});
    const auto before = machine.journal().size();
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_PRINTER_NOT_CONNECTED);
    EXPECT_TRUE(operationsOf(machine, {"OpenProcessToken", "CopyFileW", "AddMonitorW", "AddPortExA",
                                       "SetupDiGetINFClassW", "UpdateDriverForPlugAndPlayDevicesW"},
                             before)
                    .empty());
    EXPECT_FALSE(monitorRegistered());
    EXPECT_FALSE(portAdded());
    EXPECT_FALSE(std::filesystem::exists(system32(u"VelmorUSBMon.dll")));
}

TEST_F(InstallTest, AFailedMonitorCopyStopsWithInnerError) {
    writeFile(system32(u"srclient.dll"), "present");  // no srclient copy comes first
    machine.failOperation("CopyFileW", kErrorAccessDenied, 1);
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_INNER_ERROR);
    EXPECT_EQ(operationsOf(machine, {"CopyFileW", "AddMonitorW"}), std::vector<std::string>{"CopyFileW"});
    EXPECT_EQ(printerQueries(), 1u);  // no firmware query
}

TEST_F(InstallTest, AMissingInfGivesDriverErrorAfterMonitorPortAndFirmwareSteps) {
    std::filesystem::remove(host(kProgramDir + u"\\HX-352\\ENG\\HX-352.INF"));
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_DRIVER_ERROR);
    EXPECT_TRUE(monitorRegistered());
    EXPECT_TRUE(portAdded());
    EXPECT_EQ(printerQueries(), 2u);
    EXPECT_TRUE(operationsOf(machine, {"SetupDiGetINFClassW", "UpdateDriverForPlugAndPlayDevicesW"}).empty());
    EXPECT_FALSE(driverInstalled());
}

TEST_F(InstallTest, AnInfDirectoryIsNoInf) {
    const auto inf = host(kProgramDir + u"\\HX-352\\ENG\\HX-352.INF");
    std::filesystem::remove(inf);
    std::filesystem::create_directory(inf);
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_DRIVER_ERROR);
}

TEST_F(InstallTest, ASilentFirmwareQueryMeansNotConnectedAfterMonitorAndPort) {
    machine.printer().scriptReply({{0xFF, 0xFF, 0xFF, 0xF0}, 0, false});
    machine.printer().scriptReply({{}, 0, true});
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_PRINTER_NOT_CONNECTED);
    EXPECT_TRUE(monitorRegistered());
    EXPECT_TRUE(portAdded());
    EXPECT_FALSE(driverInstalled());
    EXPECT_TRUE(operationsOf(machine, {"SetupDiGetINFClassW"}).empty());
}

TEST_F(InstallTest, AnAlreadyRegisteredMonitorCountsAsSuccessAndThePortIsStillAdded) {
    writeFile(system32(u"VelmorUSBMon.dll"), "old monitor");
    machine.monitors().push_back({u"USB Printer Monitor", u"Windows x64", u"VelmorUSBMon.dll"});
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_TRUE(journalHas(machine, "AddMonitorW"));
    EXPECT_TRUE(portAdded());
    // The registered monitor's file is in use by the spooler: the copy fails
    // with a sharing violation, the old file stays, installation goes on.
    EXPECT_EQ(readFile(system32(u"VelmorUSBMon.dll")), "old monitor");
}

TEST_F(InstallTest, SecondPassRunsWithRedirectionOffInAWow64Process) {
    machine.system().processArchitecture = 0;  // a 32-bit installer on 64-bit Windows
    // Plug-and-play driver updates refuse 32-bit callers on 64-bit Windows; the
    // monitor steps before it are what this shows.
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_DRIVER_ERROR);
    EXPECT_EQ(operationsOf(machine, {"CopyFileW", "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection"}),
              (std::vector<std::string>{"CopyFileW", "CopyFileW", "CopyFileW", "Wow64DisableWow64FsRedirection",
                                        "CopyFileW", "CopyFileW", "Wow64RevertWow64FsRedirection"}));
    EXPECT_FALSE(machine.redirectionDisabled());
    // The first pass landed in the redirected folder, the second in the real one.
    EXPECT_TRUE(std::filesystem::exists(host(u"C:\\Windows\\SysWOW64\\VelmorUSBMon.dll")));
    EXPECT_TRUE(std::filesystem::exists(host(u"C:\\Windows\\System32\\VelmorUSBMon.dll")));
}

TEST_F(InstallTest, RedirectionIsRestoredWhenTheSecondPassFails) {
    machine.system().processArchitecture = 0;
    // Only the real system folder has an obstacle where the file should go.
    std::filesystem::create_directories(system32(u"VelmorUSBMonUI.dll"));
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_INNER_ERROR);
    EXPECT_TRUE(journalHas(machine, "Wow64RevertWow64FsRedirection"));
    EXPECT_FALSE(machine.redirectionDisabled());
    EXPECT_FALSE(monitorRegistered());
}

TEST_F(InstallTest, AThirtyTwoBitSystemRegistersForX86InOnePass) {
    machine.system().nativeArchitecture = 0;
    machine.system().processArchitecture = 0;
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_EQ(operationsOf(machine, {"CopyFileW", "Wow64DisableWow64FsRedirection"}),
              (std::vector<std::string>{"CopyFileW", "CopyFileW", "CopyFileW"}));
    EXPECT_TRUE(journalHas(machine, "Windows NT x86"));
}

TEST_F(InstallTest, ASimplifiedChineseSystemTakesThePackageFromChn) {
    machine.system().defaultLangId = 0x0804;
    std::filesystem::remove(host(kProgramDir + u"\\HX-352\\ENG\\HX-352.INF"));
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_TRUE(journalHas(machine, "HX-352\\CHN\\HX-352.INF"));

    machine.system().defaultLangId = 0x0404;  // Traditional Chinese is not Simplified
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_DRIVER_ERROR);
}

TEST_F(InstallTest, SrclientComesFromBesideTheInstallerNotTheCurrentDirectory) {
    writeFile(host(kProgramDir + u"\\srclient.dll"), "from the installer's folder");
    writeFile(host(machine.system().currentDirectory + u"\\srclient.dll"), "planted");
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_EQ(readFile(system32(u"srclient.dll")), "from the installer's folder");
}

TEST_F(InstallTest, AnExistingSrclientIsLeftAlone) {
    writeFile(system32(u"srclient.dll"), "the system's own");
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_EQ(readFile(system32(u"srclient.dll")), "the system's own");
    std::filesystem::remove(host(kProgramDir + u"\\srclient.dll"));
    std::filesystem::remove(system32(u"srclient.dll"));
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);  // missing everywhere: silently on
}

TEST_F(InstallTest, DeviceAndDriverFailuresGiveDriverError) {
    for (const char* operation : {"SetupDiGetINFClassW", "SetupDiCreateDeviceInfoList", "SetupDiCreateDeviceInfoW",
                                  "SetupDiSetDeviceRegistryPropertyW", "SetupDiCallClassInstaller",
                                  "UpdateDriverForPlugAndPlayDevicesW"}) {
        machine.failOperation(operation, kErrorAccessDenied, 1);
        EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_DRIVER_ERROR) << operation;
        EXPECT_EQ(machine.openResources().deviceInfoSets, 0) << operation;
    }
}

TEST_F(InstallTest, ARepeatedInstallationSucceedsAgain) {
    ASSERT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
    EXPECT_EQ(HX352InstallDriver(nullptr), HX_INSTALL_SUCCESS);
}

}  // namespace
}  // namespace hx::test
