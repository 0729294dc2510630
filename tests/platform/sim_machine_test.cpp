// Contract tests of the simulated machine's system side: registry, services,
// spooler, modules, token, shell copies, global memory, injected faults, the
// fresh machine's contents and the machine kept in a directory.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/unique_handle.h"

namespace hx::sim {
namespace {

using namespace hx::platform;
using namespace hx::platform::win;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeySetValue = 0x2;
constexpr std::uint32_t kKeyCreateSubKey = 0x4;
constexpr std::uint32_t kErrorKeyDeleted = 1018;
constexpr std::uint32_t kRpcServerUnavailable = 1722;
constexpr std::uint32_t kErrorServiceCannotAcceptControl = 1061;
constexpr std::uint32_t kErrorServiceRequestTimeout = 1053;
constexpr std::uint32_t kErrorInvalidLevel = 124;
constexpr std::uint32_t kErrorUnknownPort = 1796;
constexpr std::uint32_t kErrorPrintMonitorInUse = 3008;
constexpr std::uint32_t kTokenQuery = 0x8;
constexpr std::uint32_t kFoDelete = 0x3;
constexpr std::uint16_t kCopyFlags = kFofSilent | kFofNoConfirmation | kFofNoConfirmMkdir | kFofNoErrorUi;
constexpr std::u16string_view kMonitors = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
constexpr std::u16string_view kWindowsKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// For failure messages: the text with anything beyond ASCII as '?'.
std::string utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string readHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeHostFile(const std::filesystem::path& path, std::string_view text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

Bytes stringBytes(std::u16string_view text) {
    Bytes bytes((text.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

// A double-NUL list of paths.
std::u16string list(std::initializer_list<std::u16string_view> items) {
    std::u16string out;
    for (auto item : items) {
        out += item;
        out += u'\0';
    }
    out += u'\0';
    return out;
}

class SimSystem : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(machine.openResources().none()) << machine.describeOpenResources(); }

    std::uint32_t lastError() { return p.lastError.getLastError(); }

    UniqueRegistryKey openKey(std::u16string_view path, std::uint32_t access, std::int32_t* result = nullptr) {
        Handle key = nullptr;
        auto error = p.registry.regOpenKeyEx(kHkeyLocalMachine, std::u16string(path).c_str(), 0, access, &key);
        if (result) *result = error;
        return UniqueRegistryKey(p.registry, key);
    }

    struct Value {
        std::uint32_t type;
        Bytes data;
        friend bool operator==(const Value&, const Value&) = default;
    };
    std::optional<Value> queryValue(std::u16string_view key, std::u16string_view name) {
        auto open = openKey(key, kKeyRead);
        if (!open) return std::nullopt;
        std::uint32_t size = 0;
        std::uint32_t type = 0;
        std::u16string valueName(name);
        if (p.registry.regQueryValueEx(open.get(), valueName.c_str(), &type, nullptr, &size) != 0) return std::nullopt;
        Bytes data(size);
        EXPECT_EQ(p.registry.regQueryValueEx(open.get(), valueName.c_str(), &type, data.data(), &size), 0);
        return Value{type, data};
    }
    void setValue(std::u16string_view key, std::u16string_view name, std::uint32_t type, const Bytes& data) {
        machine.createRegistryKey(std::u16string(key));
        auto open = openKey(key, kKeySetValue);
        ASSERT_TRUE(open);
        EXPECT_EQ(p.registry.regSetValueEx(open.get(), std::u16string(name).c_str(), type, data.data(),
                                           static_cast<std::uint32_t>(data.size())),
                  0);
    }

    UniqueServiceHandle openManager() {
        return UniqueServiceHandle(p.services, p.services.openScManager(nullptr, nullptr, kScManagerEnumerateService));
    }
    UniqueServiceHandle openSpooler(Handle manager, std::uint32_t access = kServiceAllAccess) {
        return UniqueServiceHandle(p.services, p.services.openService(manager, u"Spooler", access));
    }
    ServiceState queriedState() {
        auto manager = openManager();
        auto service = openSpooler(manager.get());
        ServiceStatus status{};
        EXPECT_TRUE(p.services.queryServiceStatus(service.get(), &status));
        return static_cast<ServiceState>(status.currentState);
    }

    UniquePrinter openPrinter(std::u16string_view name) {
        Handle printer = nullptr;
        PrinterDefaults defaults{nullptr, nullptr, kPrinterAllAccess};
        p.spooler.openPrinter(std::u16string(name).c_str(), &printer, &defaults);
        return UniquePrinter(p.spooler, printer);
    }

    // The records of one enumeration, learnt by size query then fill.
    template <class Record, class Call>
    std::vector<Record> enumerate(Call call, Bytes* storage) {
        std::uint32_t needed = 0, returned = 0;
        call(nullptr, 0, &needed, &returned);
        storage->assign(needed, 0);
        EXPECT_TRUE(call(storage->data(), needed, &needed, &returned)) << lastError();
        std::vector<Record> records(returned);
        if (returned) std::memcpy(records.data(), storage->data(), returned * sizeof(Record));
        return records;
    }
    std::vector<std::u16string> portNames() {
        Bytes storage;
        std::vector<std::u16string> names;
        for (const auto& port :
             enumerate<PortInfo2>([&](std::uint8_t*b, std::uint32_t s, std::uint32_t*n,
                                      std::uint32_t*r) { return p.spooler.enumPorts(nullptr, 2, b, s, n, r); },
                                  &storage)) {
            names.emplace_back(port.portName);
        }
        return names;
    }
    std::vector<std::u16string> printerNames() {
        Bytes storage;
        std::vector<std::u16string> names;
        for (const auto& printer : enumerate<PrinterInfo2>(
                 [&](std::uint8_t*b, std::uint32_t s, std::uint32_t*n, std::uint32_t*r) {
                     return p.spooler.enumPrinters(kPrinterEnumLocal | kPrinterEnumConnections, u"", 2, b, s, n, r);
                 },
                 &storage)) {
            names.emplace_back(printer.printerName);
        }
        return names;
    }

    bool addUsbMonitor() {
        std::filesystem::copy_file(machine.hostPath(u"C:\\HX352Setup\\VelmorUSBMon.dll"),
                                   machine.hostPath(u"C:\\Windows\\system32") / "VelmorUSBMon.dll");
        MonitorInfo2 info{const_cast<char16_t*>(u"USB Printer Monitor"), const_cast<char16_t*>(u"Windows x64"),
                          const_cast<char16_t*>(u"VelmorUSBMon.dll")};
        return p.spooler.addMonitor(nullptr, 2, &info);
    }

    Machine machine;
    Platform& p = machine.platform();
};

// ---- The fresh machine ----

TEST_F(SimSystem, AFreshMachineIsAnEnglishWindows10OnX64) {
    const auto& facts = machine.system();
    EXPECT_EQ(facts.majorVersion, 6u);
    EXPECT_EQ(facts.minorVersion, 2u);
    EXPECT_EQ(facts.buildNumber, 9200u);
    EXPECT_EQ(facts.platformId, kVerPlatformWin32Nt);
    EXPECT_EQ(facts.productType, kVerNtWorkstation);
    EXPECT_EQ(facts.trueMajorVersion, 10u);
    EXPECT_EQ(facts.nativeArchitecture, kProcessorArchitectureAmd64);
    EXPECT_EQ(facts.processArchitecture, kProcessorArchitectureAmd64);
    EXPECT_EQ(facts.defaultLangId, kLangEnglishUs);
    EXPECT_EQ(machine.spoolerState(), ServiceState::Running);
    EXPECT_EQ(machine.describeOpenResources(), "nothing open");
}

TEST_F(SimSystem, AFreshSpoolerHasTheLocalPortsAndTwoMonitorsButNoPrinters) {
    EXPECT_THAT(portNames(),
                ElementsAre(u"COM1:", u"COM2:", u"COM3:", u"COM4:", u"LPT1:", u"LPT2:", u"LPT3:", u"FILE:"));
    for (const auto& port : machine.ports()) {
        EXPECT_EQ(port.monitor, u"Local Port");
        EXPECT_EQ(port.description, u"Local Port");
    }
    Bytes storage;
    auto monitors =
        enumerate<MonitorInfo2>([&](std::uint8_t* b, std::uint32_t s, std::uint32_t* n,
                                    std::uint32_t* r) { return p.spooler.enumMonitors(nullptr, 2, b, s, n, r); },
                                &storage);
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(std::u16string(monitors[0].name), u"Local Port");
    EXPECT_EQ(std::u16string(monitors[0].dllName), u"localspl.dll");
    EXPECT_EQ(std::u16string(monitors[0].environment), u"Windows x64");
    EXPECT_EQ(std::u16string(monitors[1].name), u"Standard TCP/IP Port");
    EXPECT_EQ(std::u16string(monitors[1].dllName), u"tcpmon.dll");

    std::uint32_t needed = 1, returned = 1;
    EXPECT_TRUE(
        p.spooler.enumPrinters(kPrinterEnumLocal | kPrinterEnumConnections, u"", 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(machine.drivers().empty());
}

TEST_F(SimSystem, AFreshRegistryHoldsTheMonitorKeysAndThePortTimeout) {
    EXPECT_EQ(machine.registryString(std::u16string(kMonitors) + u"\\Local Port", u"Driver"), u"localspl.dll");
    EXPECT_EQ(machine.registryString(std::u16string(kMonitors) + u"\\Standard TCP/IP Port", u"Driver"), u"tcpmon.dll");
    EXPECT_EQ(machine.registryString(std::u16string(kWindowsKey), u"TransmissionRetryTimeout"), u"90");
    EXPECT_FALSE(machine.registryKeyExists(std::u16string(kMonitors) + u"\\USB Printer Monitor"));
}

TEST_F(SimSystem, AFreshDriveCHoldsTheSystemAndTheInstallerBesideItsPackage) {
    struct Case {
        std::u16string path;
        bool directory;
    };
    const Case cases[] = {
        {u"C:\\Windows\\system32", true},
        {u"C:\\Windows\\System32\\spool\\drivers\\x64", true},
        {u"C:\\Windows\\System32\\spool\\drivers\\W32X86", true},
        {u"C:\\Windows\\SysWOW64", true},
        {u"C:\\Windows\\inf", true},
        {u"C:\\Users\\Public", true},
        {u"C:\\HX352Setup\\HX-352DriverInstall.exe", false},
        {u"C:\\HX352Setup\\VelmorUSBMon.dll", false},
        {u"C:\\HX352Setup\\VelmorUSBMonUI.dll", false},
        {u"C:\\HX352Setup\\srclient.dll", false},
        {u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF", false},
        {u"C:\\HX352Setup\\HX-352\\CHN\\HX-352.INF", false},
    };
    for (const auto& c : cases) {
        auto host = machine.hostPath(c.path);
        EXPECT_TRUE(c.directory ? std::filesystem::is_directory(host) : std::filesystem::is_regular_file(host)) << host;
    }
    EXPECT_EQ(machine.hostPath(machine.system().programPath), machine.hostPath(cases[6].path));
    for (const auto& entry : std::filesystem::directory_iterator(machine.hostPath(u"C:\\Windows\\inf"))) {
        ADD_FAILURE() << "unexpected " << entry.path();
    }
}

TEST_F(SimSystem, ThePackageInfsAreAnsiTextWithCrLfLinesNamingTheClassAndTheHardwareId) {
    for (auto language : {u"ENG", u"CHN"}) {
        auto text =
            readHostFile(machine.hostPath(u"C:\\HX352Setup\\HX-352\\" + std::u16string(language) + u"\\HX-352.INF"));
        ASSERT_FALSE(text.empty());
        for (std::size_t i = 0; i < text.size(); ++i) {
            EXPECT_LT(static_cast<unsigned char>(text[i]), 0x80u);
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
            }
        }
        EXPECT_THAT(text, HasSubstr("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
                                    "ClassGuid={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"));
        EXPECT_THAT(text, HasSubstr("\"HX-352\" = HX352.Install, USBPRINT\\HX-35290EE\r\n"));
        EXPECT_THAT(text, HasSubstr("[Strings]\r\n"));
    }
}

// ---- Registry ----

TEST_F(SimSystem, KeysOpenWhenTheyExistAndTheRightsAreThere) {
    struct Case {
        std::u16string path;
        std::uint32_t access;
        bool writable;
        std::int32_t error;
    };
    const std::u16string windows(kWindowsKey);
    const Case cases[] = {
        {windows, kKeyRead, true, 0},
        {windows, kKeyReadWrite, true, 0},
        {u"software\\MICROSOFT\\windows nt\\CurrentVersion\\windows", kKeyRead, true, 0},
        {windows + u"\\Missing", kKeyRead, true, kErrorFileNotFound},
        {windows, kKeyRead, false, 0},
        {windows, kKeyWrite, false, kErrorAccessDenied},
        {windows, kKeyReadWrite, false, kErrorAccessDenied},
        {windows, kKeySetValue, false, kErrorAccessDenied},
        {windows, kKeyCreateSubKey, false, kErrorAccessDenied},
        {windows + u"\\Missing", kKeyWrite, false, kErrorFileNotFound},
    };
    for (const auto& c : cases) {
        machine.system().registryWritable = c.writable;
        std::int32_t error = -1;
        auto key = openKey(c.path, c.access, &error);
        EXPECT_EQ(error, c.error) << utf8(c.path) << " " << c.access << " " << c.writable;
        EXPECT_EQ(key.valid(), c.error == 0);
    }
}

TEST_F(SimSystem, OpenKeysAreCountedUntilClosed) {
    auto first = openKey(kWindowsKey, kKeyRead);
    auto second = openKey(kMonitors, kKeyRead);
    EXPECT_EQ(machine.openResources().registryKeys, 2);
    EXPECT_EQ(machine.describeOpenResources(), "2 registry keys");
    Handle raw = first.get();
    first.reset();
    EXPECT_EQ(machine.openResources().registryKeys, 1);
    EXPECT_EQ(p.registry.regCloseKey(raw), static_cast<std::int32_t>(kErrorInvalidHandle));
}

TEST_F(SimSystem, ValueQueriesReportTheSizeAndWriteOnlyWhatFits) {
    auto key = openKey(kWindowsKey, kKeyReadWrite);
    ASSERT_TRUE(key);
    const Bytes ninety = stringBytes(u"90");
    struct Case {
        const char16_t* name;
        bool withData;
        bool withSize;
        std::uint32_t capacity;
        std::int32_t error;
        std::uint32_t sizeAfter;
        bool written;
    };
    const Case cases[] = {
        {u"TransmissionRetryTimeout", false, true, 0, 0, 6, false},
        {u"TransmissionRetryTimeout", true, true, 4, static_cast<std::int32_t>(kErrorMoreData), 6, false},
        {u"TransmissionRetryTimeout", true, true, 6, 0, 6, true},
        {u"transmissionretrytimeout", true, true, 520, 0, 6, true},
        {u"Missing", true, true, 520, static_cast<std::int32_t>(kErrorFileNotFound), 520, false},
        {u"TransmissionRetryTimeout", true, false, 0, static_cast<std::int32_t>(kErrorInvalidParameter), 0, false},
    };
    for (const auto& c : cases) {
        Bytes buffer(520, 0xAA);
        std::uint32_t size = c.capacity;
        std::uint32_t type = 0;
        auto error = p.registry.regQueryValueEx(key.get(), c.name, &type, c.withData ? buffer.data() : nullptr,
                                                c.withSize ? &size : nullptr);
        EXPECT_EQ(error, c.error) << c.capacity;
        if (c.withSize) {
            EXPECT_EQ(size, c.sizeAfter) << c.capacity;
        }
        if (error == 0) {
            EXPECT_EQ(type, kRegSz);
        }
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6) == ninety, c.written) << c.capacity;
        if (!c.written) {
            EXPECT_EQ(buffer[0], 0xAA) << c.capacity;
        }
    }
}

TEST_F(SimSystem, ValuesAreSetReplacedAndDeletedThroughAWritableKey) {
    auto key = openKey(kWindowsKey, kKeyReadWrite);
    const Bytes dword{0x2A, 0, 0, 0};
    EXPECT_EQ(p.registry.regSetValueEx(key.get(), u"Answer", kRegDword, dword.data(), 4), 0);
    EXPECT_EQ(queryValue(kWindowsKey, u"answer"), (Value{kRegDword, dword}));
    const Bytes text = stringBytes(u"NULL");
    EXPECT_EQ(p.registry.regSetValueEx(key.get(), u"ANSWER", kRegSz, text.data(), 10), 0);
    EXPECT_EQ(machine.registryString(std::u16string(kWindowsKey), u"Answer"), u"NULL");
    EXPECT_EQ(p.registry.regDeleteValue(key.get(), u"answer"), 0);
    EXPECT_EQ(p.registry.regDeleteValue(key.get(), u"answer"), static_cast<std::int32_t>(kErrorFileNotFound));
    EXPECT_FALSE(queryValue(kWindowsKey, u"Answer"));

    auto readOnly = openKey(kWindowsKey, kKeyRead);
    EXPECT_EQ(p.registry.regSetValueEx(readOnly.get(), u"Answer", kRegDword, dword.data(), 4),
              static_cast<std::int32_t>(kErrorAccessDenied));
    EXPECT_EQ(p.registry.regDeleteValue(readOnly.get(), u"TransmissionRetryTimeout"),
              static_cast<std::int32_t>(kErrorAccessDenied));
}

TEST_F(SimSystem, OnlyAKeyWithoutSubkeysCanBeDeleted) {
    machine.createRegistryKey(std::u16string(kMonitors) + u"\\USB Printer Monitor\\Ports");
    auto monitors = openKey(kMonitors, kKeyReadWrite);
    auto usb = openKey(std::u16string(kMonitors) + u"\\USB Printer Monitor", kKeyReadWrite);
    struct Case {
        const char16_t* subKey;
        std::int32_t error;
    };
    const Case cases[] = {
        {u"USB Printer Monitor", static_cast<std::int32_t>(kErrorAccessDenied)},
        {u"usb printer monitor\\ports", 0},
        {u"USB Printer Monitor\\Ports", static_cast<std::int32_t>(kErrorFileNotFound)},
        {u"USB Printer Monitor", 0},
        {u"USB Printer Monitor", static_cast<std::int32_t>(kErrorFileNotFound)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(p.registry.regDeleteKey(monitors.get(), c.subKey), c.error) << utf8(c.subKey);
    }
    EXPECT_FALSE(machine.registryKeyExists(std::u16string(kMonitors) + u"\\USB Printer Monitor"));
    // The handle outlives its key; using it says so.
    std::uint32_t size = 0;
    EXPECT_EQ(p.registry.regQueryValueEx(usb.get(), u"Driver", nullptr, nullptr, &size),
              static_cast<std::int32_t>(kErrorKeyDeleted));
}

TEST_F(SimSystem, KeysOpenRelativeToAnOpenKey) {
    auto print = openKey(u"SYSTEM\\CurrentControlSet\\Control\\Print", kKeyRead);
    Handle monitor = nullptr;
    EXPECT_EQ(p.registry.regOpenKeyEx(print.get(), u"Monitors\\Local Port", 0, kKeyRead, &monitor), 0);
    UniqueRegistryKey owned(p.registry, monitor);
    Bytes buffer(64);
    std::uint32_t size = 64, type = 0;
    EXPECT_EQ(p.registry.regQueryValueEx(monitor, u"Driver", &type, buffer.data(), &size), 0);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer.data())), u"localspl.dll");
}

TEST_F(SimSystem, TheRegistryHelpersCreateAndReadStringValues) {
    const std::u16string key = u"SOFTWARE\\Velmor\\HX-352\\Settings";
    EXPECT_FALSE(machine.registryKeyExists(key));
    machine.createRegistryKey(key);
    EXPECT_TRUE(machine.registryKeyExists(u"software\\velmor\\hx-352"));
    machine.setRegistryString(key, u"Port", u"USB PORT:");
    EXPECT_EQ(queryValue(key, u"Port"), (Value{kRegSz, stringBytes(u"USB PORT:")}));
    setValue(key, u"Count", kRegDword, {1, 0, 0, 0});
    EXPECT_EQ(machine.registryString(key, u"Count"), std::nullopt);
    EXPECT_EQ(machine.registryString(key, u"Missing"), std::nullopt);
}

// ---- Services ----

TEST_F(SimSystem, TheServiceManagerKnowsOnlyTheSpooler) {
    auto manager = openManager();
    ASSERT_TRUE(manager);
    {
        UniqueServiceHandle spooler(p.services, p.services.openService(manager.get(), u"spooler", kServiceAllAccess));
        EXPECT_TRUE(spooler);
        EXPECT_EQ(machine.openResources().serviceHandles, 2);
    }
    EXPECT_EQ(p.services.openService(manager.get(), u"Fax", kServiceAllAccess), nullptr);
    EXPECT_EQ(lastError(), kErrorServiceDoesNotExist);
    EXPECT_EQ(p.services.openService(nullptr, u"Spooler", kServiceAllAccess), nullptr);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_FALSE(p.services.closeServiceHandle(nullptr));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    ServiceStatus status{};
    EXPECT_FALSE(p.services.queryServiceStatus(manager.get(), &status));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

TEST_F(SimSystem, AStopCompletesAfterItsDelayOfVirtualTime) {
    machine.spoolerStopDelayMs = 300;
    auto manager = openManager();
    auto spooler = openSpooler(manager.get());
    ServiceStatus status{};
    ASSERT_TRUE(p.services.controlService(spooler.get(), kServiceControlStop, &status));
    EXPECT_EQ(status.currentState, kServiceStopPending);
    EXPECT_EQ(status.waitHint, 300u);
    p.clock.sleep(299);
    EXPECT_EQ(queriedState(), ServiceState::StopPending);
    EXPECT_EQ(machine.spoolerState(), ServiceState::StopPending);
    p.clock.sleep(1);
    EXPECT_EQ(machine.spoolerState(), ServiceState::Stopped);
    EXPECT_EQ(queriedState(), ServiceState::Stopped);
}

TEST_F(SimSystem, StopsAndStartsFollowTheServicesState) {
    enum class Op { Stop, Start };
    struct Case {
        ServiceState before;
        Op op;
        std::uint32_t error;  // 0: accepted
        ServiceState after;
    };
    const Case cases[] = {
        {ServiceState::Running, Op::Stop, 0, ServiceState::StopPending},
        {ServiceState::Stopped, Op::Stop, kErrorServiceNotActive, ServiceState::Stopped},
        {ServiceState::StopPending, Op::Stop, kErrorServiceCannotAcceptControl, ServiceState::StopPending},
        {ServiceState::Stopped, Op::Start, 0, ServiceState::Running},
        {ServiceState::Running, Op::Start, kErrorServiceAlreadyRunning, ServiceState::Running},
        {ServiceState::StopPending, Op::Start, kErrorServiceAlreadyRunning, ServiceState::StopPending},
    };
    auto manager = openManager();
    auto spooler = openSpooler(manager.get());
    for (const auto& c : cases) {
        machine.setSpoolerState(c.before);
        ServiceStatus status{};
        bool ok = c.op == Op::Stop ? p.services.controlService(spooler.get(), kServiceControlStop, &status)
                                   : p.services.startService(spooler.get(), 0, nullptr);
        EXPECT_EQ(ok, c.error == 0) << static_cast<int>(c.before) << " " << static_cast<int>(c.op);
        if (!ok) {
            EXPECT_EQ(lastError(), c.error);
        }
        EXPECT_EQ(machine.spoolerState(), c.after);
    }
}

TEST_F(SimSystem, RefusalsCountDown) {
    auto manager = openManager();
    auto spooler = openSpooler(manager.get());
    machine.refuseSpoolerStop(2);
    ServiceStatus status{};
    for (int i = 0; i < 2; ++i) {
        EXPECT_FALSE(p.services.controlService(spooler.get(), kServiceControlStop, &status));
        EXPECT_EQ(lastError(), kErrorServiceCannotAcceptControl);
        EXPECT_EQ(status.currentState, kServiceRunning);
    }
    EXPECT_TRUE(p.services.controlService(spooler.get(), kServiceControlStop, &status));
    p.clock.sleep(machine.spoolerStopDelayMs);
    machine.refuseSpoolerStart(1);
    EXPECT_FALSE(p.services.startService(spooler.get(), 0, nullptr));
    EXPECT_EQ(lastError(), kErrorServiceRequestTimeout);
    EXPECT_EQ(machine.spoolerState(), ServiceState::Stopped);
    EXPECT_TRUE(p.services.startService(spooler.get(), 0, nullptr));
    EXPECT_EQ(machine.spoolerState(), ServiceState::Running);
}

TEST_F(SimSystem, EverySpoolerCallFailsWhileTheServiceIsNotRunning) {
    auto procedure = [&] {
        UniqueLibrary winspool(p.libraries, p.libraries.loadLibrary(u"winspool.drv"));
        return p.libraries.getProcAddress(winspool.get(), "AddPortExA");
    }();
    std::uint32_t needed = 0, returned = 0;
    Bytes buffer(4096);
    MonitorInfo2 monitor{const_cast<char16_t*>(u"M"), nullptr, const_cast<char16_t*>(u"localspl.dll")};
    char portName[] = "USB PORT:";
    PortInfo1A port{portName};
    const std::vector<std::pair<const char*, std::function<bool()>>> calls{
        {"EnumPortsW", [&] { return p.spooler.enumPorts(nullptr, 2, buffer.data(), 4096, &needed, &returned); }},
        {"EnumMonitorsW", [&] { return p.spooler.enumMonitors(nullptr, 2, buffer.data(), 4096, &needed, &returned); }},
        {"EnumPrintersW", [&] { return p.spooler.enumPrinters(6, u"", 2, buffer.data(), 4096, &needed, &returned); }},
        {"OpenPrinterW",
         [&] {
             Handle printer = nullptr;
             return p.spooler.openPrinter(u"HX-352", &printer, nullptr);
         }},
        {"GetPrinterDriverDirectoryW",
         [&] { return p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, buffer.data(), 4096, &needed); }},
        {"DeletePrinterDriverW", [&] { return p.spooler.deletePrinterDriver(nullptr, u"Windows x64", u"HX-352"); }},
        {"AddMonitorW", [&] { return p.spooler.addMonitor(nullptr, 2, &monitor); }},
        {"DeleteMonitorW", [&] { return p.spooler.deleteMonitor(nullptr, nullptr, u"Local Port"); }},
        {"AddPortExA", [&] { return p.spooler.callAddPortExA(procedure, nullptr, 1, &port, "Local Port"); }},
    };
    machine.drivers().push_back({u"HX-352", u"Windows x64"});
    machine.printers().push_back({u"HX-352", u"HX-352", u"FILE:", {}});
    for (auto state : {ServiceState::Stopped, ServiceState::StopPending, ServiceState::StartPending}) {
        machine.setSpoolerState(state);
        for (const auto& [name, call] : calls) {
            EXPECT_FALSE(call()) << name;
            EXPECT_EQ(lastError(), kRpcServerUnavailable) << name;
        }
    }
    EXPECT_EQ(machine.drivers().size(), 1u);
    EXPECT_EQ(machine.monitors().size(), 2u);
    EXPECT_EQ(machine.ports().size(), 8u);
}

TEST_F(SimSystem, PrinterHandlesDieWithTheSpoolerRunTheyWereOpenedIn) {
    machine.printers().push_back({u"HX-352", u"HX-352", u"FILE:", {}});
    auto printer = openPrinter(u"HX-352");
    ASSERT_TRUE(printer);
    machine.setSpoolerState(ServiceState::Stopped);
    machine.setSpoolerState(ServiceState::Running);
    std::uint32_t needed = 0;
    EXPECT_FALSE(p.spooler.getPrinter(printer.get(), 2, nullptr, 0, &needed));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    printer.reset();
    EXPECT_EQ(machine.openResources().printerHandles, 0);
}

// ---- Spooler ----

// One enumeration and how to find the strings of its records.
struct EnumerationCase {
    const char* name;
    std::size_t recordSize;
    std::size_t count;
    std::function<bool(Platform&, std::uint8_t*, std::uint32_t, std::uint32_t*, std::uint32_t*)> call;
    std::function<std::vector<const char16_t*>(const std::uint8_t*)> strings;
};

template <class Record, class... Fields>
std::function<std::vector<const char16_t*>(const std::uint8_t*)> stringsOf(Fields... fields) {
    return [=](const std::uint8_t* bytes) {
        Record record;
        std::memcpy(&record, bytes, sizeof record);
        return std::vector<const char16_t*>{record.*fields...};
    };
}

TEST_F(SimSystem, EnumerationsPackTheRecordsThenTheirStringsIntoTheCallersBuffer) {
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {{3, u"label"}}});
    machine.printers().push_back({u"Office", u"Other", u"FILE:", {}});
    const EnumerationCase cases[] = {
        {"ports", sizeof(PortInfo2), 8,
         [](Platform& q, std::uint8_t* b, std::uint32_t s, std::uint32_t* n, std::uint32_t* r) {
             return q.spooler.enumPorts(nullptr, 2, b, s, n, r);
         },
         stringsOf<PortInfo2>(&PortInfo2::portName, &PortInfo2::monitorName, &PortInfo2::description)},
        {"monitors", sizeof(MonitorInfo2), 2,
         [](Platform& q, std::uint8_t* b, std::uint32_t s, std::uint32_t* n, std::uint32_t* r) {
             return q.spooler.enumMonitors(nullptr, 2, b, s, n, r);
         },
         stringsOf<MonitorInfo2>(&MonitorInfo2::name, &MonitorInfo2::environment, &MonitorInfo2::dllName)},
        {"printers", sizeof(PrinterInfo2), 2,
         [](Platform& q, std::uint8_t* b, std::uint32_t s, std::uint32_t* n, std::uint32_t* r) {
             return q.spooler.enumPrinters(kPrinterEnumLocal | kPrinterEnumConnections, nullptr, 2, b, s, n, r);
         },
         stringsOf<PrinterInfo2>(&PrinterInfo2::printerName, &PrinterInfo2::portName, &PrinterInfo2::driverName,
                                 &PrinterInfo2::datatype, &PrinterInfo2::printProcessor)},
    };
    for (const auto& c : cases) {
        std::uint32_t needed = 0, returned = 7;
        EXPECT_FALSE(c.call(p, nullptr, 0, &needed, &returned)) << c.name;
        EXPECT_EQ(lastError(), kErrorInsufficientBuffer) << c.name;
        EXPECT_EQ(returned, 0u) << c.name;
        ASSERT_GT(needed, c.count * c.recordSize) << c.name;

        Bytes small(needed - 1, 0xAB);
        std::uint32_t neededAgain = 0;
        EXPECT_FALSE(c.call(p, small.data(), needed - 1, &neededAgain, &returned)) << c.name;
        EXPECT_EQ(lastError(), kErrorInsufficientBuffer) << c.name;
        EXPECT_EQ(neededAgain, needed) << c.name;
        EXPECT_EQ(small, Bytes(needed - 1, 0xAB)) << c.name << ": a buffer too small is left alone";

        Bytes buffer(needed + 16, 0xAB);
        ASSERT_TRUE(c.call(p, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &needed, &returned)) << c.name;
        EXPECT_EQ(returned, c.count) << c.name;
        auto* stringsStart = reinterpret_cast<const char16_t*>(buffer.data() + c.count * c.recordSize);
        auto* end = reinterpret_cast<const char16_t*>(buffer.data() + needed);
        for (std::size_t i = 0; i < c.count; ++i) {
            for (const char16_t* text : c.strings(buffer.data() + i * c.recordSize)) {
                ASSERT_NE(text, nullptr) << c.name;
                EXPECT_GE(text, stringsStart) << c.name;
                EXPECT_LT(text + std::char_traits<char16_t>::length(text), end) << c.name;
            }
        }
        EXPECT_EQ(buffer[needed], 0xAB) << c.name << ": nothing beyond the needed size";
    }
}

