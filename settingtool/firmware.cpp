// Reads the firmware file into one buffer of header plus image and sends it.
#include "settingtool/firmware.h"

#include <span>

#include "platform/unique_handle.h"
#include "settingtool/frames.h"

namespace hx::settingtool {

using namespace hx::platform::win;

bool downloadFirmware(Session& session, const char16_t* path) {
    if (path == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    auto& files = session.platform.files;
    auto& memory = session.platform.memory;
    platform::UniqueFile file(files, files.createFile(path, kGenericRead, kFileShareRead, kOpenExisting,
                                                      kFileAttributeNormal));
    if (!file) {
        session.errors.set(HX_ERR_FILE_NOT_FIND);
        return false;
    }
    std::int64_t size = 0;
    // A size that cannot be had, or does not fit the header's 32 bits, is no
    // image this printer could take.
    if (!files.getFileSize(file.get(), &size) || size <= 0 ||
        static_cast<std::uint64_t>(size) > kMaxFirmwareImageBytes) {
        session.errors.set(HX_ERR_INVALID_FIRMWARE);
        return false;
    }
    const auto imageSize = static_cast<std::uint32_t>(size);
    const std::size_t messageSize = kFirmwareHeaderSize + imageSize;
    platform::UniqueHeapBlock message(memory, memory.allocate(messageSize, false));
    if (!message) return false;
    auto* bytes = static_cast<std::uint8_t*>(message.get());
    writeFirmwareHeader(bytes, imageSize);

    std::uint32_t read = 0;
    if (!files.readFile(file.get(), bytes + kFirmwareHeaderSize, imageSize, &read, nullptr) || read != imageSize) {
        session.errors.set(HX_ERR_INVALID_FIRMWARE);
        return false;
    }
    file.reset();
    const bool written = session.transport.usbWrite(std::span<const std::uint8_t>(bytes, messageSize));
    session.settingKind = SettingKind::Firmware;
    return written;
}

}  // namespace hx::settingtool
