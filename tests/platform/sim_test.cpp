// Contract tests of the simulated machine: what the logic may rely on from each
// platform operation on Linux, and the simulated printer's answers byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/module_resources.h"
#include "platform/sim/machine.h"
#include "platform/unique_handle.h"

namespace hx::sim {
namespace {

using namespace hx::platform;
using namespace hx::platform::win;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;
constexpr std::uint32_t kShareBoth = kFileShareRead | kFileShareWrite;
constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes frame(std::uint8_t group, Bytes data) {
    Bytes out(5 + data.size());
    out[0] = 0x1F;
    out[1] = 0x1B;
    out[2] = 0x1A;
    out[3] = group;
    out[4] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), out.begin() + 5);
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

ScriptedReply noReply() {
    ScriptedReply reply;
    reply.never = true;
    return reply;
}

std::string readHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SimMachine : public ::testing::Test {
protected:
    Machine machine;
    Platform& p = machine.platform();

    std::uint32_t lastError() { return p.lastError.getLastError(); }

    Handle openPrinter(std::uint32_t share = kShareBoth, std::uint32_t flags = kFileAttributeNormal,
                       const std::u16string& path = Machine::defaultPrinterPath) {
        return p.files.createFile(path.c_str(), kReadWrite, share, kOpenExisting, flags);
    }
    Handle openPrinterForRead() { return openPrinter(0, kFileFlagOverlapped | kFileFlagSequentialScan); }

    void send(const Bytes& bytes) {
        UniqueFile device(p.files, openPrinter());
        ASSERT_TRUE(device.valid());
        std::uint32_t written = 0;
        ASSERT_TRUE(p.files.writeFile(device.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written));
        ASSERT_EQ(written, bytes.size());
    }

    // One overlapped read that waits at most `waitMs`; nullopt when nothing came.
    std::optional<Bytes> receive(std::uint32_t waitMs = 1000, std::uint32_t capacity = 64) {
        UniqueFile device(p.files, openPrinterForRead());
        EXPECT_TRUE(device.valid());
        Bytes buffer(capacity, 0);
        Overlapped ov{};
        std::uint32_t count = 0;
        if (!p.files.readFile(device.get(), buffer.data(), capacity, &count, &ov)) {
            EXPECT_EQ(lastError(), kErrorIoPending);
            p.clock.waitForSingleObject(device.get(), waitMs);
            if (!p.files.getOverlappedResult(device.get(), &ov, &count, false)) {
                p.files.cancelIo(device.get());
                return std::nullopt;
            }
        }
        buffer.resize(count);
        return buffer;
    }
};

// ---- Clock and last error ----

TEST_F(SimMachine, SleepsAdvanceVirtualTimeAndAreRecorded) {
    EXPECT_EQ(machine.nowMs(), 0u);
    p.clock.sleep(100);
    p.clock.sleep(250);
    EXPECT_EQ(machine.nowMs(), 350u);
    EXPECT_EQ(p.clock.tickCount(), 350u);
    EXPECT_THAT(machine.sleeps(), ElementsAre(100u, 250u));
    EXPECT_THAT(machine.journal(), ElementsAre("Sleep 100", "Sleep 250"));
}

TEST_F(SimMachine, WaitingOnAnUnknownHandleFails) {
    EXPECT_EQ(p.clock.waitForSingleObject(reinterpret_cast<Handle>(0x4242), 1000), kWaitFailed);
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_EQ(machine.nowMs(), 0u);
}

TEST_F(SimMachine, AHandleWithoutOutstandingReadIsSignalledAtOnce) {
    UniqueFile device(p.files, openPrinterForRead());
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitObject0);
    EXPECT_EQ(machine.nowMs(), 0u);
}

TEST_F(SimMachine, LastErrorKeepsWhatWasSetUntilAnOperationFails) {
    p.lastError.setLastError(1234);
    p.clock.sleep(1);
    EXPECT_EQ(lastError(), 1234u);
    EXPECT_FALSE(p.files.closeHandle(reinterpret_cast<Handle>(0x4242)));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
}

// ---- USB enumeration ----

struct Enumerated {
    std::vector<std::u16string> paths;
    std::uint32_t endError = 0;
};

Enumerated enumerateAll(Platform& p) {
    Enumerated result;
    UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr,
                                                      kDigcfPresent | kDigcfDeviceInterface));
    EXPECT_TRUE(set.valid());
    for (std::uint32_t index = 0;; ++index) {
        DeviceInterfaceData data{};
        data.cbSize = sizeof data;
        if (!p.usb.enumDeviceInterfaces(set.get(), kGuidDevInterfaceUsbDevice, index, &data)) {
            result.endError = p.lastError.getLastError();
            break;
        }
        std::uint32_t required = 0;
        EXPECT_FALSE(p.usb.getDeviceInterfaceDetail(set.get(), &data, nullptr, 0, &required));
        EXPECT_EQ(p.lastError.getLastError(), kErrorInsufficientBuffer);
        std::vector<std::uint8_t> storage(required, 0xCC);
        auto* detail = reinterpret_cast<DeviceInterfaceDetail*>(storage.data());
        detail->cbSize = kDeviceInterfaceDetailFixedSize;
        EXPECT_TRUE(p.usb.getDeviceInterfaceDetail(set.get(), &data, detail, required, nullptr));
        result.paths.emplace_back(detail->devicePath);
    }
    return result;
}

TEST_F(SimMachine, AFreshMachineHasOnePrinterInterface) {
    auto found = enumerateAll(p);
    EXPECT_THAT(found.paths, ElementsAre(Machine::defaultPrinterPath));
    EXPECT_EQ(found.endError, kErrorNoMoreItems);
    EXPECT_TRUE(machine.openResources().none());
}

TEST_F(SimMachine, InterfacesEnumerateInTheOrderOfTheBus) {
    auto other = std::make_shared<SimPrinter>();
    machine.setUsbInterfaces({{u"\\\\?\\usb#vid_046d&pid_c52b#1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", nullptr},
                              {u"\\\\?\\USB#VID_0FE6&PID_811E#2#{A5DCBF10-6530-11D2-901F-00C04FB951ED}", other}});
    auto found = enumerateAll(p);
    EXPECT_THAT(found.paths, ElementsAre(machine.usbInterfaces()[0].path, machine.usbInterfaces()[1].path));
    EXPECT_EQ(&machine.printer(), other.get());
}