TEST_F(SimSystem, PrinterEnumerationSeesOnlyTheLocalMachine) {
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {}});
    struct Case {
        std::uint32_t flags;
        const char16_t* name;
        std::uint32_t level;
        std::uint32_t error;  // 0: succeeds
        std::uint32_t count;
    };
    const Case cases[] = {
        {kPrinterEnumLocal | kPrinterEnumConnections, u"", 2, 0, 1},
        {kPrinterEnumLocal, nullptr, 2, 0, 1},
        {kPrinterEnumConnections, u"", 2, 0, 0},
        {kPrinterEnumLocal, u"\\\\OTHER", 2, 123, 0},
        {kPrinterEnumLocal, u"", 1, kErrorInvalidLevel, 0},
    };
    for (const auto& c : cases) {
        Bytes buffer(4096);
        std::uint32_t needed = 0, returned = 0;
        bool ok = p.spooler.enumPrinters(c.flags, c.name, c.level, buffer.data(), 4096, &needed, &returned);
        EXPECT_EQ(ok, c.error == 0) << c.flags << " " << c.level;
        if (!ok) {
            EXPECT_EQ(lastError(), c.error);
        }
        EXPECT_EQ(returned, c.count);
    }
}

TEST_F(SimSystem, PrintersOpenByNameWithoutRegardToCase) {
    machine.printers().push_back({u"HX-352 Label", u"HX-352", u"USB PORT:", {}});
    {
        auto printer = openPrinter(u"hx-352 LABEL");
        EXPECT_TRUE(printer);
        EXPECT_EQ(machine.openResources().printerHandles, 1);
        Bytes storage;
        std::uint32_t needed = 0;
        EXPECT_FALSE(p.spooler.getPrinter(printer.get(), 2, nullptr, 0, &needed));
        EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
        storage.assign(needed, 0);
        ASSERT_TRUE(p.spooler.getPrinter(printer.get(), 2, storage.data(), needed, &needed));
        PrinterInfo2 info;
        std::memcpy(&info, storage.data(), sizeof info);
        EXPECT_EQ(std::u16string(info.printerName), u"HX-352 Label");
        EXPECT_EQ(std::u16string(info.driverName), u"HX-352");
        EXPECT_EQ(std::u16string(info.portName), u"USB PORT:");
        EXPECT_GE(reinterpret_cast<std::uint8_t*>(info.printerName), storage.data() + sizeof info);
    }
    for (const char16_t* name : {u"HX-352", u"HX-352 Label ", static_cast<const char16_t*>(nullptr)}) {
        Handle printer = reinterpret_cast<Handle>(1);
        EXPECT_FALSE(p.spooler.openPrinter(name, &printer, nullptr));
        EXPECT_EQ(lastError(), kErrorInvalidPrinterName);
        EXPECT_EQ(printer, nullptr);
    }
}

