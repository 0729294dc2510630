// configCOM's line settings (remembered, device's own or defaults) and
// configLPT's retry time-out handed to the caller's dialog.
#include <cstring>
#include <optional>
#include <string>

#include "platform/unique_handle.h"
#include "tests/driverutil/fixture.h"

namespace hx::test {
namespace {

using platform::Dcb;

constexpr const char16_t* kWindowsKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr const char16_t* kTimeoutValue = u"TransmissionRetryTimeout";

// A device's own settings, different from the defaults in every field.
Dcb deviceSettings(uint32_t baud) {
    Dcb dcb{};
    dcb.dcbLength = sizeof(Dcb);
    dcb.baudRate = baud;
    dcb.flags = 0x1 | 0x4 | 0x2000;  // binary, CTS flow, RTS handshake
    dcb.xonLim = 100;
    dcb.xoffLim = 200;
    dcb.byteSize = 7;
    dcb.parity = 2;
    dcb.stopBits = 2;
    dcb.xonChar = 0x01;
    dcb.xoffChar = 0x02;
    dcb.eofChar = 0x1A;
    return dcb;
}

Dcb defaults(uint32_t baud = 9600) {
    Dcb dcb{};
    dcb.dcbLength = 28;
    dcb.baudRate = baud;
    dcb.flags = 0x11;
    dcb.xonLim = 2048;
    dcb.xoffLim = 512;
    dcb.byteSize = 8;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    return dcb;
}

::testing::AssertionResult sameDcb(const Dcb& actual, const Dcb& expected) {
    if (std::memcmp(&actual, &expected, sizeof(Dcb)) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "baud " << actual.baudRate << " flags 0x" << std::hex << actual.flags
                                         << " byteSize " << std::dec << int(actual.byteSize) << ", expected baud "
                                         << expected.baudRate << " flags 0x" << std::hex << expected.flags
                                         << " byteSize " << std::dec << int(expected.byteSize);
}

// What configLPT handed the dialog procedure with WM_INITDIALOG.
struct DialogSeen {
    int opened = 0;
    std::u16string port;
    int32_t timeout = 0;
};
DialogSeen g_dialog;

intptr_t recordingDialogProc(void*, uint32_t message, uintptr_t, intptr_t lParam) {
    if (message == platform::win::kWmInitDialog) {
        const auto* param = reinterpret_cast<const LPTDialogParam*>(lParam);
        ++g_dialog.opened;
        g_dialog.port = u16(param->portName);
        g_dialog.timeout = param->timeoutSeconds;
    }
    return 0;
}

class PortSettingsTest : public DriverUtilTest {
protected:
    void SetUp() override {
        g_dialog = {};
        machine.createRegistryKey(kWindowsKey);
        machine.programDialogTemplates() = {201};
    }

    sim::SimSerialPort& port(const std::u16string& name) {
        for (auto& candidate : machine.serialPorts()) {
            if (candidate.name == name) return candidate;
        }
        throw std::runtime_error("no such serial port");
    }

    // The slot the caller keeps; its block goes back through ReleasePortInfo.
    struct Slot {
        void* block = nullptr;
        ~Slot() { ReleasePortInfo(block); }
        const Dcb& dcb() const { return *static_cast<const Dcb*>(block); }
    };

    void* owner = reinterpret_cast<void*>(0x1234);
};

// ---- configCOM ----

TEST_F(PortSettingsTest, FirstCallStartsFromTheDeviceOrTheDefaults) {
    struct Case {
        uint32_t deviceBaud;
        int32_t baudArgument;
        bool defaulted;
    };
    const Case cases[] = {
        {4800, 9600, true},    {110, 9600, true},   {9599, 9600, true},   {9600, 9600, false},
        {115200, 9600, false}, {4800, 4800, false}, {4800, 19200, false}, {4800, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "device " << c.deviceBaud << " argument " << c.baudArgument);
        machine.serialPorts() = {{u"COM1", deviceSettings(c.deviceBaud)}};
        const Dcb expected = c.defaulted ? defaults() : deviceSettings(c.deviceBaud);
        Slot slot;
        EXPECT_EQ(configCOM(w(u"COM1:"), c.baudArgument, &owner, &slot.block, 1), 0);
        ASSERT_NE(slot.block, nullptr);
        EXPECT_TRUE(sameDcb(slot.dcb(), expected));
        EXPECT_TRUE(sameDcb(port(u"COM1").dcb, expected));
        ASSERT_TRUE(machine.lastSerialDialogDcb().has_value());
        EXPECT_TRUE(sameDcb(*machine.lastSerialDialogDcb(), expected));
    }
}

TEST_F(PortSettingsTest, ASecondPortStartsFromTheRememberedSettings) {
    machine.serialPorts() = {{u"COM1", deviceSettings(4800)}, {u"COM2", deviceSettings(115200)}};
    machine.serialDialog().baudRate = 19200;
    Slot slot;
    ASSERT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), 0);
    ASSERT_NE(slot.block, nullptr);
    const void* first = slot.block;
    EXPECT_TRUE(sameDcb(slot.dcb(), defaults(19200)));
    EXPECT_TRUE(sameDcb(port(u"COM1").dcb, defaults(19200)));