TEST_F(SimMachine, ADeviceInfoSetIsASnapshotOfTheBus) {
    UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent));
    machine.setUsbInterfaces({});
    DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    EXPECT_TRUE(p.usb.enumDeviceInterfaces(set.get(), kGuidDevInterfaceUsbDevice, 0, &data));
    EXPECT_EQ(machine.openResources().deviceInfoSets, 1);
    set.reset();
    EXPECT_EQ(machine.openResources().deviceInfoSets, 0);
    EXPECT_TRUE(enumerateAll(p).paths.empty());
}

TEST_F(SimMachine, InterfaceDetailSizeCoversThePathAndItsTerminator) {
    UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent));
    DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(p.usb.enumDeviceInterfaces(set.get(), kGuidDevInterfaceUsbDevice, 0, &data));
    std::uint32_t required = 0;
    EXPECT_FALSE(p.usb.getDeviceInterfaceDetail(set.get(), &data, nullptr, 0, &required));
    EXPECT_EQ(required, 4 + (Machine::defaultPrinterPath.size() + 1) * 2);

    std::vector<std::uint8_t> storage(required);
    auto* detail = reinterpret_cast<DeviceInterfaceDetail*>(storage.data());
    struct Case {
        std::uint32_t cbSize;
        std::uint32_t size;
        std::uint32_t error;
    };
    for (auto c : {Case{required, required, kErrorInvalidParameter}, Case{0, required, kErrorInvalidParameter},
                   Case{kDeviceInterfaceDetailFixedSize, required - 2, kErrorInsufficientBuffer}}) {
        detail->cbSize = c.cbSize;
        std::uint32_t reported = 0;
        EXPECT_FALSE(p.usb.getDeviceInterfaceDetail(set.get(), &data, detail, c.size, &reported));
        EXPECT_EQ(lastError(), c.error) << "cbSize " << c.cbSize << " size " << c.size;
    }
}

TEST_F(SimMachine, EnumerationNeedsTheRecordSize) {
    UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent));
    DeviceInterfaceData data{};
    EXPECT_FALSE(p.usb.enumDeviceInterfaces(set.get(), kGuidDevInterfaceUsbDevice, 0, &data));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
}

TEST_F(SimMachine, ClassDevsFaultsFailTheNextCallsOnly) {
    machine.failGetClassDevs(kErrorInvalidFlags, 1);
    EXPECT_EQ(p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent), kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorInvalidFlags);
    EXPECT_EQ(enumerateAll(p).paths.size(), 1u);
}

TEST_F(SimMachine, InterfaceDetailFaultsHitTheSizeQuery) {
    machine.failInterfaceDetail(kErrorGenFailure, 2);
    UniqueDeviceInfoSet set(p.usb, p.usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, kDigcfPresent));
    DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(p.usb.enumDeviceInterfaces(set.get(), kGuidDevInterfaceUsbDevice, 0, &data));
    std::uint32_t required = 0;
    std::vector<std::uint32_t> errors;
    for (int call = 0; call < 3; ++call) {
        EXPECT_FALSE(p.usb.getDeviceInterfaceDetail(set.get(), &data, nullptr, 0, &required));
        errors.push_back(lastError());
    }
    EXPECT_THAT(errors, ElementsAre(kErrorGenFailure, kErrorGenFailure, kErrorInsufficientBuffer));
}

TEST_F(SimMachine, ALaterFaultSettingReplacesTheEarlierOne) {
    machine.failDeviceOpens(kErrorAccessDenied, -1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(openPrinter(), kInvalidHandle);
        EXPECT_EQ(lastError(), kErrorAccessDenied);
    }
    machine.failDeviceOpens(kErrorGenFailure, 1);
    EXPECT_EQ(openPrinter(), kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorGenFailure);
    UniqueFile device(p.files, openPrinter());
    EXPECT_TRUE(device.valid());
}

// ---- The printer's device file ----

TEST_F(SimMachine, DevicePathsCompareWithoutCase) {
    std::u16string upper;
    for (char16_t c : Machine::defaultPrinterPath) upper += (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
    UniqueFile device(p.files, openPrinter(kShareBoth, kFileAttributeNormal, upper));
    EXPECT_TRUE(device.valid());
    EXPECT_EQ(machine.openResources().deviceHandles, 1);
    device.reset();
    EXPECT_EQ(machine.openResources().deviceHandles, 0);
}

TEST_F(SimMachine, AnAbsentDeviceIsNotFound) {
    EXPECT_EQ(openPrinter(kShareBoth, 0, u"\\\\?\\usb#vid_0fe6&pid_811e#other#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"),
              kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorFileNotFound);
}

struct SharingCase {
    const char* name;
    std::uint32_t firstAccess, firstShare, secondAccess, secondShare;
    std::uint32_t error;
};

const SharingCase kSharingCases[] = {
    {"both share everything", kReadWrite, kShareBoth, kReadWrite, kShareBoth, 0},
    {"second asks exclusive", kReadWrite, kShareBoth, kReadWrite, 0, kErrorSharingViolation},
    {"first holds exclusive", kReadWrite, 0, kReadWrite, kShareBoth, kErrorSharingViolation},
    {"readers sharing reads", kGenericRead, kFileShareRead, kGenericRead, kFileShareRead, 0},
    {"writer after reader that shares no writes", kGenericRead, kFileShareRead, kGenericWrite, kShareBoth,
     kErrorSharingViolation},
    {"reader that shares no writes after writer", kGenericWrite, kShareBoth, kGenericRead, kFileShareRead,
     kErrorSharingViolation},
};

TEST_F(SimMachine, DeviceOpensFollowTheSharingRule) {
    for (const auto& c : kSharingCases) {
        const auto& path = Machine::defaultPrinterPath;
        UniqueFile first(p.files, p.files.createFile(path.c_str(), c.firstAccess, c.firstShare, kOpenExisting, 0));
        ASSERT_TRUE(first.valid()) << c.name;
        UniqueFile second(p.files,
                          p.files.createFile(path.c_str(), c.secondAccess, c.secondShare, kOpenExisting, 0));
        EXPECT_EQ(second.valid(), c.error == 0) << c.name;
        if (c.error) {
            EXPECT_EQ(lastError(), c.error) << c.name;
        }
    }
}

TEST_F(SimMachine, FileOpensFollowTheSharingRule) {
    machine.setLockFilePresent(true);
    auto path = machine.lockFilePath();
    for (const auto& c : kSharingCases) {
        UniqueFile first(p.files, p.files.createFile(path.c_str(), c.firstAccess, c.firstShare, kOpenExisting, 0));
        ASSERT_TRUE(first.valid()) << c.name;
        UniqueFile second(p.files,
                          p.files.createFile(path.c_str(), c.secondAccess, c.secondShare, kOpenExisting, 0));
        EXPECT_EQ(second.valid(), c.error == 0) << c.name;
        if (c.error) {
            EXPECT_EQ(lastError(), c.error) << c.name;
        }
    }
}

TEST_F(SimMachine, DeviceOpenFaultsCountDown) {
    machine.failDeviceOpens(kErrorAccessDenied, 2);
    EXPECT_EQ(openPrinter(), kInvalidHandle);
    EXPECT_EQ(openPrinter(), kInvalidHandle);
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    UniqueFile device(p.files, openPrinter());
    EXPECT_TRUE(device.valid());
}

TEST_F(SimMachine, AWriteReachesThePrinterWithTheVirtualTime) {
    p.clock.sleep(40);
    const Bytes check{0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};
    send(check);
    ASSERT_EQ(machine.printer().received().size(), 1u);
    const auto& message = machine.printer().received()[0];
    EXPECT_EQ(message.kind, WireMessage::Kind::Frame);
    EXPECT_EQ(message.atMs, 40u);
    EXPECT_EQ(message.bytes, check);
    EXPECT_EQ(machine.nowMs(), 40u);
}

TEST_F(SimMachine, APendingReadCompletesWhenTheReplyArrives) {
    machine.printer().replyDelayMs = 7;
    send({0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02});
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    Overlapped ov{};
    std::uint32_t count = 99;
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    EXPECT_EQ(lastError(), kErrorIoPending);
    EXPECT_FALSE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(lastError(), kErrorIoIncomplete);
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitObject0);
    EXPECT_EQ(machine.nowMs(), 7u);
    ASSERT_TRUE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(count, 4u);
    EXPECT_THAT(buffer, ElementsAreArray(Bytes{0xFF, 0xFF, 0xFF, 0xF0} + Bytes(60, 0)));
    EXPECT_FALSE(machine.printer().pendingReply().has_value());
}