TEST_F(SimSystem, SetPrinterTakesTheRecordsPortAndKeepsTheDriver) {
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {}});
    auto printer = openPrinter(u"HX-352");
    std::uint32_t needed = 0;
    p.spooler.getPrinter(printer.get(), 2, nullptr, 0, &needed);
    Bytes storage(needed);
    ASSERT_TRUE(p.spooler.getPrinter(printer.get(), 2, storage.data(), needed, &needed));
    PrinterInfo2 info;
    std::memcpy(&info, storage.data(), sizeof info);
    std::u16string otherDriver = u"Other";
    info.driverName = otherDriver.data();
    std::u16string port = u"lpt1:";
    info.portName = port.data();
    EXPECT_TRUE(p.spooler.setPrinter(printer.get(), 2, reinterpret_cast<std::uint8_t*>(&info), 0));
    EXPECT_EQ(machine.printers()[0].port, u"LPT1:");
    EXPECT_EQ(machine.printers()[0].driver, u"HX-352");
    std::u16string unknown = u"COM9:";
    info.portName = unknown.data();
    EXPECT_FALSE(p.spooler.setPrinter(printer.get(), 2, reinterpret_cast<std::uint8_t*>(&info), 0));
    EXPECT_EQ(lastError(), kErrorUnknownPort);
    EXPECT_EQ(machine.printers()[0].port, u"LPT1:");
}