    // The second device's own state is not even read.
    machine.serialDialog().baudRate.reset();
    machine.failOperation("GetCommState", platform::win::kErrorGenFailure, 1);
    EXPECT_EQ(configCOM(w(u"COM2:"), 9600, &owner, &slot.block, 1), 0);
    EXPECT_EQ(slot.block, first);
    EXPECT_TRUE(sameDcb(*machine.lastSerialDialogDcb(), defaults(19200)));
    EXPECT_TRUE(sameDcb(port(u"COM2").dcb, defaults(19200)));
    EXPECT_TRUE(sameDcb(slot.dcb(), defaults(19200)));
}

TEST_F(PortSettingsTest, ACancelledDialogStillAppliesThePreparedSettings) {
    machine.serialPorts() = {{u"COM1", deviceSettings(4800)}};
    machine.serialDialog().cancel = true;
    machine.serialDialog().baudRate = 19200;
    Slot slot;
    EXPECT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), 0);
    EXPECT_TRUE(sameDcb(port(u"COM1").dcb, defaults()));
    ASSERT_NE(slot.block, nullptr);
    EXPECT_TRUE(sameDcb(slot.dcb(), defaults()));
}

TEST_F(PortSettingsTest, WithoutTheDialogFlagTheSettingsAreAppliedUnseen) {
    machine.serialPorts() = {{u"COM1", deviceSettings(2400)}};
    Slot slot;
    EXPECT_EQ(configCOM(w(u"COM1:"), 9600, nullptr, &slot.block, 0), 0);
    EXPECT_FALSE(machine.lastSerialDialogDcb().has_value());
    EXPECT_TRUE(sameDcb(port(u"COM1").dcb, defaults()));
    ASSERT_NE(slot.block, nullptr);
    EXPECT_TRUE(sameDcb(slot.dcb(), defaults()));
}

TEST_F(PortSettingsTest, FailuresLeaveTheDeviceAndTheSlotAlone) {
    struct Case {
        const char* what;
        const char* operation;  // null: the device refuses the settings
    };
    const Case cases[] = {
        {"open fails", "CreateFileW"},
        {"state cannot be read", "GetCommState"},
        {"settings cannot be applied", "SetCommState"},
        {"device refuses the settings", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        machine.serialPorts() = {{u"COM1", deviceSettings(4800)}};
        if (c.operation != nullptr) {
            machine.failOperation(c.operation, platform::win::kErrorGenFailure, 1);
        } else {
            port(u"COM1").refuseSettings = true;
        }
        Slot slot;
        EXPECT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), -1);
        EXPECT_EQ(slot.block, nullptr);
        EXPECT_TRUE(sameDcb(port(u"COM1").dcb, deviceSettings(4800)));
    }

    machine.serialPorts() = {{u"COM1", deviceSettings(4800)}};
    Slot missing;
    EXPECT_EQ(configCOM(w(u"COM7:"), 9600, &owner, &missing.block, 1), -1);
    EXPECT_EQ(missing.block, nullptr);
}

TEST_F(PortSettingsTest, RefusedSettingsKeepTheRememberedOnes) {
    machine.serialPorts() = {{u"COM1", deviceSettings(4800)}};
    Slot slot;
    ASSERT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), 0);
    port(u"COM1").refuseSettings = true;
    machine.serialDialog().baudRate = 38400;
    EXPECT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), -1);
    EXPECT_TRUE(sameDcb(slot.dcb(), defaults()));
}

TEST_F(PortSettingsTest, SettingsAreAppliedEvenWhenTheyCannotBeRemembered) {
    machine.serialPorts() = {{u"COM1", deviceSettings(4800)}};
    machine.failAllocations(1);
    Slot slot;
    EXPECT_EQ(configCOM(w(u"COM1:"), 9600, &owner, &slot.block, 1), 0);
    EXPECT_EQ(slot.block, nullptr);
    EXPECT_TRUE(sameDcb(port(u"COM1").dcb, defaults()));
}