TEST_F(SimMachine, AReplyAlreadyThereCompletesTheReadAtOnce) {
    send({0x1F, 0x1B, 0x1A, 0x04, 0x01, 0x01});
    p.clock.sleep(machine.printer().replyDelayMs);
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    Overlapped ov{};
    std::uint32_t count = 0;
    EXPECT_TRUE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    EXPECT_EQ(count, 10u);
    EXPECT_TRUE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(count, 10u);
}

TEST_F(SimMachine, AReadTakesNoMoreThanItsBuffer) {
    send({0x1F, 0x1B, 0x1A, 0x04, 0x01, 0x01});
    auto reply = receive(1000, 3);
    ASSERT_TRUE(reply);
    EXPECT_THAT(*reply, ElementsAre(0x1F, 0x1B, 0x1A));
    EXPECT_FALSE(machine.printer().pendingReply().has_value());
}

TEST_F(SimMachine, ASilentPrinterLetsTheWaitTimeOut) {
    machine.printer().scriptReply(noReply());
    send({0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02});
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    Overlapped ov{};
    std::uint32_t count = 0;
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitTimeout);
    EXPECT_EQ(machine.nowMs(), 1000u);
    EXPECT_FALSE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(lastError(), kErrorIoIncomplete);
    EXPECT_TRUE(p.files.cancelIo(device.get()));
    EXPECT_FALSE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(lastError(), kErrorOperationAborted);

    // What the printer says after the read was abandoned never lands in its buffer.
    const Bytes check{0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};
    ASSERT_TRUE(p.files.writeFile(device.get(), check.data(), 6, &count));
    p.clock.sleep(10);
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitObject0);
    EXPECT_EQ(buffer, Bytes(64, 0));
}

TEST_F(SimMachine, ALateReplyCompletesALaterWait) {
    machine.printer().scriptReply({.bytes = {0x01, 0x02}, .delayMs = 1500});
    send({0x1F, 0x1B, 0x1A, 0x04, 0x01, 0x01});
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    Overlapped ov{};
    std::uint32_t count = 0;
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitTimeout);
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitObject0);
    EXPECT_EQ(machine.nowMs(), 1500u);
    EXPECT_TRUE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(count, 2u);
}

TEST_F(SimMachine, AReplyReadyAfterASleepCompletesWithoutAWait) {
    machine.printer().replyDelayMs = 50;
    send({0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02});
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    Overlapped ov{};
    std::uint32_t count = 0;
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    p.clock.sleep(50);
    EXPECT_TRUE(p.files.getOverlappedResult(device.get(), &ov, &count, false));
    EXPECT_EQ(count, 4u);
}

TEST_F(SimMachine, AnEndlessWaitEndsWhenTheReplyComesOrNeverWill) {
    struct Case {
        std::optional<std::uint32_t> replyDelay;  // nullopt: no reply at all
        bool completes;
        std::uint64_t timeAfter;
    };
    for (auto c : {Case{300, true, 300}, Case{std::nullopt, false, 0}}) {
        Machine fresh;
        auto& fp = fresh.platform();
        if (c.replyDelay) {
            fresh.printer().replyDelayMs = *c.replyDelay;
        } else {
            fresh.printer().scriptReply(noReply());
        }
        const Bytes check{0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};
        UniqueFile device(fp.files, fp.files.createFile(Machine::defaultPrinterPath.c_str(), kReadWrite, 0,
                                                        kOpenExisting, kFileFlagOverlapped));
        std::uint32_t count = 0;
        ASSERT_TRUE(fp.files.writeFile(device.get(), check.data(), 6, &count));
        Bytes buffer(64, 0);
        Overlapped ov{};
        EXPECT_FALSE(fp.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
        EXPECT_EQ(fp.files.getOverlappedResult(device.get(), &ov, &count, true), c.completes);
        if (!c.completes) {
            EXPECT_EQ(fp.lastError.getLastError(), kErrorOperationAborted);
            EXPECT_EQ(fp.clock.waitForSingleObject(device.get(), kInfinite), kWaitFailed);
        }
        EXPECT_EQ(fresh.nowMs(), c.timeAfter);
    }
}

TEST_F(SimMachine, ClosingAHandleAbandonsItsRead) {
    machine.printer().replyDelayMs = 100;
    send({0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02});
    Bytes buffer(64, 0);
    {
        UniqueFile device(p.files, openPrinterForRead());
        Overlapped ov{};
        std::uint32_t count = 0;
        EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    }
    p.clock.sleep(200);
    EXPECT_EQ(buffer, Bytes(64, 0));
    // The reply stays with the printer for the next reader.
    auto reply = receive();
    ASSERT_TRUE(reply);
    EXPECT_THAT(*reply, ElementsAre(0xFF, 0xFF, 0xFF, 0xF0));
}

TEST_F(SimMachine, AReadNeedsAnOverlappedRecordOnAnOverlappedHandle) {
    UniqueFile device(p.files, openPrinterForRead());
    Bytes buffer(64, 0);
    std::uint32_t count = 0;
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, nullptr));
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
}