TEST_F(SimSystem, ADeletedPrinterLeavesAtOnceAndGoesForGoodWithItsLastHandle) {
    machine.drivers().push_back({u"HX-352", u"Windows x64"});
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {{1, u"a"}}});
    auto first = openPrinter(u"HX-352");
    auto second = openPrinter(u"HX-352");
    EXPECT_TRUE(p.spooler.deletePrinter(first.get()));
    EXPECT_TRUE(printerNames().empty());
    EXPECT_FALSE(openPrinter(u"HX-352"));
    EXPECT_EQ(lastError(), kErrorInvalidPrinterName);
    std::uint32_t needed = 0;
    EXPECT_FALSE(p.spooler.getPrinter(second.get(), 2, nullptr, 0, &needed));
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer) << "the open handles still reach it";
    first.reset();
    EXPECT_FALSE(p.spooler.deletePrinterDriver(nullptr, u"Windows x64", u"HX-352"));
    EXPECT_EQ(lastError(), kErrorPrinterDriverInUse);
    second.reset();
    EXPECT_TRUE(p.spooler.deletePrinterDriver(nullptr, u"Windows x64", u"HX-352"));
}

TEST_F(SimSystem, JobsEnumerateAtLevel3AndAreDeletedBySetJob) {
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {{4, u"a"}, {7, u"b"}, {9, u"c"}}});
    auto printer = openPrinter(u"HX-352");
    auto jobs = [&](std::uint32_t first, std::uint32_t count) {
        std::uint32_t needed = 0, returned = 0;
        bool any = !p.spooler.enumJobs(printer.get(), first, count, 3, nullptr, 0, &needed, &returned);
        EXPECT_EQ(any, needed > 0);
        if (any) {
            EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
        }
        Bytes storage(needed);
        EXPECT_TRUE(p.spooler.enumJobs(printer.get(), first, count, 3, storage.data(), needed, &needed, &returned));
        EXPECT_EQ(needed, returned * sizeof(JobInfo3));
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (std::uint32_t i = 0; i < returned; ++i) {
            JobInfo3 job;
            std::memcpy(&job, storage.data() + i * sizeof job, sizeof job);
            out.emplace_back(job.jobId, job.nextJobId);
        }
        return out;
    };
    using Chain = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    EXPECT_EQ(jobs(0, 0xFFFFFFFFu), (Chain{{4, 7}, {7, 9}, {9, 0}}));
    EXPECT_EQ(jobs(1, 1), (Chain{{7, 9}}));
    JobInfo3 record{7, 9, 0};
    EXPECT_TRUE(p.spooler.setJob(printer.get(), 7, 3, reinterpret_cast<std::uint8_t*>(&record), kJobControlDelete));
    EXPECT_EQ(jobs(0, 0xFFFFFFFFu), (Chain{{4, 9}, {9, 0}}));
    EXPECT_FALSE(p.spooler.setJob(printer.get(), 7, 3, reinterpret_cast<std::uint8_t*>(&record), kJobControlDelete));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
    std::uint32_t needed = 0, returned = 0;
    EXPECT_FALSE(p.spooler.enumJobs(printer.get(), 0, 10, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(lastError(), kErrorInvalidLevel);
}

TEST_F(SimSystem, ADriverIsDeletedOnlyWhenInstalledForTheEnvironmentAndUnused) {
    struct Case {
        const char* what;
        std::vector<SimDriver> drivers;
        std::vector<SimPrinterQueue> printers;
        const char16_t* environment;
        const char16_t* name;
        std::uint32_t error;  // 0: deleted
    };
    const Case cases[] = {
        {"installed", {{u"HX-352", u"Windows x64"}}, {}, u"Windows x64", u"HX-352", 0},
        {"name without case", {{u"HX-352", u"Windows x64"}}, {}, u"windows X64", u"hx-352", 0},
        {"native environment by default", {{u"HX-352", u"Windows x64"}}, {}, nullptr, u"HX-352", 0},
        {"missing", {}, {}, u"Windows x64", u"HX-352", kErrorUnknownPrinterDriver},
        {"other environment",
         {{u"HX-352", u"Windows x64"}},
         {},
         u"Windows NT x86",
         u"HX-352",
         kErrorUnknownPrinterDriver},
        {"unknown environment",
         {{u"HX-352", u"Windows x64"}},
         {},
         u"Windows ARM64",
         u"HX-352",
         kErrorInvalidEnvironment},
        {"in use",
         {{u"HX-352", u"Windows x64"}},
         {{u"Label", u"hx-352", u"FILE:", {}}},
         u"Windows x64",
         u"HX-352",
         kErrorPrinterDriverInUse},
    };
    for (const auto& c : cases) {
        machine.drivers() = c.drivers;
        machine.printers() = c.printers;
        bool ok = p.spooler.deletePrinterDriver(nullptr, c.environment, c.name);
        EXPECT_EQ(ok, c.error == 0) << c.what;
        if (!ok) {
            EXPECT_EQ(lastError(), c.error) << c.what;
        }
        EXPECT_EQ(machine.drivers().size(), c.drivers.size() - (ok ? 1 : 0)) << c.what;
    }
}

TEST_F(SimSystem, AMonitorIsRegisteredOnceAndOnlyWithItsDllInTheSystemDirectory) {
    std::filesystem::copy_file(machine.hostPath(u"C:\\HX352Setup\\VelmorUSBMon.dll"),
                               machine.hostPath(u"C:\\Windows\\system32") / "VelmorUSBMon.dll");
    struct Case {
        const char16_t* name;
        const char16_t* environment;
        const char16_t* dll;
        std::uint32_t level;
        std::uint32_t error;
    };
    const Case cases[] = {
        {u"USB Printer Monitor", u"Windows NT x64", u"VelmorUSBMon.dll", 2, kErrorInvalidEnvironment},
        {u"USB Printer Monitor", u"Windows x64", u"Missing.dll", 2, kErrorModNotFound},
        {u"USB Printer Monitor", u"Windows x64", u"VelmorUSBMon.dll", 1, kErrorInvalidLevel},
        {u"USB Printer Monitor", u"Windows x64", u"VelmorUSBMon.dll", 2, 0},
        {u"usb printer MONITOR", u"Windows x64", u"VelmorUSBMon.dll", 2, kErrorPrintMonitorAlreadyInstalled},
        {u"Local Port", u"Windows x64", u"localspl.dll", 2, kErrorPrintMonitorAlreadyInstalled},
    };
    for (const auto& c : cases) {
        MonitorInfo2 info{const_cast<char16_t*>(c.name), const_cast<char16_t*>(c.environment),
                          const_cast<char16_t*>(c.dll)};
        bool ok = p.spooler.addMonitor(nullptr, c.level, &info);
        EXPECT_EQ(ok, c.error == 0) << utf8(c.name) << " " << utf8(c.dll);
        if (!ok) {
            EXPECT_EQ(lastError(), c.error) << utf8(c.dll);
        }
    }
    ASSERT_EQ(machine.monitors().size(), 3u);
    EXPECT_EQ(machine.monitors()[2].name, u"USB Printer Monitor");
    EXPECT_EQ(machine.monitors()[2].dll, u"VelmorUSBMon.dll");
    EXPECT_EQ(machine.registryString(std::u16string(kMonitors) + u"\\USB Printer Monitor", u"Driver"),
              u"VelmorUSBMon.dll");
}

TEST_F(SimSystem, DeletingAMonitorTakesItsPortsAndLeavesItsKeyWithoutDriver) {
    ASSERT_TRUE(addUsbMonitor());
    machine.ports().push_back({u"USB PORT:", u"USB Printer Monitor", u"USB", 1});
    machine.printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {}});
    EXPECT_FALSE(p.spooler.deleteMonitor(nullptr, u"Windows x64", u"USB Printer Monitor"));
    EXPECT_EQ(lastError(), kErrorPrintMonitorInUse);
    machine.printers().clear();
    EXPECT_TRUE(p.spooler.deleteMonitor(nullptr, u"Windows x64", u"usb printer monitor"));
    EXPECT_EQ(machine.monitors().size(), 2u);
    EXPECT_EQ(portNames().size(), 8u);
    const auto key = std::u16string(kMonitors) + u"\\USB Printer Monitor";
    EXPECT_TRUE(machine.registryKeyExists(key));
    EXPECT_EQ(machine.registryString(key, u"Driver"), std::nullopt);
    EXPECT_FALSE(p.spooler.deleteMonitor(nullptr, u"Windows x64", u"USB Printer Monitor"));
    EXPECT_EQ(lastError(), kErrorUnknownPrintMonitor);
}

