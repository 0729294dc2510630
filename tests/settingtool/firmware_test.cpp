// The firmware download message, its file errors and its acknowledgement.
#include <filesystem>
#include <fstream>

#include "settingtool/firmware.h"
#include "tests/settingtool/fixture.h"

namespace hx::test {
namespace {

class FirmwareTest : public SettingToolTest {
protected:
    // A file on drive C of the simulated machine; returns its Windows path.
    std::u16string writeImage(const std::string& name, const Bytes& bytes) {
        std::ofstream(machine.driveC() / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return u"C:\\" + std::u16string(name.begin(), name.end());
    }
    static int32_t download(const std::u16string& path) {
        return BaseDownloadFirmware(reinterpret_cast<const uint16_t*>(path.c_str()));
    }
};

TEST_F(FirmwareTest, TheImageGoesBehindABigEndianSizeInOneWrite) {
    ASSERT_EQ(USBCheckConnection(), 1);
    ASSERT_EQ(download(writeImage("fw.bin", {0xAA, 0xBB, 0xCC})), 1);
    EXPECT_EQ(wire().back().bytes, (Bytes{0x1F, 0x75, 0x00, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(wire().back().kind, sim::WireMessage::Kind::FirmwareDownload);

    Bytes image(74565);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31);
    ASSERT_EQ(download(writeImage("big.bin", image)), 1);
    const auto& message = wire().back();
    ASSERT_EQ(message.bytes.size(), image.size() + 6);
    EXPECT_EQ(Bytes(message.bytes.begin(), message.bytes.begin() + 6), (Bytes{0x1F, 0x75, 0x00, 0x01, 0x23, 0x45}));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), message.bytes.begin() + 6));
}

TEST_F(FirmwareTest, FileErrorsSendNothing) {
    ASSERT_EQ(USBCheckConnection(), 1);
    printer().clearReceived();
    struct Case {
        const char* name;
        std::u16string path;
        HXError error;
    };
    const Case cases[] = {
        {"missing file", u"C:\\no-such-firmware.bin", HX_ERR_FILE_NOT_FIND},
        {"missing folder", u"C:\\no-such-folder\\fw.bin", HX_ERR_FILE_NOT_FIND},
        {"empty file", writeImage("empty.bin", {}), HX_ERR_INVALID_FIRMWARE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(download(c.path), 0) << c.name;
        EXPECT_EQ(BaseGetHXError(), c.error) << c.name;
    }
    EXPECT_EQ(BaseDownloadFirmware(nullptr), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_PARAM);
    EXPECT_TRUE(wire().empty());
}

TEST_F(FirmwareTest, AnImageTooLargeForTheSizeFieldIsRefusedUnread) {
    ASSERT_EQ(USBCheckConnection(), 1);
    printer().clearReceived();
    struct Case {
        std::uint64_t size;
        bool refused;
    };
    // Sparse files: nothing is really written or read.
    for (const Case c : {Case{settingtool::kMaxFirmwareImageBytes + 1, true}, Case{0x100000000ull, true},
                         Case{0x200000000ull, true}}) {
        const auto path = machine.driveC() / "huge.bin";
        std::ofstream(path).close();
        std::filesystem::resize_file(path, c.size);
        EXPECT_EQ(download(u"C:\\huge.bin"), 0) << c.size;
        EXPECT_EQ(BaseGetHXError(), HX_ERR_INVALID_FIRMWARE);
        std::filesystem::remove(path);
    }
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(machine.openResources().heapBlocks, 0);
}

TEST_F(FirmwareTest, NoBufferMeansNoDownloadAndNoNewErrorCode) {
    ASSERT_EQ(USBCheckConnection(), 1);
    const auto path = writeImage("fw.bin", {1, 2, 3});
    EXPECT_EQ(download(u"C:\\missing.bin"), 0);
    machine.failAllocations(1);
    EXPECT_EQ(download(path), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_FILE_NOT_FIND);
}

TEST_F(FirmwareTest, WithoutAnEarlierCallThePrinterIsNotFoundAndTheKindIsStillSet) {
    const auto path = writeImage("fw.bin", {1, 2, 3});
    EXPECT_EQ(download(path), 0);
    EXPECT_EQ(BaseGetHXError(), HX_ERR_CANNOT_OPEN_USB_PRINTER);
    EXPECT_TRUE(wire().empty());
    EXPECT_EQ(session().settingKind, settingtool::SettingKind::Firmware);
}

TEST_F(FirmwareTest, TheAcknowledgementTellsWhetherThePrinterTookIt) {
    ASSERT_EQ(USBCheckConnection(), 1);
    const auto path = writeImage("fw.bin", {1, 2, 3});
    struct Case {
        sim::AckBehaviour behaviour;
        int32_t result;
    };
    for (const Case c : {Case{sim::AckBehaviour::Accept, 1}, Case{sim::AckBehaviour::Refuse, 0}}) {
        printer().firmwareAck = c.behaviour;
        ASSERT_EQ(download(path), 1);
        EXPECT_EQ(GetSettingResult(), c.result);
    }
    // A setting's own acknowledgement is not the firmware's.
    reply({0x1F, 0x1B, 0x1A, 1, 1, 1});
    ASSERT_EQ(download(path), 1);
    EXPECT_EQ(GetSettingResult(), 0);
}

TEST_F(FirmwareTest, HostPathsWork) {
    ASSERT_EQ(USBCheckConnection(), 1);
    const auto hostFile = machine.driveC() / "host.bin";
    std::ofstream(hostFile, std::ios::binary) << "XYZ";
    const std::string text = hostFile.string();
    EXPECT_EQ(download(std::u16string(text.begin(), text.end())), 1);
    EXPECT_EQ(wire().back().bytes, (Bytes{0x1F, 0x75, 0, 0, 0, 3, 'X', 'Y', 'Z'}));
}

}  // namespace
}  // namespace hx::test