TEST_F(SimMachine, WriteFaultsKeepBytesFromThePrinter) {
    const Bytes check{0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};
    UniqueFile device(p.files, openPrinter());
    std::uint32_t written = 99;

    machine.failDeviceWrites(kErrorGenFailure, 1);
    EXPECT_FALSE(p.files.writeFile(device.get(), check.data(), 6, &written));
    EXPECT_EQ(lastError(), kErrorGenFailure);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(machine.printer().received().empty());

    machine.shortenDeviceWrites(4, 1);
    EXPECT_TRUE(p.files.writeFile(device.get(), check.data(), 6, &written));
    EXPECT_EQ(written, 4u);
    ASSERT_EQ(machine.printer().received().size(), 1u);
    EXPECT_EQ(machine.printer().received()[0].length, 4u);
    EXPECT_EQ(machine.printer().received()[0].kind, WireMessage::Kind::Unknown);

    EXPECT_TRUE(p.files.writeFile(device.get(), check.data(), 6, &written));
    EXPECT_EQ(written, 6u);
}

TEST_F(SimMachine, ADeviceWithoutPrinterTakesWritesAndNeverAnswers) {
    const std::u16string path = u"\\\\?\\usb#vid_0fe6&pid_811e#mute#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    machine.setUsbInterfaces({{path, nullptr}});
    const Bytes check{0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02};
    UniqueFile device(p.files, p.files.createFile(path.c_str(), kReadWrite, 0, kOpenExisting, kFileFlagOverlapped));
    ASSERT_TRUE(device.valid());
    std::uint32_t count = 0;
    EXPECT_TRUE(p.files.writeFile(device.get(), check.data(), 6, &count));
    Bytes buffer(64, 0);
    Overlapped ov{};
    EXPECT_FALSE(p.files.readFile(device.get(), buffer.data(), 64, &count, &ov));
    EXPECT_EQ(p.clock.waitForSingleObject(device.get(), 1000), kWaitTimeout);
    EXPECT_TRUE(p.files.cancelIo(device.get()));
}

TEST_F(SimMachine, OneExchangeIsJournalledAndReleasesEverything) {
    send({0x1F, 0x1B, 0x1A, 0x01, 0x01, 0x02});
    ASSERT_TRUE(receive());
    auto path = std::string(Machine::defaultPrinterPath.begin(), Machine::defaultPrinterPath.end());
    EXPECT_THAT(machine.journal(),
                ElementsAre("CreateFileW " + path + " -> 0", "WriteFile 6/6", "CloseHandle",
                            "CreateFileW " + path + " -> 0", "ReadFile pending", "WaitForSingleObject 1000 -> 0",
                            "GetOverlappedResult 4", "CloseHandle"));
    EXPECT_TRUE(machine.openResources().none());
}

// ---- The printer ----

class SimPrinterAnswers : public ::testing::Test {
protected:
    SimPrinter printer;

    std::optional<Bytes> answerTo(const Bytes& message, std::uint64_t nowMs = 0) {
        printer.onWrite(message.data(), message.size(), nowMs);
        auto& pending = printer.pendingReply();
        if (!pending) return std::nullopt;
        return pending->bytes;
    }
};