TEST_F(SimSystem, APortIsAddedThroughTheLookedUpProcedureOfARegisteredMonitor) {
    ASSERT_TRUE(addUsbMonitor());
    UniqueLibrary winspool(p.libraries, p.libraries.loadLibrary(u"winspool.drv"));
    auto addPortExA = p.libraries.getProcAddress(winspool.get(), "AddPortExA");
    auto otherProcedure =
        p.libraries.getProcAddress(p.libraries.getModuleHandle(u"kernel32"), "Wow64DisableWow64FsRedirection");
    char usbPort[] = "USB PORT:";
    char usbPortLower[] = "usb port:";
    struct Case {
        Procedure procedure;
        char* port;
        const char* monitor;
        std::uint32_t level;
        std::uint32_t error;
    };
    const Case cases[] = {
        {otherProcedure, usbPort, "USB Printer Monitor", 1, kErrorInvalidParameter},
        {addPortExA, usbPort, "No Such Monitor", 1, kErrorUnknownPrintMonitor},
        {addPortExA, usbPort, "USB Printer Monitor", 2, kErrorInvalidLevel},
        {addPortExA, usbPort, "USB Printer Monitor", 1, 0},
        {addPortExA, usbPortLower, "USB Printer Monitor", 1, kErrorAlreadyExists},
    };
    for (const auto& c : cases) {
        PortInfo1A port{c.port};
        bool ok = p.spooler.callAddPortExA(c.procedure, nullptr, c.level, &port, c.monitor);
        EXPECT_EQ(ok, c.error == 0) << c.monitor << " " << c.level;
        if (!ok) {
            EXPECT_EQ(lastError(), c.error) << c.monitor;
        }
    }
    EXPECT_EQ(portNames().back(), u"USB PORT:");
    EXPECT_EQ(machine.ports().back().monitor, u"USB Printer Monitor");
}

TEST_F(SimSystem, ARegisteredMonitorsDllIsInUseWhileTheSpoolerRuns) {
    ASSERT_TRUE(addUsbMonitor());
    const std::u16string target = u"C:\\Windows\\System32\\VelmorUSBMon.dll";
    const std::u16string source = u"C:\\HX352Setup\\VelmorUSBMon.dll";
    EXPECT_FALSE(p.files.copyFile(source.c_str(), target.c_str(), false));
    EXPECT_EQ(lastError(), kErrorSharingViolation);
    EXPECT_FALSE(p.files.deleteFile(target.c_str()));
    EXPECT_EQ(lastError(), kErrorSharingViolation);
    EXPECT_EQ(
        p.shell.fileOperation(kFoCopy, list({source}).c_str(), list({u"C:\\Windows\\system32"}).c_str(), kCopyFlags),
        static_cast<int>(kErrorSharingViolation));

    machine.setSpoolerState(ServiceState::Stopped);
    EXPECT_TRUE(p.files.copyFile(source.c_str(), target.c_str(), false)) << lastError();
    machine.setSpoolerState(ServiceState::Running);
    ASSERT_TRUE(p.spooler.deleteMonitor(nullptr, nullptr, u"USB Printer Monitor"));
    EXPECT_TRUE(p.files.deleteFile(target.c_str())) << lastError();
}

// ---- Modules ----

TEST_F(SimSystem, KnownModulesLoadByNameWithOrWithoutExtension) {
    struct Case {
        const char16_t* name;
        bool loads;
    };
    const Case cases[] = {
        {u"kernel32", true},      {u"Kernel32.dll", true}, {u"NTDLL.DLL", true},
        {u"winspool.drv", true},  {u"WinSpool", true},     {u"C:\\Windows\\System32\\ntdll.dll", true},
        {u"winspool.dll", false}, {u"shell32.dll", false}, {u"D:\\bin\\kernel32.dll", false},
    };
    for (const auto& c : cases) {
        UniqueLibrary module(p.libraries, p.libraries.loadLibrary(c.name));
        EXPECT_EQ(module.valid(), c.loads) << utf8(c.name);
        if (!c.loads) {
            EXPECT_EQ(lastError(), kErrorModNotFound) << utf8(c.name);
        }
        EXPECT_EQ(machine.openResources().libraries, c.loads ? 1 : 0);
    }
}

TEST_F(SimSystem, LoadsAreCountedAndFreedOncePerLoad) {
    Handle first = p.libraries.loadLibrary(u"winspool.drv");
    Handle second = p.libraries.loadLibrary(u"WINSPOOL");
    EXPECT_EQ(first, second);
    EXPECT_EQ(machine.describeOpenResources(), "2 libraries");
    EXPECT_EQ(p.libraries.getModuleHandle(u"winspool.drv"), first);
    EXPECT_TRUE(p.libraries.freeLibrary(first));
    EXPECT_TRUE(p.libraries.freeLibrary(second));
    EXPECT_FALSE(p.libraries.freeLibrary(first));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_EQ(p.libraries.getModuleHandle(u"winspool.drv"), nullptr);
    EXPECT_EQ(lastError(), kErrorModNotFound);
    // The system's own modules are always there, and looking at them is not counted.
    EXPECT_NE(p.libraries.getModuleHandle(u"kernel32"), nullptr);
    EXPECT_NE(p.libraries.getModuleHandle(u"ntdll.dll"), nullptr);
    EXPECT_EQ(machine.openResources().libraries, 0);
}

TEST_F(SimSystem, ProceduresAreFoundWhereTheMachineHasThem) {
    struct Case {
        const char16_t* module;
        const char* name;
        std::function<void(SystemFacts&)> facts;
        bool found;
    };
    const Case cases[] = {
        {u"kernel32", "GetNativeSystemInfo", {}, true},
        {u"kernel32", "GetNativeSystemInfo", [](SystemFacts& f) { f.hasNativeSystemInfo = false; }, false},
        {u"Kernel32.dll", "Wow64DisableWow64FsRedirection", {}, true},
        {u"Kernel32.dll", "Wow64RevertWow64FsRedirection", {}, true},
        {u"ntdll.dll", "RtlGetNtVersionNumbers", {}, true},
        {u"ntdll.dll", "RtlGetNtVersionNumbers", [](SystemFacts& f) { f.trueMajorVersion.reset(); }, false},
        {u"winspool.drv", "AddPortExA", {}, true},
        {u"winspool.drv", "addportexa", {}, false},
        {u"kernel32", "AddPortExA", {}, false},
        {u"winspool.drv", "AddPortExW", {}, false},
    };
    std::set<Procedure> distinct;
    for (const auto& c : cases) {
        machine.system() = SystemFacts{};
        if (c.facts) c.facts(machine.system());
        UniqueLibrary module(p.libraries, p.libraries.loadLibrary(c.module));
        auto procedure = p.libraries.getProcAddress(module.get(), c.name);
        EXPECT_EQ(procedure != nullptr, c.found) << c.name;
        if (!procedure) {
            EXPECT_EQ(lastError(), kErrorProcNotFound) << c.name;
        }
        if (procedure) distinct.insert(procedure);
    }
    EXPECT_EQ(distinct.size(), 5u) << "each procedure has its own address";
    EXPECT_EQ(p.libraries.getProcAddress(reinterpret_cast<Handle>(0x1234), "AddPortExA"), nullptr);
    EXPECT_EQ(lastError(), kErrorModNotFound);
}

TEST_F(SimSystem, TheProgramsFileNameIsTheMachinesProgramPath) {
    const auto& path = machine.system().programPath;
    char16_t buffer[260] = {};
    EXPECT_EQ(p.libraries.getModuleFileName(nullptr, buffer, 259), path.size());
    EXPECT_EQ(std::u16string(buffer), path);
    char16_t small[8];
    EXPECT_EQ(p.libraries.getModuleFileName(nullptr, small, 8), 8u);
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(std::u16string(small), path.substr(0, 7));
    EXPECT_EQ(p.libraries.getModuleFileName(p.libraries.getModuleHandle(u"kernel32"), buffer, 260),
              machine.system().systemDirectory.size() + 13);
    EXPECT_EQ(std::u16string(buffer), machine.system().systemDirectory + u"\\kernel32.dll");
}

// ---- Token ----

TEST_F(SimSystem, PrivilegesAreLookedUpByNameWithDistinctValues) {
    std::set<std::uint32_t> values;
    for (const char16_t* name :
         {u"SeDebugPrivilege", u"SeShutdownPrivilege", u"SeBackupPrivilege", u"SeRestorePrivilege",
          u"SeSecurityPrivilege", u"SeTakeOwnershipPrivilege", u"SeLoadDriverPrivilege", u"SeSystemtimePrivilege",
          u"SeChangeNotifyPrivilege", u"setcbprivilege"}) {
        Luid luid{};
        EXPECT_TRUE(p.token.lookupPrivilegeValue(nullptr, name, &luid)) << utf8(name);
        values.insert(luid.lowPart);
    }
    EXPECT_EQ(values.size(), 10u);
    Luid luid{};
    EXPECT_FALSE(p.token.lookupPrivilegeValue(nullptr, u"SeFlyingPrivilege", &luid));
    EXPECT_EQ(lastError(), kErrorNoSuchPrivilege);
}

TEST_F(SimSystem, PrivilegesAreEnabledDisabledAndRemovedForGood) {
    Handle raw = nullptr;
    ASSERT_TRUE(p.token.openProcessToken(kTokenAllAccess, &raw));
    UniqueToken token(p.token, raw);
    EXPECT_EQ(machine.openResources().tokens, 1);
    auto luidOf = [&](const char16_t* name) {
        Luid luid{};
        EXPECT_TRUE(p.token.lookupPrivilegeValue(nullptr, name, &luid));
        return luid;
    };
    struct Step {
        const char16_t* privilege;
        std::uint32_t attributes;
        std::uint32_t lastError;
        bool enabledAfter;
    };
    const Step steps[] = {
        {u"SeDebugPrivilege", kSePrivilegeEnabled, 0, true},
        {u"SeDebugPrivilege", 0, 0, false},
        {u"SeDebugPrivilege", kSePrivilegeEnabled, 0, true},
        {u"SeDebugPrivilege", kSePrivilegeRemoved, 0, false},
        {u"SeDebugPrivilege", kSePrivilegeEnabled, kErrorNotAllAssigned, false},
        {u"SeTcbPrivilege", kSePrivilegeEnabled, kErrorNotAllAssigned, false},
        {u"SeShutdownPrivilege", kSePrivilegeEnabled, 0, true},
    };
    EXPECT_FALSE(machine.privilegeEnabled(u"SeDebugPrivilege"));
    EXPECT_TRUE(machine.privilegeEnabled(u"SeChangeNotifyPrivilege"));
    for (const auto& step : steps) {
        p.lastError.setLastError(12345);
        EXPECT_TRUE(p.token.adjustTokenPrivilege(token.get(), luidOf(step.privilege), step.attributes));
        EXPECT_EQ(lastError(), step.lastError) << utf8(step.privilege) << " " << step.attributes;
        EXPECT_EQ(machine.privilegeEnabled(step.privilege), step.enabledAfter) << utf8(step.privilege);
    }

    Handle queryOnly = nullptr;
    ASSERT_TRUE(p.token.openProcessToken(kTokenQuery, &queryOnly));
    UniqueToken weak(p.token, queryOnly);
    EXPECT_FALSE(p.token.adjustTokenPrivilege(weak.get(), luidOf(u"SeBackupPrivilege"), kSePrivilegeEnabled));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_FALSE(p.token.adjustTokenPrivilege(reinterpret_cast<Handle>(0x4242), luidOf(u"SeBackupPrivilege"),
                                              kSePrivilegeEnabled));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_FALSE(machine.privilegeEnabled(u"SeBackupPrivilege"));
}