TEST_F(PortSettingsTest, SerialPortNamesMustFitTheDevicePath) {
    const std::u16string longest = u"COM" + std::u16string(24, u'1');  // 27 units: "\\.\" + name fills 31
    const std::u16string tooLong = longest + u"1";
    struct Case {
        std::u16string argument;
        std::u16string device;
        int32_t result;
    };
    const Case cases[] = {
        {u"COM3", u"COM3", 0},  {longest + u":", longest, 0},  {longest, longest, 0},
        {tooLong, tooLong, -1}, {tooLong + u":", tooLong, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.argument));
        machine.serialPorts() = {{c.device, deviceSettings(9600)}};
        Slot slot;
        EXPECT_EQ(configCOM(w(c.argument), 9600, &owner, &slot.block, 0), c.result);
        EXPECT_EQ(slot.block != nullptr, c.result == 0);
    }
    EXPECT_EQ(configCOM(nullptr, 9600, &owner, nullptr, 0), -1);
}

// ---- configLPT ----

TEST_F(PortSettingsTest, TheDialogGetsThePortAndTheCurrentTimeout) {
    struct Case {
        std::u16string value;
        int32_t timeout;
    };
    const Case cases[] = {
        {u"90", 90},
        {u"", 0},
        {u"  -12abc", -12},
        {u"abc", 0},
        {u"+7", 7},
        {u"\t 15s", 15},
        {u"0030", 30},
        {u"- 5", 0},
        {u"2147483648", 2147483647},
        {u"-2147483649", -2147483647 - 1},
        {std::u16string(300, u'7'), 0},  // beyond the 520-byte capacity: not read at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.value));
        g_dialog = {};
        machine.setRegistryString(kWindowsKey, kTimeoutValue, c.value);
        EXPECT_EQ(configLPT(w(u"LPT1:"), 201, recordingDialogProc), 0);
        EXPECT_EQ(g_dialog.opened, 1);
        EXPECT_EQ(g_dialog.port, u"LPT1");
        EXPECT_EQ(g_dialog.timeout, c.timeout);
    }
}

TEST_F(PortSettingsTest, AnAbsentTimeoutReadsAsZero) {
    auto& registry = machine.platform().registry;
    platform::Handle opened = nullptr;
    ASSERT_EQ(registry.regOpenKeyEx(platform::kHkeyLocalMachine, kWindowsKey, 0, platform::win::kKeyReadWrite, &opened),
              0);
    {
        platform::UniqueRegistryKey key(registry, opened);
        (void)registry.regDeleteValue(key.get(), kTimeoutValue);
    }
    ASSERT_EQ(machine.registryString(kWindowsKey, kTimeoutValue), std::nullopt);
    EXPECT_EQ(configLPT(w(u"LPT2"), 201, recordingDialogProc), 0);
    EXPECT_EQ(g_dialog.opened, 1);
    EXPECT_EQ(g_dialog.port, u"LPT2");
    EXPECT_EQ(g_dialog.timeout, 0);
}

TEST_F(PortSettingsTest, OnlyTheLowWordOfTheTemplateCounts) {
    machine.setRegistryString(kWindowsKey, kTimeoutValue, u"45");
    struct Case {
        int32_t templateId;
        std::intptr_t dialogEnds;
        int opened;
    };
    const Case cases[] = {
        {0x100C9, 1, 1}, {static_cast<int32_t>(0xFFFF00C9u), 2, 1}, {201, 0, 1}, {0x200C9, -1, 1}, {202, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.templateId);
        g_dialog = {};
        machine.dialogResult = c.dialogEnds;
        EXPECT_EQ(configLPT(w(u"LPT1:"), c.templateId, recordingDialogProc), 0);
        EXPECT_EQ(g_dialog.opened, c.opened);
    }
}

TEST_F(PortSettingsTest, WithoutWriteAccessNoDialogIsShown) {
    machine.setRegistryString(kWindowsKey, kTimeoutValue, u"90");
    machine.system().registryWritable = false;
    EXPECT_EQ(configLPT(w(u"LPT1:"), 201, recordingDialogProc), -1);
    EXPECT_EQ(g_dialog.opened, 0);

    machine.system().registryWritable = true;
    machine.failOperation("RegOpenKeyExW", platform::win::kErrorFileNotFound, 1);
    EXPECT_EQ(configLPT(w(u"LPT1:"), 201, recordingDialogProc), -1);
    EXPECT_EQ(g_dialog.opened, 0);
}

TEST_F(PortSettingsTest, ParallelPortNamesMustFitTheirBuffer) {
    const std::u16string longest = u"LPT" + std::u16string(28, u'1');  // 31 units
    EXPECT_EQ(configLPT(w(longest + u":"), 201, recordingDialogProc), 0);
    EXPECT_EQ(g_dialog.port, longest);
    g_dialog = {};
    EXPECT_EQ(configLPT(w(longest + u"1"), 201, recordingDialogProc), -1);
    EXPECT_EQ(configLPT(nullptr, 201, recordingDialogProc), -1);
    EXPECT_EQ(g_dialog.opened, 0);
}

}  // namespace
}  // namespace hx::test