TEST_F(SimPrinterAnswers, QueriesAreAnsweredWithThePrintersFacts) {
    printer.type = "HX-352";
    printer.serialNumber = "SN7";
    printer.firmwareVersion = "V1.0";
    printer.status = 3;
    printer.printedLength = 0x01020304;
    printer.badDotCount = 0x1234;
    struct Case {
        const char* name;
        Bytes command;
        std::optional<Bytes> reply;
    };
    const Case cases[] = {
        {"connection check", frame(1, {0x02}), Bytes{0xFF, 0xFF, 0xFF, 0xF0}},
        {"type", frame(4, {0x00}), frame(4, {0x00, 'H', 'X', '-', '3', '5', '2', 0x00})},
        {"status", frame(4, {0x01}), frame(4, {0x01, 0x03, 0x00, 0x00, 0x00})},
        {"serial number", frame(4, {0x02}), frame(4, {0x02, 'S', 'N', '7', 0x00})},
        {"firmware version", frame(4, {0x03}), frame(4, {0x03, 'V', '1', '.', '0', 0x00})},
        {"printed length", frame(4, {0x04}), frame(4, {0x04, 0x04, 0x03, 0x02, 0x01})},
        {"bad dot count", frame(3, {0x03}), frame(3, {0x03, 0x34, 0x12, 0x00, 0x00})},
        {"unknown query", frame(4, {0x09}), std::nullopt},
        {"self-test command", frame(3, {0x01}), std::nullopt},
        {"unknown group", frame(9, {0x00}), std::nullopt},
        {"frame with a wrong count", Bytes{0x1F, 0x1B, 0x1A, 0x04, 0x02, 0x01}, std::nullopt},
        {"stray bytes", Bytes{0x00, 0x01, 0x02}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(answerTo(c.command), c.reply) << c.name;
    }
}

TEST_F(SimPrinterAnswers, ANegativeStatusTravelsAsItsTwosComplement) {
    printer.status = -2;
    EXPECT_EQ(answerTo(frame(4, {0x01})), frame(4, {0x01, 0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(SimPrinterAnswers, ALongTextIsCutToFitTheReplyBuffer) {
    printer.firmwareVersion = std::string(100, 'v');
    auto reply = answerTo(frame(4, {0x03}));
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 64u);
    EXPECT_EQ((*reply)[4], 59);
    EXPECT_EQ(reply->back(), 0x00);
    EXPECT_EQ((*reply)[62], 'v');
}

TEST_F(SimPrinterAnswers, SettingCommandsAreAcknowledgedAsTold) {
    struct Case {
        const char* name;
        Bytes command;
        std::uint8_t group;
    };
    const Case cases[] = {
        {"print settings", frame(0, Bytes(15, 0x01)), 0},
        {"factory reset", frame(1, {0x01}), 1},
        {"user-defined setting", frame(1, {0x00, 0x05}), 1},
        {"paper learning", frame(2, {0x02}), 2},
        {"dump mode", frame(3, {0x02, 0x01}), 3},
        {"location", frame(3, {0x07}), 3},
    };
    struct Behaviour {
        AckBehaviour ack;
        std::optional<std::uint8_t> lastByte;
    };
    for (auto behaviour : {Behaviour{AckBehaviour::Accept, 0x01}, Behaviour{AckBehaviour::Refuse, 0x00},
                           Behaviour{AckBehaviour::Silent, std::nullopt}}) {
        printer.settingAck = behaviour.ack;
        for (const auto& c : cases) {
            auto expected = behaviour.lastByte ? std::optional(frame(c.group, {*behaviour.lastByte})) : std::nullopt;
            EXPECT_EQ(answerTo(c.command), expected) << c.name << " ack " << static_cast<int>(behaviour.ack);
        }
    }
}

TEST_F(SimPrinterAnswers, SettingCommandsChangeThePrinter) {
    (void)answerTo(frame(1, {0x00, 0x2A}));
    (void)answerTo(frame(3, {0x02, 0x03}));
    (void)answerTo(frame(3, {0x09}));
    EXPECT_EQ(printer.userDefSetting, 0x2A);
    EXPECT_EQ(printer.dumpMode, 0x03);
    EXPECT_EQ(printer.locationSetting, 0x09);

    const Bytes written{1, 2, 0x03, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 0xFB, 0x34, 0x12};
    (void)answerTo(frame(0, written));
    PrintSettings expected{.field1 = 1, .field2 = 2, .field3 = 0x0203, .field4 = 4, .field5 = 5, .field6 = 6,
                           .field7 = 7, .field8 = 8, .field9 = 9, .field10 = 10, .field11 = 11, .field12 = -5,
                           .field13 = 0x1234};
    EXPECT_EQ(printer.settings, expected);

    (void)answerTo(frame(1, {0x01}));
    EXPECT_EQ(printer.settings, PrintSettings{});
}

TEST_F(SimPrinterAnswers, PrintSettingsComeBackInTheReplyLayout) {
    struct Case {
        std::int16_t field12;
        std::uint8_t wire;
    };
    for (auto c : {Case{-5, 0x85}, Case{5, 0x05}, Case{0, 0x00}}) {
        printer.settings = {.field1 = 1, .field2 = 2, .field3 = 0x0203, .field4 = 4, .field5 = 5, .field6 = 6,
                            .field7 = 7, .field8 = 8, .field9 = 9, .field10 = 10, .field11 = 11,
                            .field12 = c.field12, .field13 = 0x1234};
        EXPECT_EQ(answerTo(frame(5, {0x00})),
                  frame(5, {9, 1, 2, 0x03, 0x02, 4, 5, 7, 6, 8, 10, 11, c.wire, 0x34, 0x12}))
            << "field 12 = " << c.field12;
    }
}

TEST_F(SimPrinterAnswers, AnswersAreReadyAfterTheReplyDelay) {
    printer.replyDelayMs = 25;
    printer.onWrite(frame(1, {0x02}).data(), 6, 1000);
    ASSERT_TRUE(printer.pendingReply());
    EXPECT_EQ(printer.pendingReply()->readyAtMs, 1025u);
}

TEST_F(SimPrinterAnswers, OnlyTheLatestMessageIsAnswered) {
    EXPECT_TRUE(answerTo(frame(4, {0x01})));
    EXPECT_EQ(answerTo(frame(1, {0x02})), (Bytes{0xFF, 0xFF, 0xFF, 0xF0}));
    EXPECT_EQ(answerTo(frame(3, {0x01})), std::nullopt);
}

TEST_F(SimPrinterAnswers, ScriptedRepliesStandInForTheNextAnswersInOrder) {
    printer.scriptReply({.bytes = {0xAA}, .delayMs = 5});
    printer.scriptReply(noReply());
    const Bytes settings = frame(1, {0x00, 0x11});
    printer.onWrite(settings.data(), settings.size(), 100);
    ASSERT_TRUE(printer.pendingReply());
    EXPECT_EQ(printer.pendingReply()->bytes, Bytes{0xAA});
    EXPECT_EQ(printer.pendingReply()->readyAtMs, 105u);
    EXPECT_EQ(printer.userDefSetting, 0x11);
    EXPECT_EQ(answerTo(frame(1, {0x02})), std::nullopt);
    EXPECT_EQ(answerTo(frame(1, {0x02})), (Bytes{0xFF, 0xFF, 0xFF, 0xF0}));
}

TEST_F(SimPrinterAnswers, FirmwareDownloadsAreParsedAndAcknowledged) {
    const Bytes download{0x1F, 0x75, 0x00, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC};
    struct Case {
        AckBehaviour ack;
        Bytes message;
        std::optional<Bytes> reply;
    };
    const Case cases[] = {
        {AckBehaviour::Accept, download, Bytes{0x1F, 0x75, 0x01, 0x01, 0x01}},
        {AckBehaviour::Refuse, download, Bytes{0x1F, 0x75, 0x01, 0x01, 0x00}},
        {AckBehaviour::Silent, download, std::nullopt},
        {AckBehaviour::Accept, Bytes(download.begin(), download.end() - 1), Bytes{0x1F, 0x75, 0x01, 0x01, 0x00}},
    };
    for (const auto& c : cases) {
        printer.firmwareAck = c.ack;
        EXPECT_EQ(answerTo(c.message), c.reply) << "ack " << static_cast<int>(c.ack) << " length " << c.message.size();
        const auto& received = printer.received().back();
        EXPECT_EQ(received.kind, WireMessage::Kind::FirmwareDownload);
        EXPECT_EQ(received.declaredSize, 3u);
        EXPECT_EQ(received.imageLength, c.message.size() - 6);
    }
}

TEST_F(SimPrinterAnswers, LabelJobsAreSplitIntoLinesWithoutTheRaster) {
    const Bytes raster{0x0D, 0x0A, 0xFF, 0x00, 0x0D, 0x0A};  // 2 bytes by 3 rows, line ends included
    auto job = bytesOf("SIZE 60mm,40mm\r\nCLS\r\nBITMAP 0,0,2,3,1,") + raster + bytesOf("\r\nPRINT 1,1\r\n");
    EXPECT_EQ(answerTo(job), std::nullopt);
    const auto& received = printer.received().back();
    EXPECT_EQ(received.kind, WireMessage::Kind::LabelJob);
    EXPECT_THAT(received.jobLines, ElementsAre("SIZE 60mm,40mm", "CLS", "BITMAP 0,0,2,3,1,", "PRINT 1,1"));
}

TEST_F(SimPrinterAnswers, LargePayloadsAreKeptOnlyWhenAskedFor) {
    printer.keepPayloads = false;
    const Bytes small(4096, 0x55), large(4097, 0x55);
    (void)answerTo(small);
    (void)answerTo(large);
    ASSERT_EQ(printer.received().size(), 2u);
    EXPECT_EQ(printer.received()[0].bytes.size(), 4096u);
    EXPECT_TRUE(printer.received()[1].bytes.empty());
    EXPECT_EQ(printer.received()[1].length, 4097u);
    printer.clearReceived();
    EXPECT_TRUE(printer.received().empty());
}

// ---- Files on drive C and on the host ----

TEST_F(SimMachine, DriveCPathsMapUnderTheDriveWithoutRegardToCase) {
    auto expected = machine.driveC() / "Windows" / "System32" / "spool" / "drivers" / "x64";
    EXPECT_TRUE(std::filesystem::is_directory(expected));
    for (auto path : {u"C:\\Windows\\System32\\spool\\drivers\\x64", u"c:\\WINDOWS\\system32\\SPOOL\\Drivers\\X64",
                      u"C:/Windows/System32/spool/drivers/x64/"}) {
        EXPECT_EQ(machine.hostPath(path), expected) << std::filesystem::path(path).string();
    }
    EXPECT_EQ(machine.hostPath(u"/tmp/firmware.bin"), std::filesystem::path("/tmp/firmware.bin"));
}

TEST_F(SimMachine, FilesAreWrittenReadAndMeasured) {
    const std::u16string path = u"C:\\Windows\\Temp.bin";
    UniqueFile out(p.files, p.files.createFile(path.c_str(), kGenericWrite, 0, kCreateNew, kFileAttributeNormal));
    ASSERT_TRUE(out.valid());
    EXPECT_EQ(machine.openResources().fileHandles, 1);
    std::uint32_t count = 0;
    ASSERT_TRUE(p.files.writeFile(out.get(), "hello", 5, &count));
    EXPECT_EQ(count, 5u);
    out.reset();
    EXPECT_EQ(readHostFile(machine.driveC() / "Windows" / "Temp.bin"), "hello");

    UniqueFile in(p.files,
                  p.files.createFile(u"c:\\windows\\temp.BIN", kGenericRead, kFileShareRead, kOpenExisting, 0));
    ASSERT_TRUE(in.valid());
    std::int64_t size = 0;
    ASSERT_TRUE(p.files.getFileSize(in.get(), &size));
    EXPECT_EQ(size, 5);
    char buffer[8] = {};
    ASSERT_TRUE(p.files.readFile(in.get(), buffer, 8, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "hello");
    ASSERT_TRUE(p.files.readFile(in.get(), buffer, 8, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(p.files.writeFile(in.get(), "x", 1, &count));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
}

TEST_F(SimMachine, HostPathsAreUsedAsTheyStand) {
    auto host = machine.driveC().parent_path() / (machine.driveC().filename().string() + "-firmware.bin");
    std::ofstream(host, std::ios::binary) << "\xAA\xBB\xCC";
    auto windowsPath = std::u16string(host.u16string());
    UniqueFile file(p.files, p.files.createFile(windowsPath.c_str(), kGenericRead, kFileShareRead, kOpenExisting, 0));
    ASSERT_TRUE(file.valid());
    std::int64_t size = 0;
    EXPECT_TRUE(p.files.getFileSize(file.get(), &size));
    EXPECT_EQ(size, 3);
    file.reset();
    std::filesystem::remove(host);
}

TEST_F(SimMachine, CreationDispositionsActAsOnWindows) {
    struct Case {
        const char* name;
        const char16_t* path;
        bool exists;
        std::uint32_t disposition;
        std::uint32_t error;          // 0: the open succeeds
        std::uint32_t lastErrorAfter; // on success
        const char* contentAfter;     // on success
    };
    const Case cases[] = {
        {"open existing, missing", u"C:\\f.txt", false, kOpenExisting, kErrorFileNotFound, 0, nullptr},
        {"open existing, missing directory", u"C:\\nowhere\\f.txt", false, kOpenExisting, kErrorPathNotFound, 0,
         nullptr},
        {"create always, missing directory", u"C:\\nowhere\\f.txt", false, kCreateAlways, kErrorPathNotFound, 0,
         nullptr},
        {"open existing", u"C:\\f.txt", true, kOpenExisting, 0, 0, "old"},
        {"create new, present", u"C:\\f.txt", true, kCreateNew, 80, 0, nullptr},
        {"create new", u"C:\\f.txt", false, kCreateNew, 0, 0, ""},
        {"create always, present", u"C:\\f.txt", true, kCreateAlways, 0, 183, ""},
        {"create always", u"C:\\f.txt", false, kCreateAlways, 0, 0, ""},
        {"open always, present", u"C:\\f.txt", true, kOpenAlways, 0, 183, "old"},
        {"open always", u"C:\\f.txt", false, kOpenAlways, 0, 0, ""},
        {"a directory", u"C:\\Windows", true, kOpenExisting, kErrorAccessDenied, 0, nullptr},
    };
    for (const auto& c : cases) {
        auto host = machine.hostPath(c.path);
        if (!std::filesystem::is_directory(host)) {
            std::filesystem::remove(host);
            if (c.exists) std::ofstream(host) << "old";
        }
        p.lastError.setLastError(0);
        UniqueFile file(p.files, p.files.createFile(c.path, kReadWrite, 0, c.disposition, kFileAttributeNormal));
        EXPECT_EQ(file.valid(), c.error == 0) << c.name;
        EXPECT_EQ(lastError(), c.error ? c.error : c.lastErrorAfter) << c.name;
        if (c.contentAfter) {
            EXPECT_EQ(readHostFile(host), c.contentAfter) << c.name;
        }
    }
}

TEST_F(SimMachine, AFileHeldElsewhereIsBusyForTheGivenOpens) {
    machine.setLockFilePresent(true);
    auto path = machine.lockFilePath();
    auto open = [&] {
        UniqueFile file(p.files, p.files.createFile(path.c_str(), kReadWrite, 0, kOpenExisting, 0));
        return file.valid() ? 0u : lastError();
    };
    machine.holdFileElsewhere(path, 2);
    EXPECT_EQ(open(), kErrorSharingViolation);
    EXPECT_EQ(open(), kErrorSharingViolation);
    EXPECT_EQ(open(), 0u);
    machine.holdFileElsewhere(u"c:\\WINDOWS\\system32\\spool\\DRIVERS\\x64\\HX352-USB-LOCK.TXT", -1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(open(), kErrorSharingViolation);
}

TEST_F(SimMachine, LockFileOpensAreRecordedWithTimeAndError) {
    auto path = machine.lockFilePath();
    auto open = [&] {
        UniqueFile file(p.files, p.files.createFile(path.c_str(), kReadWrite, 0, kOpenExisting,
                                                    kFileFlagSequentialScan | kFileAttributeNormal));
    };
    EXPECT_FALSE(std::filesystem::exists(machine.hostPath(path)));
    open();
    machine.setLockFilePresent(true);
    EXPECT_TRUE(std::filesystem::exists(machine.driveC() / "Windows/System32/spool/drivers/x64/hx352-usb-lock.txt"));
    p.clock.sleep(100);
    open();
    machine.holdFileElsewhere(path, 1);
    p.clock.sleep(100);
    open();
    UniqueFile other(p.files, p.files.createFile(u"C:\\other.txt", kReadWrite, 0, kCreateAlways, 0));
    machine.setLockFilePresent(false);
    EXPECT_FALSE(std::filesystem::exists(machine.hostPath(path)));

    std::vector<std::pair<std::uint64_t, std::uint32_t>> attempts;
    for (auto a : machine.lockAttempts()) attempts.emplace_back(a.atMs, a.error);
    EXPECT_THAT(attempts, ElementsAre(std::pair<std::uint64_t, std::uint32_t>{0, kErrorFileNotFound},
                                      std::pair<std::uint64_t, std::uint32_t>{100, 0},
                                      std::pair<std::uint64_t, std::uint32_t>{200, kErrorSharingViolation}));
}

TEST_F(SimMachine, ClosingTwiceFails) {
    Handle file = p.files.createFile(u"C:\\a.txt", kReadWrite, 0, kCreateAlways, 0);
    ASSERT_NE(file, kInvalidHandle);
    EXPECT_TRUE(p.files.closeHandle(file));
    EXPECT_FALSE(p.files.closeHandle(file));
    EXPECT_EQ(lastError(), kErrorInvalidHandle);
    EXPECT_TRUE(machine.openResources().none());
}

// ---- Spooler ----

TEST_F(SimMachine, DriverDirectoriesFollowTheEnvironment) {
    struct Case {
        const char16_t* environment;
        std::u16string directory;  // empty: no such environment
    };
    const Case cases[] = {
        {u"Windows x64", u"C:\\Windows\\System32\\spool\\drivers\\x64"},
        {u"Windows NT x86", u"C:\\Windows\\System32\\spool\\drivers\\W32X86"},
        {u"Windows IA64", u""},
    };
    for (const auto& c : cases) {
        std::uint32_t needed = 0;
        bool sized = p.spooler.getPrinterDriverDirectory(nullptr, c.environment, 1, nullptr, 0, &needed);
        EXPECT_FALSE(sized);
        if (c.directory.empty()) {
            EXPECT_EQ(lastError(), 1805u);
            continue;
        }
        EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
        ASSERT_EQ(needed, (c.directory.size() + 1) * 2);
        std::vector<char16_t> buffer(needed / 2, u'#');
        auto* bytes = reinterpret_cast<std::uint8_t*>(buffer.data());
        EXPECT_FALSE(p.spooler.getPrinterDriverDirectory(nullptr, c.environment, 1, bytes, needed - 2, &needed));
        EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
        ASSERT_TRUE(p.spooler.getPrinterDriverDirectory(nullptr, c.environment, 1, bytes, needed, &needed));
        EXPECT_EQ(std::u16string(buffer.data()), c.directory);
        EXPECT_TRUE(std::filesystem::is_directory(machine.hostPath(c.directory)));
    }
}

TEST_F(SimMachine, DriverDirectoryFaultsFailSizeQueryAndFill) {
    machine.failDriverDirectory(kErrorAccessDenied, 2);
    std::uint32_t needed = 77;
    EXPECT_FALSE(p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, nullptr, 0, &needed));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_EQ(needed, 0u);
    std::vector<std::uint8_t> buffer(512);
    EXPECT_FALSE(p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, buffer.data(), 512, &needed));
    EXPECT_EQ(lastError(), kErrorAccessDenied);
    EXPECT_TRUE(p.spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, buffer.data(), 512, &needed));
}

// ---- System facts, heap, resources ----

TEST_F(SimMachine, SystemInformationReportsTheMachinesFacts) {
    machine.system() = {.nativeArchitecture = kProcessorArchitectureAmd64,
                        .processArchitecture = kProcessorArchitectureIntel,
                        .hasNativeSystemInfo = false,
                        .defaultLangId = kLangChineseSimplified};
    EXPECT_FALSE(p.system.hasNativeSystemInfo());
    EXPECT_EQ(p.system.getNativeSystemInfo().processorArchitecture, kProcessorArchitectureAmd64);
    EXPECT_EQ(p.system.getSystemInfo().processorArchitecture, kProcessorArchitectureIntel);
    EXPECT_EQ(p.system.getSystemDefaultLangId(), kLangChineseSimplified);
}

TEST_F(SimMachine, HeapBlocksAreCountedAndCanBeRefused) {
    void* zeroed = p.memory.allocate(32, true);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(zeroed), static_cast<std::uint8_t*>(zeroed) + 32), Bytes(32, 0));
    void* plain = p.memory.allocate(8, false);
    EXPECT_EQ(machine.openResources().heapBlocks, 2);
    machine.failAllocations(1);
    EXPECT_EQ(p.memory.allocate(8, true), nullptr);
    UniqueHeapBlock again(p.memory, p.memory.allocate(8, true));
    EXPECT_TRUE(again.valid());
    p.memory.release(zeroed);
    p.memory.release(plain);
    p.memory.release(nullptr);
    EXPECT_EQ(machine.openResources().heapBlocks, 1);
    again.reset();
    EXPECT_TRUE(machine.openResources().none());
}

TEST_F(SimMachine, ModuleResourcesAreFoundByModuleTypeAndId) {
    static const std::uint8_t job[] = {'S', 'I', 'Z', 'E'};
    registerModuleResource(u"SimTestModule.dll", u"BIN", 108, job);
    for (auto module : {u"SimTestModule.dll", u"simtestmodule.DLL", u"SIMTESTMODULE"}) {
        auto found = p.resources.findModuleResource(module, u"bin", 108);
        EXPECT_EQ(found.data(), job);
        EXPECT_EQ(found.size(), sizeof job);
    }
    EXPECT_TRUE(p.resources.findModuleResource(u"SimTestModule.dll", u"BIN", 109).empty());
    EXPECT_TRUE(p.resources.findModuleResource(u"Other.dll", u"BIN", 108).empty());
}

// ---- Code pages ----

struct ToWideCase {
    std::uint32_t codePage;
    std::string bytes;
    std::u16string text;
};

const ToWideCase kToWide[] = {
    {kCpUtf8, "A\xC3\xA9", u"A\u00E9"},
    {kCpUtf8, "\xE2\x82\xAC", u"\u20AC"},
    {kCpUtf8, "\xF0\x9F\x98\x80", u"\U0001F600"},
    {kCpUtf8, "a\xFF" "b", u"a\uFFFDb"},
    {kCpUtf8, "\xE2\x82", u"\uFFFD"},
    {kCpUtf8, "\xC0\x80", u"\uFFFD\uFFFD"},
    {kCpUtf8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
    {1252, "\x80\x81\x9F\xE9", u"\u20AC\u0081\u0178\u00E9"},
    {20127, "AZ~", u"AZ~"},
};

TEST_F(SimMachine, MultiByteTextConvertsToUtf16) {
    for (const auto& c : kToWide) {
        char16_t out[16] = {};
        int n = p.codePages.multiByteToWideChar(c.codePage, 0, c.bytes.data(), static_cast<int>(c.bytes.size()), out,
                                                16);
        EXPECT_EQ(std::u16string(out, n), c.text) << c.codePage << " " << c.bytes;
    }
}

struct ToMultiByteCase {
    std::uint32_t codePage;
    std::u16string text;
    std::string bytes;
};

const ToMultiByteCase kToMultiByte[] = {
    {kCpUtf8, u"A\u00E9\u20AC", "A\xC3\xA9\xE2\x82\xAC"},
    {kCpUtf8, u"\U0001F600", "\xF0\x9F\x98\x80"},
    {kCpUtf8, std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD"},
    {1252, u"\u20AC\u00E9\u0178", "\x80\xE9\x9F"},
    {1252, u"\u0100\u4E2D", "??"},
    {20127, u"A\u00E9", "A?"},
};

TEST_F(SimMachine, Utf16ConvertsToMultiByteText) {
    for (const auto& c : kToMultiByte) {
        char out[16] = {};
        int n = p.codePages.wideCharToMultiByte(c.codePage, 0, c.text.data(), static_cast<int>(c.text.size()), out,
                                                16);
        EXPECT_EQ(std::string(out, n), c.bytes) << c.codePage;
    }
}

TEST_F(SimMachine, ConversionsFollowTheWindowsLengthRules) {
    // -1 runs through the terminator and counts it.
    char16_t wide[8] = {};
    EXPECT_EQ(p.codePages.multiByteToWideChar(kCpUtf8, 0, "V1.0", -1, wide, 8), 5);
    EXPECT_EQ(std::u16string(wide), u"V1.0");
    char narrow[8] = {};
    EXPECT_EQ(p.codePages.wideCharToMultiByte(kCpUtf8, 0, u"AB", -1, narrow, 8), 3);
    EXPECT_STREQ(narrow, "AB");
    // A destination length of 0 asks for the size.
    EXPECT_EQ(p.codePages.multiByteToWideChar(kCpUtf8, 0, "\xC3\xA9\xC3\xA9", 4, nullptr, 0), 2);
    EXPECT_EQ(p.codePages.wideCharToMultiByte(kCpUtf8, 0, u"\u00E9\u00E9", 2, nullptr, 0), 4);
    // Too small a destination.
    EXPECT_EQ(p.codePages.wideCharToMultiByte(kCpUtf8, 0, u"\u00E9\u00E9", 2, narrow, 3), 0);
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(p.codePages.multiByteToWideChar(kCpUtf8, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(lastError(), kErrorInsufficientBuffer);
    // Unknown code pages and empty input.
    EXPECT_EQ(p.codePages.multiByteToWideChar(936, 0, "abc", 3, wide, 8), 0);
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
    p.lastError.setLastError(0);
    EXPECT_EQ(p.codePages.wideCharToMultiByte(kCpUtf8, 0, u"abc", 0, narrow, 8), 0);
    EXPECT_EQ(lastError(), kErrorInvalidParameter);
}

TEST_F(SimMachine, TheAnsiCodePageIsTheMachines) {
    struct Case {
        std::uint32_t ansi;
        std::u16string text;
    };
    const Case cases[] = {
        {1252, u"\u20AC\u00C1"},
        {kCpUtf8, u"\uFFFD\uFFFD"},
        {20127, std::u16string{u'\0', u'A'}},  // the upper half loses its top bit
    };
    for (const auto& c : cases) {
        machine.system().ansiCodePage = c.ansi;
        char16_t out[4] = {};
        int n = p.codePages.multiByteToWideChar(kCpAcp, 0, "\x80\xC1", 2, out, 4);
        EXPECT_EQ(std::u16string(out, n), c.text) << c.ansi;
    }
}

// ---- The machine itself ----

TEST(SimMachineLifetime, ATemporaryDriveGoesWithItsMachine) {
    std::filesystem::path drive;
    {
        Machine machine;
        drive = machine.driveC();
        EXPECT_TRUE(std::filesystem::is_directory(drive));
        machine.setLockFilePresent(true);
    }
    EXPECT_FALSE(std::filesystem::exists(drive));
}

TEST(SimMachineLifetime, AGivenDriveIsCreatedAndKept) {
    Machine scratch;
    auto drive = scratch.driveC() / "kept" / "drive";
    {
        Machine machine(drive);
        EXPECT_EQ(machine.driveC(), drive);
        machine.setLockFilePresent(true);
    }
    EXPECT_TRUE(std::filesystem::exists(drive / "Windows/System32/spool/drivers/x64/hx352-usb-lock.txt"));
    Machine again(drive);
    UniqueFile lock(again.platform().files,
                    again.platform().files.createFile(again.lockFilePath().c_str(), kReadWrite, 0, kOpenExisting, 0));
    EXPECT_TRUE(lock.valid());
}

}  // namespace
}  // namespace hx::sim