// ---- Shell ----

TEST_F(SimSystem, AShellCopyTakesListedFilesAndWildcardMatchesIntoACreatedDirectory) {
    writeHostFile(machine.hostPath(u"C:\\Src\\a.txt"), "alpha");
    writeHostFile(machine.hostPath(u"C:\\Src\\README"), "readme");
    writeHostFile(machine.hostPath(u"C:\\Src\\b.dll"), "bravo");
    writeHostFile(machine.hostPath(u"C:\\Other\\c.inf"), "charlie");
    struct Case {
        std::u16string from;
        std::u16string to;
        std::vector<std::string> copied;  // names now in the destination
        int result;
    };
    const Case cases[] = {
        {list({u"C:\\Src\\*.*"}), list({u"C:\\Dest1"}), {"README", "a.txt", "b.dll"}, 0},
        {list({u"C:\\Src\\*.dll", u"C:\\Other\\c.inf"}), list({u"C:\\Dest2\\Deeper"}), {"b.dll", "c.inf"}, 0},
        {list({u"C:\\Src\\a.txt", u"C:\\Src\\missing.txt"}),
         list({u"C:\\Dest3"}),
         {"a.txt"},
         static_cast<int>(kErrorFileNotFound)},
        {list({u"C:\\Nowhere\\*.*"}), list({u"C:\\Dest4"}), {}, static_cast<int>(kErrorFileNotFound)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(p.shell.fileOperation(kFoCopy, c.from.c_str(), c.to.c_str(), kCopyFlags), c.result);
        auto destination = machine.hostPath(c.to.substr(0, c.to.find(u'\0')));
        std::vector<std::string> names;
        if (std::filesystem::is_directory(destination)) {
            for (const auto& entry : std::filesystem::directory_iterator(destination)) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, c.copied);
    }
    EXPECT_EQ(readHostFile(machine.hostPath(u"C:\\Dest2\\Deeper\\c.inf")), "charlie");
    EXPECT_EQ(p.shell.fileOperation(kFoDelete, list({u"C:\\Src\\a.txt"}).c_str(), list({u""}).c_str(), kCopyFlags),
              0x7C);
    EXPECT_TRUE(std::filesystem::exists(machine.hostPath(u"C:\\Src\\a.txt")));
    EXPECT_THAT(machine.journal().front(), HasSubstr("SHFileOperationW"));
}

// ---- Global memory ----

TEST_F(SimSystem, GlobalBlocksAreCountedZeroedOnRequestAndRefusedWhenUnknown) {
    auto* zeroed = static_cast<std::uint8_t*>(p.memory.globalAlloc(kGptr, 64));
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(Bytes(zeroed, zeroed + 64), Bytes(64, 0));
    void* fixed = p.memory.globalAlloc(kGmemFixed, 16);
    EXPECT_EQ(machine.describeOpenResources(), "2 global blocks");
    EXPECT_EQ(p.memory.globalFree(zeroed), nullptr);
    int local = 0;
    EXPECT_EQ(p.memory.globalFree(&local), &local);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_EQ(p.memory.globalFree(fixed), nullptr);
    EXPECT_EQ(p.memory.globalFree(nullptr), nullptr);
    EXPECT_EQ(machine.openResources().globalBlocks, 0);
}

// ---- Injected faults ----

TEST_F(SimSystem, AnyOperationFailsAsToldForAsManyCallsAsToldThenWorks) {
    std::u16string scratch = u"C:\\Users\\Public\\scratch.txt";
    writeHostFile(machine.hostPath(scratch), "x");
    // Each call reports the error it met (0: it worked) and gives back what it took.
    const std::vector<std::pair<std::string, std::function<std::uint32_t()>>> operations{
        {"RegOpenKeyExW",
         [&] {
             std::int32_t error = 0;
             auto key = openKey(kWindowsKey, kKeyRead, &error);
             return static_cast<std::uint32_t>(error);
         }},
        {"OpenSCManagerW", [&] { return openManager() ? 0u : lastError(); }},
        {"StartServiceW",
         [&] {
             machine.setSpoolerState(ServiceState::Stopped);
             auto manager = openManager();
             auto spooler = openSpooler(manager.get());
             return p.services.startService(spooler.get(), 0, nullptr) ? 0u : lastError();
         }},
        {"EnumPortsW",
         [&] {
             std::uint32_t needed = 0, returned = 0;
             return p.spooler.enumPorts(nullptr, 2, nullptr, 0, &needed, &returned) || needed ? 0u : lastError();
         }},
        {"GetPrinterDriverDirectoryW",
         [&] {
             std::uint32_t needed = 0;
             p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, nullptr, 0, &needed);
             return needed ? 0u : lastError();
         }},
        {"LoadLibraryW",
         [&] {
             UniqueLibrary module(p.libraries, p.libraries.loadLibrary(u"kernel32"));
             return module ? 0u : lastError();
         }},
        {"OpenProcessToken",
         [&] {
             Handle token = nullptr;
             bool ok = p.token.openProcessToken(kTokenAllAccess, &token);
             UniqueToken owned(p.token, token);
             return ok ? 0u : lastError();
         }},
        {"SHFileOperationW",
         [&] {
             return static_cast<std::uint32_t>(
                 p.shell.fileOperation(kFoCopy, list({scratch}).c_str(), list({u"C:\\Copy"}).c_str(), kCopyFlags));
         }},
        {"GlobalAlloc",
         [&] {
             UniqueGlobalBlock block(p.memory, p.memory.globalAlloc(kGptr, 8));
             return block ? 0u : lastError();
         }},
        {"SetupDiGetClassDevsW",
         [&] {
             UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent));
             return set ? 0u : lastError();
         }},
        {"WaitForSingleObject",
         [&] {
             UniqueFile file(p.files,
                             p.files.createFile(scratch.c_str(), kGenericRead, kFileShareRead, kOpenExisting, 0));
             return p.clock.waitForSingleObject(file.get(), 0) == kWaitObject0 ? 0u : lastError();
         }},
    };
    for (const auto& [name, call] : operations) {
        machine.failOperation(name, 1234, 2);
        EXPECT_EQ(call(), 1234u) << name;
        EXPECT_EQ(call(), 1234u) << name;
        EXPECT_EQ(call(), 0u) << name;
        EXPECT_TRUE(machine.openResources().none()) << name << ": " << machine.describeOpenResources();
    }
    machine.failOperation("RegOpenKeyExW", 5);
    for (int i = 0; i < 3; ++i) {
        std::int32_t error = 0;
        auto key = openKey(kWindowsKey, kKeyRead, &error);
        EXPECT_EQ(error, 5);
    }
    // The specific settings of the earlier machine still act.
    machine.failDriverDirectory(kErrorNotEnoughMemory, 1);
    std::uint32_t needed = 0;
    EXPECT_FALSE(p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, nullptr, 0, &needed));
    EXPECT_EQ(lastError(), kErrorNotEnoughMemory);
}

TEST_F(SimSystem, OpenResourcesAreDescribedByKind) {
    {
        auto key = openKey(kWindowsKey, kKeyRead);
        UniqueLibrary module(p.libraries, p.libraries.loadLibrary(u"winspool.drv"));
        auto manager = openManager();
        EXPECT_EQ(machine.describeOpenResources(), "1 registry key, 1 service handle, 1 library");
    }
    EXPECT_EQ(machine.describeOpenResources(), "nothing open");
}

// ---- The machine in a directory ----

class SimMachineDirectory : public ::testing::Test {
protected:
    Machine scratch;  // its temporary drive holds the directories of the test
    std::filesystem::path root = scratch.driveC() / "machines";
};

// Everything a machine holds, as text to compare.
std::string describe(Machine& machine) {
    std::ostringstream out;
    const auto& f = machine.system();
    auto text = [](const std::u16string& s) {
        std::string out;
        for (char16_t c : s) out += std::to_string(c) + ".";
        return out;
    };
    out << f.nativeArchitecture << ' ' << f.processArchitecture << ' ' << f.hasNativeSystemInfo << ' '
        << f.defaultLangId << ' ' << f.ansiCodePage << ' ' << f.majorVersion << ' ' << f.minorVersion << ' '
        << f.buildNumber << ' ' << f.platformId << ' ' << +f.productType << ' ' << f.versionQueryFails << ' '
        << f.serverR2Metric << ' ' << (f.trueMajorVersion ? std::to_string(*f.trueMajorVersion) : "none") << ' '
        << text(f.systemDirectory) << ' ' << text(f.programPath) << ' ' << text(f.currentDirectory) << ' '
        << f.registryWritable << " clock " << machine.nowMs() << " spooler " << static_cast<int>(machine.spoolerState())
        << '\n';
    for (const auto& port : machine.ports()) {
        out << "port " << text(port.name) << text(port.monitor) << text(port.description) << port.type << '\n';
    }
    for (const auto& monitor : machine.monitors()) {
        out << "monitor " << text(monitor.name) << text(monitor.environment) << text(monitor.dll) << '\n';
    }
    for (const auto& driver : machine.drivers())
        out << "driver " << text(driver.name) << text(driver.environment) << '\n';
    for (const auto& printer : machine.printers()) {
        out << "printer " << text(printer.name) << text(printer.driver) << text(printer.port) << '\n';
        for (const auto& job : printer.jobs) out << " job " << job.id << text(job.document) << '\n';
    }
    for (const auto& device : machine.devices()) {
        out << "device " << text(device.instanceId) << text(device.hardwareId) << text(device.description)
            << device.driverInstalled << '\n';
    }
    for (const auto& usb : machine.usbInterfaces()) {
        out << "usb " << text(usb.path);
        if (const auto* printer = usb.printer.get()) {
            const auto& s = printer->settings;
            out << ' ' << printer->type << '|' << printer->serialNumber << '|' << printer->firmwareVersion << '|'
                << printer->status << ' ' << printer->printedLength << ' ' << printer->badDotCount << ' ' << +s.field1
                << ' ' << +s.field2 << ' ' << s.field3 << ' ' << +s.field4 << ' ' << +s.field5 << ' ' << +s.field6
                << ' ' << +s.field7 << ' ' << +s.field8 << ' ' << +s.field9 << ' ' << +s.field10 << ' ' << +s.field11
                << ' ' << s.field12 << ' ' << s.field13 << ' ' << +printer->userDefSetting << ' '
                << +printer->locationSetting << ' ' << +printer->dumpMode << ' '
                << static_cast<int>(printer->settingAck) << static_cast<int>(printer->firmwareAck) << ' '
                << printer->replyDelayMs << ' ' << printer->keepPayloads;
        }
        out << '\n';
    }
    for (const auto& port : machine.serialPorts()) {
        Bytes dcb(sizeof port.dcb);
        std::memcpy(dcb.data(), &port.dcb, sizeof port.dcb);
        out << "serial " << text(port.name) << port.refuseSettings;
        for (auto byte : dcb) out << ' ' << +byte;
        out << '\n';
    }
    return out.str();
}

