// The port list and its release, the serial/parallel name tests, the monitors
// offered for a new port, a printer's port change and the spooler memory blocks.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/driverutil/fixture.h"

namespace hx::test {
namespace {

using platform::win::kErrorNotEnoughMemory;

// The machine's spooler, except that every filling enumeration comes back with
// no records, as when the ports go between the size query and the fill.
class RecordsVanishSpooler final : public platform::Spooler {
public:
    explicit RecordsVanishSpooler(platform::Spooler& inner) : inner_(inner) {}
    bool enumPorts(const char16_t* server, std::uint32_t level, std::uint8_t* buffer, std::uint32_t size,
                   std::uint32_t* needed, std::uint32_t* returned) override {
        const bool ok = inner_.enumPorts(server, level, buffer, size, needed, returned);
        if (buffer != nullptr) *returned = 0;
        return ok;
    }
    bool getPrinterDriverDirectory(const char16_t* s, const char16_t* e, std::uint32_t l, std::uint8_t* b,
                                   std::uint32_t n, std::uint32_t* needed) override {
        return inner_.getPrinterDriverDirectory(s, e, l, b, n, needed);
    }
    bool enumMonitors(const char16_t* s, std::uint32_t l, std::uint8_t* b, std::uint32_t n, std::uint32_t* needed,
                      std::uint32_t* returned) override {
        return inner_.enumMonitors(s, l, b, n, needed, returned);
    }
    bool enumPrinters(std::uint32_t f, const char16_t* s, std::uint32_t l, std::uint8_t* b, std::uint32_t n,
                      std::uint32_t* needed, std::uint32_t* returned) override {
        return inner_.enumPrinters(f, s, l, b, n, needed, returned);
    }
    bool openPrinter(const char16_t* name, platform::Handle* p, const platform::PrinterDefaults* d) override {
        return inner_.openPrinter(name, p, d);
    }
    bool getPrinter(platform::Handle p, std::uint32_t l, std::uint8_t* b, std::uint32_t n,
                    std::uint32_t* needed) override {
        return inner_.getPrinter(p, l, b, n, needed);
    }
    bool setPrinter(platform::Handle p, std::uint32_t l, std::uint8_t* r, std::uint32_t c) override {
        return inner_.setPrinter(p, l, r, c);
    }
    bool deletePrinter(platform::Handle p) override { return inner_.deletePrinter(p); }
    bool closePrinter(platform::Handle p) override { return inner_.closePrinter(p); }
    bool enumJobs(platform::Handle p, std::uint32_t first, std::uint32_t count, std::uint32_t l, std::uint8_t* b,
                  std::uint32_t n, std::uint32_t* needed, std::uint32_t* returned) override {
        return inner_.enumJobs(p, first, count, l, b, n, needed, returned);
    }
    bool setJob(platform::Handle p, std::uint32_t id, std::uint32_t l, std::uint8_t* r, std::uint32_t c) override {
        return inner_.setJob(p, id, l, r, c);
    }
    bool deletePrinterDriver(const char16_t* s, const char16_t* e, const char16_t* d) override {
        return inner_.deletePrinterDriver(s, e, d);
    }
    bool addMonitor(const char16_t* s, std::uint32_t l, const platform::MonitorInfo2* m) override {
        return inner_.addMonitor(s, l, m);
    }
    bool deleteMonitor(const char16_t* s, const char16_t* e, const char16_t* n) override {
        return inner_.deleteMonitor(s, e, n);
    }
    bool callAddPortExA(platform::Procedure p, const char* s, std::uint32_t l, const platform::PortInfo1A* port,
                        const char* m) override {
        return inner_.callAddPortExA(p, s, l, port, m);
    }

private:
    platform::Spooler& inner_;
};

platform::Platform withSpooler(platform::Platform& base, platform::Spooler& spooler) {
    return {base.clock,  base.codePages, base.files, base.lastError,   base.memory,    base.resources,
            spooler,     base.system,    base.usb,   base.deviceSetup, base.libraries, base.registry,
            base.serial, base.services,  base.shell, base.token,       base.ui};
}

std::vector<std::u16string> monitorNames(const MonitorList& list) {
    std::vector<std::u16string> names;
    for (int32_t i = 0; i < std::min<int32_t>(list.count, 8); ++i) names.push_back(u16(list.names[i]));
    return names;
}

void setMonitors(sim::Machine& machine, const std::vector<std::u16string>& names) {
    machine.monitors().clear();
    for (const auto& name : names) machine.monitors().push_back({name, u"Windows x64", u"monitor.dll"});
}

using PortsTest = DriverUtilTest;

// ---- enumPrinterPorts / ReleasePortInfo ----

TEST_F(PortsTest, EnumPrinterPortsHandsOutEverySpoolerPortInOrder) {
    machine.ports() = {{u"USB PORT:", u"USB Printer Monitor", u"Virtual USB port", 3},
                       {u"COM1:", u"Local Port", u"Local Port", 1},
                       {u"FILE:", u"Local Port", u"", 1}};
    uint32_t count = 0;
    HXPortInfo2W* ports = enumPrinterPorts(&count);
    ASSERT_NE(ports, nullptr);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(u16(ports[0].pPortName), u"USB PORT:");
    EXPECT_EQ(u16(ports[0].pMonitorName), u"USB Printer Monitor");
    EXPECT_EQ(u16(ports[0].pDescription), u"Virtual USB port");
    EXPECT_EQ(ports[0].fPortType, 3u);
    EXPECT_EQ(u16(ports[1].pPortName), u"COM1:");
    EXPECT_EQ(u16(ports[2].pPortName), u"FILE:");
    // The records lie 32 bytes apart, as a caller indexing them expects.
    EXPECT_EQ(reinterpret_cast<char*>(&ports[1]) - reinterpret_cast<char*>(&ports[0]), 32);
    EXPECT_EQ(machine.openResources().heapBlocks, 1);
    ReleasePortInfo(ports);
    EXPECT_EQ(machine.openResources().heapBlocks, 0);
}

TEST_F(PortsTest, EnumPrinterPortsWithoutPortsGivesNullAndCountZero) {
    machine.ports().clear();
    uint32_t count = 7;
    EXPECT_EQ(enumPrinterPorts(&count), nullptr);
    EXPECT_EQ(count, 0u);

    machine.ports() = {{u"COM1:", u"Local Port", u"", 1}};
    machine.failOperation("EnumPortsW", platform::win::kErrorAccessDenied, 1);
    count = 7;
    EXPECT_EQ(enumPrinterPorts(&count), nullptr);
    EXPECT_EQ(count, 0u);
}

TEST_F(PortsTest, EnumPrinterPortsWhenTheRecordsVanishFreesTheBlock) {
    machine.ports() = {{u"COM1:", u"Local Port", u"", 1}};
    RecordsVanishSpooler spooler(machine.platform().spooler);
    auto platform = withSpooler(machine.platform(), spooler);
    platform::ScopedPlatformForTesting scoped(platform);
    uint32_t count = 7;
    EXPECT_EQ(enumPrinterPorts(&count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(machine.openResources().heapBlocks, 0);
}

TEST_F(PortsTest, EnumPrinterPortsWithoutMemoryKeepsTheCount) {
    machine.ports() = {{u"COM1:", u"Local Port", u"", 1}};
    machine.failAllocations(1);
    uint32_t count = 7;
    EXPECT_EQ(enumPrinterPorts(&count), nullptr);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(enumPrinterPorts(nullptr), nullptr);
    ReleasePortInfo(nullptr);
}

// ---- isCOM / isLPT ----

TEST(PortNames, SerialAndParallelNamesByPrefixAndColon) {
    struct Case {
        const char16_t* name;
        int32_t com;
        int32_t lpt;
    };
    const Case cases[] = {
        {u"COM1:", 1, 0}, {u"com3:", 1, 0},     {u"Com12:", 1, 0}, {u"COMPUTER:", 1, 0}, {u"COM:", 1, 0},
        {u"COM1", 0, 0},  {u"COM1: ", 0, 0},    {u" COM1:", 0, 0}, {u"LPT1:", 0, 1},     {u"lpt2:", 0, 1},
        {u"LPT1", 0, 0},  {u"USB PORT:", 0, 0}, {u"FILE:", 0, 0},  {u"CO:", 0, 0},       {u"C:", 0, 0},
        {u"COM", 0, 0},   {u"", 0, 0},          {u"CÖM1:", 0, 0},  {u"LTP1:", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(c.name)));
        EXPECT_EQ(isCOM(w(c.name)), c.com);
        EXPECT_EQ(isLPT(w(c.name)), c.lpt);
    }
    EXPECT_EQ(isCOM(nullptr), 0);
    EXPECT_EQ(isLPT(nullptr), 0);
}

// ---- getMonitors ----

TEST_F(PortsTest, GetMonitorsOffersTcpIpAndUsbMonitorsCaseSensitively) {
    setMonitors(machine, {u"Local Port", u"Standard TCP/IP Port", u"USB Printer Monitor", u"usb printer monitor",
                          u"Standard tcp/ip Port", u"WSD Port", u"My TCP/IP", u"The USB Printer Monitor 2"});
    MonitorList list{};
    EXPECT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(monitorNames(list), (std::vector<std::u16string>{u"Standard TCP/IP Port", u"USB Printer Monitor",
                                                               u"My TCP/IP", u"The USB Printer Monitor 2"}));
}

TEST_F(PortsTest, GetMonitorsStopsAtEightEntries) {
    std::vector<std::u16string> names;
    for (int i = 0; i < 10; ++i) names.push_back(u"TCP/IP Monitor " + std::u16string(1, char16_t(u'0' + i)));
    setMonitors(machine, names);
    MonitorList list{};
    EXPECT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(monitorNames(list), std::vector<std::u16string>(names.begin(), names.begin() + 8));

    // A full list takes nothing more.
    const MonitorList before = list;
    EXPECT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(std::memcmp(&before, &list, sizeof list), 0);
}

TEST_F(PortsTest, GetMonitorsAppendsToAnUnclearedList) {
    setMonitors(machine, {u"Standard TCP/IP Port", u"Local Port", u"USB Printer Monitor"});
    MonitorList list{};
    ASSERT_EQ(getMonitors(&list), 1);
    ASSERT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(monitorNames(list), (std::vector<std::u16string>{u"Standard TCP/IP Port", u"USB Printer Monitor",
                                                               u"Standard TCP/IP Port", u"USB Printer Monitor"}));
}

TEST_F(PortsTest, GetMonitorsWithoutAQualifyingMonitorLeavesTheListEmpty) {
    setMonitors(machine, {u"Local Port", u"WSD Port"});
    MonitorList list{};
    EXPECT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(list.count, 0);
    const MonitorList zero{};
    EXPECT_EQ(std::memcmp(&zero, &list, sizeof list), 0);
}

TEST_F(PortsTest, GetMonitorsSkipsNamesThatDoNotFitAnEntry) {
    const std::u16string fits = u"TCP/IP" + std::u16string(253, u'x');     // 259 units
    const std::u16string tooLong = u"TCP/IP" + std::u16string(254, u'y');  // 260 units
    setMonitors(machine, {tooLong, fits, tooLong + u"z", u"USB Printer Monitor"});
    MonitorList list{};
    EXPECT_EQ(getMonitors(&list), 1);
    EXPECT_EQ(monitorNames(list), (std::vector<std::u16string>{fits, u"USB Printer Monitor"}));
}

TEST_F(PortsTest, GetMonitorsWithoutRecordsOrMemoryLeavesTheListAlone) {
    MonitorList list{};
    list.count = 1;
    list.names[0][0] = u'A';
    const MonitorList before = list;

    machine.monitors().clear();
    EXPECT_EQ(getMonitors(&list), 0);

    setMonitors(machine, {u"Standard TCP/IP Port"});
    machine.failOperation("EnumMonitorsW", platform::win::kErrorAccessDenied, 1);
    EXPECT_EQ(getMonitors(&list), 0);
    machine.failAllocations(1);
    EXPECT_EQ(getMonitors(&list), 0);
    EXPECT_EQ(std::memcmp(&before, &list, sizeof list), 0);
    EXPECT_EQ(getMonitors(nullptr), 0);
}

// ---- changePort ----

class ChangePortTest : public DriverUtilTest {
protected:
    void SetUp() override {
        machine.ports() = {{u"USB PORT:", u"USB Printer Monitor", u"", 3},
                           {u"LPT1:", u"Local Port", u"", 1},
                           {u"COM2:", u"Local Port", u"", 1}};
        machine.printers() = {{u"Office", u"Generic", u"LPT1:", {}}, {u"HX-352", u"HX-352", u"USB PORT:", {}}};
    }
    const std::u16string& hxPort() { return machine.printers()[1].port; }
};

TEST_F(ChangePortTest, PointsThePrinterAtTheNewPort) {
    EXPECT_EQ(changePort(w(u"HX-352"), w(u"COM2:")), 1);
    EXPECT_EQ(hxPort(), u"COM2:");
    EXPECT_EQ(machine.printers()[1].driver, u"HX-352");
    EXPECT_EQ(machine.printers()[0].port, u"LPT1:");
}

TEST_F(ChangePortTest, AMissingPrinterChangesNothingAndSucceeds) {
    EXPECT_EQ(changePort(w(u"HX-352 (Copy 1)"), w(u"COM2:")), 1);
    EXPECT_EQ(hxPort(), u"USB PORT:");
}

TEST_F(ChangePortTest, OnlyAShortageOfMemoryIsReported) {
    machine.failOperation("GlobalAlloc", kErrorNotEnoughMemory, 1);
    EXPECT_EQ(changePort(w(u"HX-352"), w(u"COM2:")), 0);
    EXPECT_EQ(hxPort(), u"USB PORT:");

    // A port the spooler does not know is refused, silently.
    EXPECT_EQ(changePort(w(u"HX-352"), w(u"COM9:")), 1);
    EXPECT_EQ(hxPort(), u"USB PORT:");
    machine.failOperation("SetPrinterW", platform::win::kErrorAccessDenied, 1);
    EXPECT_EQ(changePort(w(u"HX-352"), w(u"COM2:")), 1);
    EXPECT_EQ(hxPort(), u"USB PORT:");
    EXPECT_EQ(changePort(w(u"HX-352"), nullptr), 0);
    EXPECT_EQ(hxPort(), u"USB PORT:");
}

// ---- AllocSplStr / AllocSplMem / FreeSplMem / FreeSplStr ----

TEST_F(PortsTest, AllocSplStrCopiesTheStringWithItsTerminator) {
    for (const char16_t* text : {u"", u"USB PORT:", u"COM1:"}) {
        uint16_t* block = AllocSplStr(w(text));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(u16(block), text);
        EXPECT_EQ(machine.openResources().globalBlocks, 1);
        EXPECT_EQ(FreeSplStr(block), 1);
        EXPECT_EQ(machine.openResources().globalBlocks, 0);
    }
    EXPECT_EQ(AllocSplStr(nullptr), nullptr);
    machine.failOperation("GlobalAlloc", kErrorNotEnoughMemory, 1);
    EXPECT_EQ(AllocSplStr(w(u"COM1:")), nullptr);
}

TEST_F(PortsTest, AllocSplMemGivesZeroFilledBlocks) {
    auto* block = static_cast<unsigned char*>(AllocSplMem(64));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + 64, [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(FreeSplMem(block), 1);
    machine.failOperation("GlobalAlloc", kErrorNotEnoughMemory, 1);
    EXPECT_EQ(AllocSplMem(64), nullptr);
}

TEST_F(PortsTest, FreeSplMemTellsAFailedRelease) {
    void* block = AllocSplMem(8);
    ASSERT_NE(block, nullptr);
    machine.failOperation("GlobalFree", platform::win::kErrorInvalidHandle, 1);
    EXPECT_EQ(FreeSplMem(block), 0);
    EXPECT_EQ(machine.openResources().globalBlocks, 1);
    EXPECT_EQ(FreeSplStr(block), 1);
}

TEST(SpoolerMemory, FreeSplStrIsFreeSplMem) {
    EXPECT_EQ(reinterpret_cast<void*>(&FreeSplStr), reinterpret_cast<void*>(&FreeSplMem));
}

}  // namespace
}  // namespace hx::test
