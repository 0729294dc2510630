// Discovery, the lock file and the device transfers, seen through the exports
// and the simulated machine.
#include <memory>

#include "platform/types.h"
#include "settingtool/transport.h"
#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

using namespace hx::platform::win;
using sim::Machine;
using sim::SimPrinter;

const Bytes kConnectionCheck = {0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};

struct TokenCase {
    const char* name;
    std::u16string path;
    bool isPrinter;
};

class DiscoveryTokens : public SettingToolTest, public ::testing::WithParamInterface<TokenCase> {};

TEST_P(DiscoveryTokens, OnlyMatchingPairsAreThePrinter) {
    auto device = std::make_shared<SimPrinter>();
    machine.setUsbInterfaces({{GetParam().path, device}});
    EXPECT_EQ(USBCheckConnection(), GetParam().isPrinter ? 1 : 0);
    if (GetParam().isPrinter) {
        EXPECT_EQ(session().transport.devicePath(), GetParam().path);
        ASSERT_EQ(device->received().size(), 1u);
    } else {
        EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);
        EXPECT_TRUE(device->received().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DiscoveryTokens,
    ::testing::Values(TokenCase{"LowerPair", u"\\\\?\\usb#vid_0fe6&pid_811e#1#{a5dcbf10}", true},
                      TokenCase{"UpperPair", u"\\\\?\\USB#VID_0FE6&PID_811E#1#{A5DCBF10}", true},
                      TokenCase{"UpperPairReversed", u"\\\\?\\USB#PID_811E&VID_0FE6#1", true},
                      TokenCase{"MixedPairs", u"\\\\?\\usb#vid_0FE6&pid_811e#1", false},
                      TokenCase{"UpperVidLowerPid", u"\\\\?\\usb#VID_0FE6&pid_811e#1", false},
                      TokenCase{"MixedCaseToken", u"\\\\?\\usb#Vid_0fe6&Pid_811e#1", false},
                      TokenCase{"OtherProduct", u"\\\\?\\usb#vid_0fe6&pid_811f#1", false},
                      TokenCase{"OtherVendor", u"\\\\?\\usb#vid_0fe7&pid_811e#1", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, FirstMatchingInterfaceWinsAndIsKeptForTheProcess) {
    auto other = std::make_shared<SimPrinter>();
    auto first = std::make_shared<SimPrinter>();
    auto second = std::make_shared<SimPrinter>();
    machine.setUsbInterfaces({{u"\\\\?\\usb#vid_1234&pid_0001#x", other},
                              {u"\\\\?\\usb#vid_0fe6&pid_811e#first", first},
                              {u"\\\\?\\USB#VID_0FE6&PID_811E#SECOND", second}});
    EXPECT_EQ(USBCheckConnection(), 1);
    EXPECT_EQ(first->received().size(), 1u);
    EXPECT_TRUE(second->received().empty());
    EXPECT_TRUE(other->received().empty());

    // Unplugged and back under another path: not looked for again.
    machine.setUsbInterfaces({{u"\\\\?\\USB#VID_0FE6&PID_811E#SECOND", second}});
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_CANNOT_OPEN_USB_PRINTER);
    EXPECT_TRUE(second->received().empty());
}

TEST_F(SettingToolTest, APathTooLongForItsBufferIsPassedBy) {
    auto tooLong = std::make_shared<SimPrinter>();
    auto fits = std::make_shared<SimPrinter>();
    const std::u16string longPath = u"\\\\?\\usb#vid_0fe6&pid_811e#" + std::u16string(240, u'x');
    ASSERT_GT(longPath.size(), settingtool::kMaxPathUnits);
    machine.setUsbInterfaces({{longPath, tooLong}, {u"\\\\?\\usb#vid_0fe6&pid_811e#short", fits}});
    EXPECT_EQ(USBCheckConnection(), 1);
    EXPECT_TRUE(tooLong->received().empty());
    EXPECT_EQ(fits->received().size(), 1u);
}

TEST_F(SettingToolTest, DiscoveryFailures) {
    machine.failGetClassDevs(kErrorInvalidParameter, 1);
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);

    // A detail size query failing for another reason than the buffer ends the search.
    machine.failInterfaceDetail(kErrorGenFailure, 1);
    EXPECT_EQ(USBCheckConnection(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_NOT_FINE_USB_PRINTER);

    EXPECT_EQ(USBCheckConnection(), 1);
}

TEST_F(SettingToolTest, AnInterfaceWhoseRecordCannotBeAllocatedIsSkipped) {
    auto first = std::make_shared<SimPrinter>();
    auto second = std::make_shared<SimPrinter>();
    machine.setUsbInterfaces({{u"\\\\?\\usb#vid_0fe6&pid_811e#a", first}, {u"\\\\?\\usb#vid_0fe6&pid_811e#b", second}});
    machine.failAllocations(1);
    EXPECT_EQ(USBCheckConnection(), 1);
    EXPECT_TRUE(first->received().empty());
    EXPECT_EQ(second->received().size(), 1u);
}

TEST_F(SettingToolTest, NoLockFileMeansOneAttemptAndNoPause) {
    ASSERT_EQ(USBCheckConnection(), 1);
    ASSERT_EQ(machine.lockAttempts().size(), 1u);
    EXPECT_EQ(machine.lockAttempts()[0].error, kErrorFileNotFound);
    EXPECT_TRUE(machine.sleeps().empty());
    EXPECT_FALSE(lockHeld());
}

TEST_F(SettingToolTest, LockHeldElsewhereThroughoutCostsThreePausesThenTheWriteGoesAhead) {
    machine.setLockFilePresent(true);
    machine.holdFileElsewhere(machine.lockFilePath(), -1);
    const auto start = machine.nowMs();
    EXPECT_EQ(USBCheckConnection(), 1);
    ASSERT_EQ(machine.lockAttempts().size(), 3u);
    for (const auto& attempt : machine.lockAttempts()) EXPECT_EQ(attempt.error, kErrorSharingViolation);
    EXPECT_EQ(machine.sleeps(), (std::vector<std::uint32_t>{100, 100, 100}));
    EXPECT_GE(machine.nowMs() - start, 300u);
    EXPECT_EQ(frames(), std::vector<Bytes>{kConnectionCheck});
    EXPECT_FALSE(lockHeld());
}

TEST_F(SettingToolTest, LockFreedAfterOneRefusalIsTakenOnTheSecondAttempt) {
    machine.setLockFilePresent(true);
    machine.holdFileElsewhere(machine.lockFilePath(), 1);
    EXPECT_EQ(USBCheckConnection(), 1);
    ASSERT_EQ(machine.lockAttempts().size(), 2u);
    EXPECT_EQ(machine.lockAttempts()[1].error, 0u);
    EXPECT_EQ(machine.sleeps(), std::vector<std::uint32_t>{100});
    EXPECT_TRUE(lockHeld());
}

// Which exchanges give the lock back and which keep it until the next write.
struct LockRule {
    const char* name;
    int32_t (*exchange)();
    bool heldAfter;
};

class LockHoldingRule : public SettingToolTest, public ::testing::WithParamInterface<LockRule> {};

TEST_P(LockHoldingRule, LockIsHeldOrReleasedAsTheExchangeRequires) {
    machine.setLockFilePresent(true);
    ASSERT_EQ(USBCheckConnection(), 1);  // finds the printer for the exchanges that do not
    (void)GetParam().exchange();
    EXPECT_EQ(lockHeld(), GetParam().heldAfter);
    EXPECT_EQ(machine.openResources().fileHandles, GetParam().heldAfter ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Exchanges, LockHoldingRule,
    ::testing::Values(
        LockRule{"ConnectionCheck", [] { return USBCheckConnection(); }, true},
        LockRule{"TextQuery", [] { uint16_t t[64]; return HXGetPrinterType(t); }, false},
        LockRule{"NumberQuery", [] { int32_t v; return HXGetPrinterIsOK(&v); }, false},
        LockRule{"PrintSettingQuery", [] { HXPrintSettingParam p; return HXGetPrinterPrintSettingParam(&p); }, false},
        LockRule{"SettingCommand", [] { return HXSetDumpMode(1); }, true},
        LockRule{"SettingThenAcknowledgement", [] { (void)HXRestoreFactorySettings(); return GetSettingResult(); }, false},
        LockRule{"SelfTest", [] { return HXSelfTestPrint(); }, true},
        LockRule{"BadDotQuery", [] { int32_t n; return HXBadPointCheck(&n); }, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingToolTest, TheLockFollowsTheMachinesWordSize) {
    struct Case {
        std::uint16_t native, process;
        bool hasNative;
        bool usesX64Directory;
    };
    const Case cases[] = {{9, 9, true, true}, {6, 6, true, true}, {0, 0, true, false},
                          {9, 0, true, true}, {9, 0, false, false}, {5, 5, true, false}};
    for (const auto& c : cases) {
        Machine m;
        settingtool::ScopedSessionForTesting use(m.platform());
        m.system().nativeArchitecture = c.native;
        m.system().processArchitecture = c.process;
        m.system().hasNativeSystemInfo = c.hasNative;
        ASSERT_EQ(USBCheckConnection(), 1);
        // The simulated lock file sits in the x64 directory only.
        EXPECT_EQ(m.lockAttempts().size(), c.usesX64Directory ? 1u : 0u)
            << "architecture " << c.native << "/" << c.process << " native call " << c.hasNative;
    }
}

TEST_F(SettingToolTest, WithoutADriverDirectoryWritesGoAheadWithoutTheLock) {
    machine.setLockFilePresent(true);
    machine.failDriverDirectory(kErrorInvalidParameter);
    EXPECT_EQ(USBCheckConnection(), 1);
    EXPECT_TRUE(machine.lockAttempts().empty());
    EXPECT_FALSE(lockHeld());
}

TEST_F(SettingToolTest, ReadWaitsAtMostOneSecond) {
    ASSERT_EQ(USBCheckConnection(), 1);
    struct Case {
        std::uint32_t delayMs;
        bool answered;
    };
    for (const Case c : {Case{0, true}, Case{999, true}, Case{1000, true}, Case{1001, false}}) {
        reply({0xFF, 0xFF, 0xFF, 0xF0}, c.delayMs);
        const auto start = machine.nowMs();
        EXPECT_EQ(USBCheckConnection(), c.answered ? 1 : 0) << "delay " << c.delayMs;
        EXPECT_LE(machine.nowMs() - start, 1000u);
        if (!c.answered) { EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_FAIL); }
    }
}

TEST_F(SettingToolTest, RepliesOfAnyLengthUpToTheBufferAreTaken) {
    int32_t status = -1;
    for (std::size_t length : {std::size_t{7}, std::size_t{10}, std::size_t{64}, std::size_t{80}}) {
        Bytes bytes = queryReply(5, {0x07, 0, 0, 0});
        bytes.resize(length, 0xEE);
        reply(bytes);
        EXPECT_EQ(HXGetPrinterIsOK(&status), 1) << length;
    }
    // Only the first two payload bytes arrive: the rest reads as zero.
    reply(queryReply(3, {0x34, 0x12}));
    EXPECT_EQ(HXGetPrinterIsOK(&status), 1);
    EXPECT_EQ(status, 0x1234);
}

TEST_F(SettingToolTest, WriteFaults) {
    ASSERT_EQ(USBCheckConnection(), 1);
    machine.shortenDeviceWrites(3, 1);
    EXPECT_EQ(HXRestoreFactorySettings(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_WRITE_USB_FAIL);

    machine.failDeviceWrites(kErrorGenFailure, 1);
    EXPECT_EQ(HXSetDumpMode(1), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_WRITE_USB_FAIL);

    EXPECT_EQ(HXSetDumpMode(1), 1);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_WRITE_USB_FAIL);  // success leaves the last error in place
}

TEST_F(SettingToolTest, AFailedDeviceOpenKeepsTheLockUntilTheNextWrite) {
    machine.setLockFilePresent(true);
    ASSERT_EQ(USBCheckConnection(), 1);
    machine.failDeviceOpens(kErrorAccessDenied, 1);
    EXPECT_EQ(HXRestoreFactorySettings(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_CANNOT_OPEN_USB_PRINTER);
    EXPECT_TRUE(lockHeld());
    // Nothing reached the printer, so nothing acknowledges; the read still
    // gives the lock back.
    EXPECT_EQ(GetSettingResult(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_READ_USB_BEYOND_MAX_TIME);
    EXPECT_FALSE(lockHeld());
}

TEST_F(SettingToolTest, AWriteBeforeThePrinterIsFoundCannotOpenIt) {
    EXPECT_EQ(HXLabelLackPaperLearn(), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_CANNOT_OPEN_USB_PRINTER);
    EXPECT_TRUE(wire().empty());
}

}  // namespace
}  // namespace hx::test