struct RegistryEntry {
    std::u16string key;
    std::u16string name;
    std::uint32_t type;
    Bytes data;
};

const std::vector<RegistryEntry>& unusualRegistryEntries() {
    static const std::vector<RegistryEntry> entries{
        {u"SOFTWARE\\Test", u"plain", kRegSz, stringBytes(u"text")},
        {u"SOFTWARE\\Test", u"", kRegSz, stringBytes(u"the default value")},
        {u"SOFTWARE\\Test", u"quote\" and back\\slash", kRegSz, stringBytes(u"C:\\Path \"quoted\"")},
        {u"SOFTWARE\\Test", u"controls\n\t\r", kRegExpandSz, stringBytes(u"%SystemRoot%\\a\x01\x7f")},
        {u"SOFTWARE\\Test", u"caf\u00e9 \u4e2d\u6587 \U0001F5A8", kRegSz, stringBytes(u"\u00e9\u4e2d \U0001F5A8")},
        {u"SOFTWARE\\Test", u"lone surrogate", kRegSz, stringBytes(std::u16string{u'a', char16_t(0xD800), u'b'})},
        {u"SOFTWARE\\Test", u"empty", kRegSz, stringBytes(u"")},
        {u"SOFTWARE\\Test", u"no terminator", kRegSz, {0x41, 0x00}},
        {u"SOFTWARE\\Test", u"odd size", kRegSz, {0x41, 0x00, 0x00}},
        {u"SOFTWARE\\Test", u"two strings", kRegSz, stringBytes(std::u16string(u"a\0b", 3))},
        {u"SOFTWARE\\Test", u"dword", kRegDword, {0x78, 0x56, 0x34, 0x12}},
        {u"SOFTWARE\\Test", u"short dword", kRegDword, {0x01, 0x02}},
        {u"SOFTWARE\\Test", u"binary", 3, {0x00, 0xFF, 0x10}},
        {u"SOFTWARE\\Test", u"empty binary", 3, {}},
        {u"SOFTWARE\\Test", u"multi", 7, stringBytes(std::u16string(u"one\0two\0", 8))},
        {u"SOFTWARE\\Odd % key [1]\\tab\there", u"v", kRegDword, {1, 0, 0, 0}},
    };
    return entries;
}

void changeEveryArea(Machine& machine) {
    auto& f = machine.system();
    f.nativeArchitecture = 0;
    f.processArchitecture = 0;
    f.hasNativeSystemInfo = false;
    f.defaultLangId = kLangChineseSimplified;
    f.ansiCodePage = 1252;
    f.majorVersion = 5;
    f.minorVersion = 1;
    f.buildNumber = 2600;
    f.platformId = 1;
    f.productType = 3;
    f.versionQueryFails = true;
    f.serverR2Metric = -7;
    f.trueMajorVersion.reset();
    f.systemDirectory = u"C:\\WINDOWS\\System32";
    f.programPath = u"C:\\Setup \"new\"\\setup.exe";
    f.currentDirectory = u"C:\\\u4e2d\u6587";
    f.registryWritable = false;
    machine.platform().clock.sleep(1234);

    auto& p = machine.platform();
    for (const auto& entry : unusualRegistryEntries()) {
        machine.createRegistryKey(entry.key);
        f.registryWritable = true;
        Handle key = nullptr;
        ASSERT_EQ(p.registry.regOpenKeyEx(kHkeyLocalMachine, entry.key.c_str(), 0, kKeyReadWrite, &key), 0);
        ASSERT_EQ(p.registry.regSetValueEx(key, entry.name.c_str(), entry.type, entry.data.data(),
                                           static_cast<std::uint32_t>(entry.data.size())),
                  0);
        p.registry.regCloseKey(key);
        f.registryWritable = false;
    }
    machine.createRegistryKey(u"SOFTWARE\\Empty\\Key");

    machine.ports().push_back({u"USB PORT:", u"USB Printer Monitor", u"USB \"port\"", 3});
    machine.monitors().push_back({u"USB Printer Monitor", u"Windows NT x86", u"VelmorUSBMon.dll"});
    machine.drivers().push_back({u"HX-352", u"Windows NT x86"});
    machine.printers().push_back({u"HX-352 \u4e2d", u"HX-352", u"USB PORT:", {{4, u"label 1"}, {9, u""}}});
    machine.printers().push_back({u"Office", u"Other", u"FILE:", {}});
    machine.spoolerStopDelayMs = 500;
    {
        UniqueServiceHandle manager(p.services, p.services.openScManager(nullptr, nullptr, kScManagerEnumerateService));
        UniqueServiceHandle spooler(p.services, p.services.openService(manager.get(), u"Spooler", kServiceAllAccess));
        ServiceStatus status{};
        ASSERT_TRUE(p.services.controlService(spooler.get(), kServiceControlStop, &status));
    }
    machine.platform().clock.sleep(100);

    machine.devices().push_back({u"ROOT\\PRINTER\\0000", u"USBPRINT\\HX-35290EE", u"HX-352.INF", true});
    machine.devices().push_back({u"ROOT\\PRINTER\\0001", u"OTHER", u"", false});

    auto printer = std::make_shared<SimPrinter>();
    printer->type = "HX-352\x81\xFF";
    printer->serialNumber = "SN \"1\"\\";
    printer->firmwareVersion = "V2.0";
    printer->status = -5;
    printer->printedLength = 123456;
    printer->badDotCount = 3;
    printer->settings = {1, 2, 65535, 4, 5, 6, 7, 8, 9, 10, 255, -300, 13};
    printer->userDefSetting = 1;
    printer->locationSetting = 2;
    printer->dumpMode = 1;
    printer->settingAck = AckBehaviour::Refuse;
    printer->firmwareAck = AckBehaviour::Silent;
    printer->replyDelayMs = 17;
    printer->keepPayloads = false;
    machine.setUsbInterfaces({{u"\\\\?\\usb#vid_046d&pid_c52b#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", nullptr},
                              {Machine::defaultPrinterPath, printer}});

    machine.serialPorts().resize(1);
    auto& serial = machine.serialPorts()[0];
    serial.name = u"COM7";
    serial.refuseSettings = true;
    serial.dcb.baudRate = 115200;
    serial.dcb.flags = 0x4011;
    serial.dcb.byteSize = 7;
    serial.dcb.parity = 2;
    serial.dcb.stopBits = 1;
    serial.dcb.xonChar = 0x11;
    serial.dcb.xoffChar = static_cast<char>(0x93);
    serial.dcb.xonLim = 2048;
}

TEST_F(SimMachineDirectory, AMissingMachineIsCreatedFreshAndSaved) {
    auto machine = Machine::openDirectory(root / "one");
    EXPECT_EQ(machine->driveC(), root / "one" / "C");
    EXPECT_TRUE(std::filesystem::is_regular_file(machine->hostPath(u"C:\\HX352Setup\\HX-352\\ENG\\HX-352.INF")));
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(root / "one" / "machine")) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"devices.txt", "registry.txt", "serial.txt", "spooler.txt", "system.txt",
                                            "usb.txt"}));
    Machine fresh;
    EXPECT_EQ(describe(*machine), describe(fresh));
}

TEST_F(SimMachineDirectory, EveryAreaComesBackFromTheDirectory) {
    std::string before;
    {
        auto machine = Machine::openDirectory(root / "m");
        changeEveryArea(*machine);
        before = describe(*machine);
        writeHostFile(machine->hostPath(u"C:\\Windows\\inf\\oem3.inf"), "kept");
        machine->save();
        EXPECT_EQ(machine->spoolerState(), ServiceState::StopPending);
    }
    auto again = Machine::openDirectory(root / "m");
    EXPECT_EQ(describe(*again), before);
    auto& p = again->platform();
    again->system().registryWritable = true;
    for (const auto& entry : unusualRegistryEntries()) {
        Handle key = nullptr;
        ASSERT_EQ(p.registry.regOpenKeyEx(kHkeyLocalMachine, entry.key.c_str(), 0, kKeyRead, &key), 0);
        std::uint32_t type = 0, size = 256;
        Bytes data(256);
        EXPECT_EQ(p.registry.regQueryValueEx(key, entry.name.c_str(), &type, data.data(), &size), 0);
        data.resize(size);
        EXPECT_EQ(type, entry.type) << utf8(entry.name);
        EXPECT_EQ(data, entry.data) << utf8(entry.name);
        p.registry.regCloseKey(key);
    }
    EXPECT_TRUE(again->registryKeyExists(u"SOFTWARE\\Empty\\Key"));
    EXPECT_EQ(again->registryString(std::u16string(kWindowsKey), u"TransmissionRetryTimeout"), u"90");
    EXPECT_EQ(readHostFile(again->hostPath(u"C:\\Windows\\inf\\oem3.inf")), "kept");
    // The stop under way when the machine was saved completes on its time.
    EXPECT_EQ(again->spoolerState(), ServiceState::StopPending);
    p.clock.sleep(399);
    EXPECT_EQ(again->spoolerState(), ServiceState::StopPending);
    p.clock.sleep(1);
    EXPECT_EQ(again->spoolerState(), ServiceState::Stopped);
}

TEST_F(SimMachineDirectory, TheFilesAreReadableText) {
    auto machine = Machine::openDirectory(root / "m");
    machine->printers().push_back({u"HX-352", u"HX-352", u"USB PORT:", {{4, u"label"}}});
    machine->save();
    auto state = root / "m" / "machine";
    EXPECT_THAT(readHostFile(state / "system.txt"), HasSubstr("\nsystemDirectory = \"C:\\\\Windows\\\\system32\"\n"));
    EXPECT_THAT(readHostFile(state / "registry.txt"),
                HasSubstr("\n[HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\n"
                          "\"TransmissionRetryTimeout\" = REG_SZ \"90\"\n"));
    EXPECT_THAT(readHostFile(state / "spooler.txt"),
                HasSubstr("\nprinter \"HX-352\" driver \"HX-352\" port \"USB PORT:\"\njob 4 document \"label\"\n"));
    EXPECT_THAT(readHostFile(state / "usb.txt"), HasSubstr("\nfirmwareVersion = \"V1.0\"\n"));
}

TEST_F(SimMachineDirectory, SaveToWritesACopyThatLivesOnItsOwn) {
    auto machine = Machine::openDirectory(root / "original");
    changeEveryArea(*machine);
    writeHostFile(machine->hostPath(u"C:\\Users\\Public\\note.txt"), "note");
    machine->saveTo(root / "copy");
    auto copy = Machine::openDirectory(root / "copy");
    EXPECT_EQ(describe(*copy), describe(*machine));
    EXPECT_EQ(readHostFile(copy->hostPath(u"C:\\Users\\Public\\note.txt")), "note");
    copy->printers().clear();
    writeHostFile(copy->hostPath(u"C:\\Users\\Public\\note.txt"), "changed");
    copy->save();
    EXPECT_EQ(machine->printers().size(), 2u);
    EXPECT_EQ(readHostFile(machine->hostPath(u"C:\\Users\\Public\\note.txt")), "note");
    // Saving again over the copy replaces its drive as well.
    machine->saveTo(root / "copy");
    EXPECT_EQ(readHostFile(root / "copy" / "C" / "Users" / "Public" / "note.txt"), "note");
}

TEST_F(SimMachineDirectory, AMachineNotOpenedFromADirectoryCannotBeSavedInPlace) {
    Machine machine;
    EXPECT_THROW(machine.save(), std::logic_error);
}

// A change to one file of a saved machine; the line it concerns (0: none).
struct Damage {
    const char* file;
    const char* what;
    std::function<int(const std::filesystem::path&)> apply;
    const char* problem;
};

std::vector<std::string> linesOf(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(readHostFile(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void writeLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    writeHostFile(path, text);
}

// Replaces the first line starting with `prefix`; its number.
std::function<int(const std::filesystem::path&)> replaceLine(std::string prefix, std::string replacement) {
    return [=](const std::filesystem::path& path) {
        auto lines = linesOf(path);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].starts_with(prefix)) {
                lines[i] = replacement;
                writeLines(path, lines);
                return static_cast<int>(i + 1);
            }
        }
        ADD_FAILURE() << "no line starts with " << prefix;
        return -1;
    };
}

std::function<int(const std::filesystem::path&)> appendLine(std::string line) {
    return [=](const std::filesystem::path& path) {
        auto lines = linesOf(path);
        lines.push_back(line);
        writeLines(path, lines);
        return static_cast<int>(lines.size());
    };
}

std::function<int(const std::filesystem::path&)> prependLine(std::string line) {
    return [=](const std::filesystem::path& path) {
        auto lines = linesOf(path);
        lines.insert(lines.begin(), line);
        writeLines(path, lines);
        return 1;
    };
}

int removeFile(const std::filesystem::path& path) {
    std::filesystem::remove(path);
    return 0;
}

TEST_F(SimMachineDirectory, ADamagedMachineIsRefusedWithTheFileLineAndProblem) {
    const Damage cases[] = {
        {"system.txt", "missing", removeFile, "missing or unreadable"},
        {"registry.txt", "missing", removeFile, "missing or unreadable"},
        {"spooler.txt", "missing", removeFile, "missing or unreadable"},
        {"devices.txt", "missing", removeFile, "missing or unreadable"},
        {"usb.txt", "missing", removeFile, "missing or unreadable"},
        {"serial.txt", "missing", removeFile, "missing or unreadable"},
        {"system.txt", "not a number", replaceLine("ansiCodePage", "ansiCodePage = lots"),
         "ansiCodePage: expected a number"},
        {"system.txt", "out of range", replaceLine("nativeArchitecture", "nativeArchitecture = 65536"),
         "expected a number up to 65535"},
        {"system.txt", "unknown key", appendLine("colour = blue"), "unknown key 'colour'"},
        {"system.txt", "twice", appendLine("productType = 1"), "key 'productType' given twice"},
        {"system.txt", "not an assignment", appendLine("productType 1"), "expected 'key = value'"},
        {"system.txt", "not UTF-8", appendLine("programPath = \"\xC3\""), "not UTF-8"},
        {"registry.txt", "value first", prependLine("\"x\" = REG_SZ \"y\""), "before the first [HKLM"},
        {"registry.txt", "open quote", appendLine("\"x\" = REG_SZ \"y"), "no closing quote"},
        {"registry.txt", "bad escape", appendLine("\"x\" = REG_SZ \"\\q\""), "unknown escape \\q"},
        {"registry.txt", "unknown type", appendLine("\"x\" = REG_FOO 1"), "unknown value type 'REG_FOO'"},
        {"registry.txt", "bad hex", appendLine("\"x\" = REG_BINARY 0g"), "binary data"},
        {"registry.txt", "other root", appendLine("[HKCU\\Software]"), "starts with HKLM"},
        {"spooler.txt", "unknown record", appendLine("queue \"x\""), "unknown record 'queue'"},
        {"spooler.txt", "field missing", appendLine("port \"X:\" monitor \"Local Port\" type 1"),
         "field 'description' missing"},
        {"spooler.txt", "unknown field", appendLine("driver \"D\" environment \"Windows x64\" version 3"),
         "unknown field 'version'"},
        {"spooler.txt", "job first", replaceLine("service", "job 1 document \"x\""), "a job before any printer"},
        {"spooler.txt", "state", replaceLine("service", "service Sleeping stopsAtMs 0"), "expected one of"},
        {"devices.txt", "boolean", appendLine("device \"R\" hardwareId \"H\" description \"D\" driverInstalled maybe"),
         "expected true or false"},
        {"usb.txt", "interface", replaceLine("interface", "interface \"x\" mouse"), "expected 'interface"},
        {"usb.txt", "printer key missing",
         [](const std::filesystem::path& path) {
             // Noticed where the printer's block ends, not on a line of its own.
             replaceLine("dumpMode", "# no dump mode")(path);
             return 0;
         },
         "key 'dumpMode' missing"},
        {"serial.txt", "too large",
         replaceLine("port \"COM1\"",
                     "port \"COM1\" dcbLength 28 baudRate 9600 "
                     "flags 0x1 reserved 0 xonLim 0 xoffLim 0 byteSize 256 "
                     "parity 0 stopBits 0 xonChar 0 xoffChar 0 errorChar 0 "
                     "eofChar 0 evtChar 0 reserved1 0 refuseSettings false"),
         "byteSize: expected a number up to 255"},
    };
    int index = 0;
    for (const auto& c : cases) {
        auto directory = root / ("damaged" + std::to_string(index++));
        Machine::openDirectory(directory);
        auto file = directory / "machine" / c.file;
        int line = c.apply(file);
        try {
            Machine::openDirectory(directory);
            ADD_FAILURE() << c.file << " " << c.what << ": loaded";
        } catch (const MachineLoadError& error) {
            std::string message = error.what();
            EXPECT_THAT(message, HasSubstr(file.string())) << c.what;
            if (line > 0) {
                EXPECT_THAT(message, HasSubstr(":" + std::to_string(line) + ": ")) << c.what;
            }
            EXPECT_THAT(message, HasSubstr(c.problem)) << c.what;
        }
    }
}

TEST_F(SimMachineDirectory, AnEmptyFileIsNoEmptyMachine) {
    struct Case {
        const char* file;
        const char* problem;
    };
    const Case cases[] = {
        {"system.txt", "key 'nativeArchitecture' missing"},
        {"spooler.txt", "the service line is missing"},
    };
    for (const auto& c : cases) {
        auto directory = root / (std::string("empty-") + c.file);
        Machine::openDirectory(directory);
        writeHostFile(directory / "machine" / c.file, "");
        EXPECT_THROW(
            {
                try {
                    Machine::openDirectory(directory);
                } catch (const MachineLoadError& error) {
                    EXPECT_THAT(error.what(), HasSubstr(c.problem));
                    throw;
                }
            },
            MachineLoadError);
    }
    // Areas that may be empty load as empty.
    auto directory = root / "no-devices";
    Machine::openDirectory(directory);
    writeHostFile(directory / "machine" / "devices.txt", "");
    writeHostFile(directory / "machine" / "usb.txt", "");
    auto machine = Machine::openDirectory(directory);
    EXPECT_TRUE(machine->devices().empty());
    EXPECT_TRUE(machine->usbInterfaces().empty());
}

// ---- The process machine ----

struct ChildOutcome {
    int status;
    std::string stderrText;
};

// Runs `body` in a child process, as a program of its own would: its exit
// status, and what it wrote to stderr.
ChildOutcome inChildProcess(const std::filesystem::path& scratch, const std::function<int()>& body) {
    auto errors = scratch / "child-stderr.txt";
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        std::exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readHostFile(errors)};
}

TEST_F(SimMachineDirectory, TheProcessMachineIsKeptWhereTheEnvironmentSaysAndSavedAtExit) {
    std::filesystem::create_directories(root);
    auto explicitDirectory = root / "explicit";
    auto first = inChildProcess(root, [&] {
        ::setenv("HX352_SIM_MACHINE", explicitDirectory.c_str(), 1);
        auto& machine = processMachine();
        if (machine.driveC() != explicitDirectory / "C") return 10;
        if (&defaultPlatform() != &machine.platform() || &processMachine() != &machine) return 11;
        if (!std::filesystem::is_directory(explicitDirectory / "C" / "Windows")) return 12;
        machine.setRegistryString(u"SOFTWARE\\Velmor", u"Seen", u"first");
        return 0;
    });
    EXPECT_EQ(first.status, 0) << first.stderrText;
    auto second = inChildProcess(root, [&] {
        ::setenv("HX352_SIM_MACHINE", explicitDirectory.c_str(), 1);
        auto& machine = processMachine();
        if (machine.registryString(u"SOFTWARE\\Velmor", u"Seen") != u"first") return 20;
        machine.printers().push_back({u"From the second", u"HX-352", u"FILE:", {}});
        return 0;
    });
    EXPECT_EQ(second.status, 0) << second.stderrText;
    auto saved = Machine::openDirectory(explicitDirectory);
    ASSERT_EQ(saved->printers().size(), 1u);
    EXPECT_EQ(saved->printers()[0].name, u"From the second");

    auto xdg = root / "xdg";
    auto fallback = inChildProcess(root, [&] {
        ::unsetenv("HX352_SIM_MACHINE");
        ::setenv("XDG_STATE_HOME", xdg.c_str(), 1);
        return processMachine().driveC() == xdg / "hx352-sim" / "machine" / "C" ? 0 : 30;
    });
    EXPECT_EQ(fallback.status, 0) << fallback.stderrText;
    EXPECT_TRUE(std::filesystem::is_regular_file(xdg / "hx352-sim" / "machine" / "machine" / "system.txt"));
}

TEST_F(SimMachineDirectory, AProcessWhoseMachineCannotBeLoadedEndsWithStatus3) {
    auto directory = root / "broken";
    Machine::openDirectory(directory);
    writeHostFile(directory / "machine" / "spooler.txt", "service Running stopsAtMs soon\n");
    auto outcome = inChildProcess(root, [&] {
        ::setenv("HX352_SIM_MACHINE", directory.c_str(), 1);
        processMachine();
        return 0;
    });
    EXPECT_EQ(outcome.status, 3);
    EXPECT_THAT(outcome.stderrText, HasSubstr((directory / "machine" / "spooler.txt").string() + ":1: stopsAtMs"));
}

}  // namespace
}  // namespace hx::sim
