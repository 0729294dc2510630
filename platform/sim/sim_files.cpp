// Files and devices of the simulated machine: drive C as host files held open
// by descriptor, the printer's device file with its overlapped read, and the
// Windows sharing rules between open handles.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kTruncateExisting = 5;
// NTSTATUS values Windows leaves in Overlapped::internal.
constexpr std::uintptr_t kStatusPending = 0x103;

std::string describe(const char16_t* path) { return path ? toUtf8(path) : std::string("(null)"); }

// The Windows rule: an open conflicts with an open handle when either wants an
// access the other does not share.
bool sharingConflicts(std::uint32_t access, std::uint32_t share, std::uint32_t otherAccess,
                      std::uint32_t otherShare) {
    auto reads = [](std::uint32_t a) { return (a & kGenericRead) != 0; };
    auto writes = [](std::uint32_t a) { return (a & kGenericWrite) != 0; };
    return (reads(access) && !(otherShare & kFileShareRead)) || (writes(access) && !(otherShare & kFileShareWrite)) ||
           (reads(otherAccess) && !(share & kFileShareRead)) || (writes(otherAccess) && !(share & kFileShareWrite));
}

std::uint32_t errorFromErrno(int error) {
    switch (error) {
        case ENOENT: return kErrorFileNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kErrorAccessDenied;
        case ENOSPC: return 112;  // ERROR_DISK_FULL
        case EFBIG: return kErrorFileTooLarge;
        default: return kErrorGenFailure;
    }
}

}  // namespace

platform::Handle SimFiles::createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                      std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
    if (!path || !*path) {
        m_.fail(path ? kErrorPathNotFound : kErrorInvalidParameter);
        m_.log("CreateFileW " + describe(path) + " -> " + std::to_string(m_.lastError));
        return platform::kInvalidHandle;
    }
    std::u16string windowsPath(path);
    for (const auto& device : m_.usb) {
        if (equalsIgnoreCase(device.path, windowsPath)) {
            return openDevice(windowsPath, device, access, shareMode, flagsAndAttributes);
        }
    }
    if (!m_.isDrivePath(windowsPath) && (windowsPath.starts_with(u"\\\\?\\") || windowsPath.starts_with(u"\\\\.\\"))) {
        // A device namespace name that no present device carries.
        m_.fail(kErrorFileNotFound);
        m_.log("CreateFileW " + toUtf8(windowsPath) + " -> " + std::to_string(kErrorFileNotFound));
        return platform::kInvalidHandle;
    }
    return openFile(windowsPath, access, shareMode, disposition);
}

platform::Handle SimFiles::openDevice(const std::u16string& path, const Machine::UsbInterface& device,
                                      std::uint32_t access, std::uint32_t shareMode, std::uint32_t flags) {
    auto finish = [&](std::uint32_t error, platform::Handle handle) {
        m_.log("CreateFileW " + toUtf8(path) + " -> " + std::to_string(error));
        if (error) m_.fail(error);
        return handle;
    };
    if (m_.deviceOpenFault.fire()) return finish(m_.deviceOpenFault.error, platform::kInvalidHandle);
    for (const auto& [value, object] : m_.objects) {
        const auto* other = std::get_if<DeviceHandle>(&object);
        if (other && equalsIgnoreCase(other->path, device.path) &&
            sharingConflicts(access, shareMode, other->access, other->share)) {
            return finish(kErrorSharingViolation, platform::kInvalidHandle);
        }
    }
    DeviceHandle handle;
    handle.path = device.path;
    handle.printer = device.printer;
    handle.access = access;
    handle.share = shareMode;
    handle.overlapped = (flags & kFileFlagOverlapped) != 0;
    return finish(0, m_.addObject(std::move(handle)));
}

platform::Handle SimFiles::openFile(const std::u16string& path, std::uint32_t access, std::uint32_t shareMode,
                                    std::uint32_t disposition) {
    auto host = m_.hostPath(path).lexically_normal();
    bool isLockFile = host == m_.hostPath(std::u16string(kLockFilePath)).lexically_normal();
    bool existed = false;
    auto finish = [&](std::uint32_t error, platform::Handle handle) {
        m_.log("CreateFileW " + toUtf8(path) + " -> " + std::to_string(error));
        if (isLockFile) m_.lockAttempts.push_back({m_.nowMs, error});
        if (error) {
            m_.fail(error);
        } else if (existed && (disposition == kOpenAlways || disposition == kCreateAlways)) {
            m_.fail(kErrorAlreadyExists);  // Windows reports it alongside success
        }
        return handle;
    };

    if (auto held = m_.heldElsewhere.find(host); held != m_.heldElsewhere.end() && held->second != 0) {
        if (held->second > 0) --held->second;
        return finish(kErrorSharingViolation, platform::kInvalidHandle);
    }
    if (disposition < kCreateNew || disposition > kTruncateExisting) {
        return finish(kErrorInvalidParameter, platform::kInvalidHandle);
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(host.parent_path(), ec)) {
        return finish(kErrorPathNotFound, platform::kInvalidHandle);
    }
    if (std::filesystem::is_directory(host, ec)) return finish(kErrorAccessDenied, platform::kInvalidHandle);
    existed = std::filesystem::exists(host, ec);
    if (!existed && (disposition == kOpenExisting || disposition == kTruncateExisting)) {
        return finish(kErrorFileNotFound, platform::kInvalidHandle);
    }
    if (existed && disposition == kCreateNew) return finish(kErrorFileExists, platform::kInvalidHandle);
    for (const auto& [value, object] : m_.objects) {
        const auto* other = std::get_if<FileHandle>(&object);
        if (other && other->hostPath == host && sharingConflicts(access, shareMode, other->access, other->share)) {
            return finish(kErrorSharingViolation, platform::kInvalidHandle);
        }
    }

    int flags = O_CLOEXEC;
    if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
    if (disposition == kCreateAlways) flags |= O_CREAT | O_TRUNC;
    if (disposition == kOpenAlways) flags |= O_CREAT;
    if (disposition == kTruncateExisting) flags |= O_TRUNC;
    // The descriptor is opened for both directions where the host allows it;
    // the handle's own access mask decides what the caller may do.
    int fd = ::open(host.c_str(), flags | O_RDWR, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS) && !(access & kGenericWrite) && !(flags & O_TRUNC)) {
        fd = ::open(host.c_str(), flags | O_RDONLY, 0644);
    }
    if (fd < 0) return finish(errorFromErrno(errno), platform::kInvalidHandle);
    FileHandle file;
    file.hostPath = host;
    file.fd = fd;
    file.access = access;
    file.share = shareMode;
    return finish(0, m_.addObject(std::move(file)));
}

bool SimFiles::writeFile(platform::Handle handle, const void* data, std::uint32_t length, std::uint32_t* written) {
    if (written) *written = 0;
    auto line = [&](std::uint32_t taken) {
        return "WriteFile " + std::to_string(taken) + "/" + std::to_string(length);
    };
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line(0) + " -> " + std::to_string(error));
        return false;
    };
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) return failWith(kErrorInvalidHandle);
    if (length && !data) return failWith(kErrorInvalidParameter);

    if (auto* device = std::get_if<DeviceHandle>(object)) {
        if (!(device->access & kGenericWrite)) return failWith(kErrorAccessDenied);
        if (m_.deviceWriteFault.fire()) return failWith(m_.deviceWriteFault.error);
        std::uint32_t taken = length;
        if (m_.shortWriteFault.fire()) taken = std::min(m_.shortWriteFault.value, length);
        // The device takes the bytes without consuming virtual time; only its
        // answer has a latency.
        if (device->printer) device->printer->onWrite(static_cast<const std::uint8_t*>(data), taken, m_.nowMs);
        if (written) *written = taken;
        m_.log(line(taken));
        return true;
    }

    auto& file = std::get<FileHandle>(*object);
    if (!(file.access & kGenericWrite)) return failWith(kErrorAccessDenied);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t done = 0;
    while (done < length) {
        auto n = ::write(file.fd, bytes + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            return failWith(errorFromErrno(errno));
        }
        done += static_cast<std::uint32_t>(n);
    }
    if (written) *written = done;
    m_.log(line(done));
    return true;
}

bool SimFiles::readFile(platform::Handle handle, void* buffer, std::uint32_t length, std::uint32_t* read,
                        platform::Overlapped* overlapped) {
    if (read) *read = 0;
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) {
        m_.fail(kErrorInvalidHandle);
        m_.log("ReadFile -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    if (length && !buffer) {
        m_.fail(kErrorInvalidParameter);
        m_.log("ReadFile -> " + std::to_string(kErrorInvalidParameter));
        return false;
    }
    if (auto* device = std::get_if<DeviceHandle>(object)) return readDevice(*device, buffer, length, read, overlapped);

    auto& file = std::get<FileHandle>(*object);
    if (!(file.access & kGenericRead)) {
        m_.fail(kErrorAccessDenied);
        m_.log("ReadFile -> " + std::to_string(kErrorAccessDenied));
        return false;
    }
    ssize_t n = 0;
    do {
        if (overlapped) {
            auto offset = static_cast<off_t>((std::uint64_t{overlapped->offsetHigh} << 32) | overlapped->offset);
            n = ::pread(file.fd, buffer, length, offset);
        } else {
            n = ::read(file.fd, buffer, length);
        }
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        m_.fail(errorFromErrno(errno));
        m_.log("ReadFile -> " + std::to_string(m_.lastError));
        return false;
    }
    // A plain file's read is over before the call returns, also when the
    // caller passed an Overlapped record.
    if (overlapped) {
        overlapped->internal = 0;
        overlapped->internalHigh = static_cast<std::uintptr_t>(n);
    }
    if (read) *read = static_cast<std::uint32_t>(n);
    m_.log("ReadFile " + std::to_string(n));
    return true;
}

bool SimFiles::readDevice(DeviceHandle& device, void* buffer, std::uint32_t length, std::uint32_t* read,
                          platform::Overlapped* overlapped) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("ReadFile -> " + std::to_string(error));
        return false;
    };
    if (!(device.access & kGenericRead)) return failWith(kErrorAccessDenied);
    if (device.overlapped && !overlapped) return failWith(kErrorInvalidParameter);
    // One outstanding read per handle is all the device supports.
    if (device.read) return failWith(kErrorInvalidParameter);

    platform::Overlapped synchronous{};
    auto* record = overlapped ? overlapped : &synchronous;
    record->internal = kStatusPending;
    record->internalHigh = 0;
    device.read = PendingRead{static_cast<std::uint8_t*>(buffer), length, record};
    device.outcome.reset();

    auto* pending = Machine::Impl::pendingReplyOf(device);
    bool replyComing = pending && pending->has_value();
    if (length == 0 || (replyComing && (*pending)->readyAtMs <= m_.nowMs)) {
        if (length == 0) {
            record->internal = 0;
            device.outcome = ReadOutcome{record, 0, 0};
            device.read.reset();
        } else {
            m_.completeRead(device);
        }
    } else if (!device.overlapped) {
        // A synchronous read blocks until the reply arrives; one that would
        // never arrive ends as abandoned instead of hanging the caller.
        if (!replyComing) {
            device.read.reset();
            return failWith(kErrorOperationAborted);
        }
        m_.nowMs = std::max(m_.nowMs, (*pending)->readyAtMs);
        m_.completeRead(device);
    } else {
        m_.fail(kErrorIoPending);
        m_.log("ReadFile pending");
        return false;
    }
    if (device.outcome && device.outcome->overlapped == &synchronous) device.outcome.reset();
    if (read) *read = static_cast<std::uint32_t>(record->internalHigh);
    m_.log("ReadFile " + std::to_string(record->internalHigh));
    return true;
}

bool SimFiles::getOverlappedResult(platform::Handle handle, platform::Overlapped* overlapped,
                                   std::uint32_t* transferred, bool wait) {
    if (transferred) *transferred = 0;
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("GetOverlappedResult -> " + std::to_string(error));
        return false;
    };
    auto succeed = [&](std::uint32_t count) {
        if (transferred) *transferred = count;
        m_.log("GetOverlappedResult " + std::to_string(count));
        return true;
    };
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) return failWith(kErrorInvalidHandle);
    if (!overlapped) return failWith(kErrorInvalidParameter);

    if (auto* device = std::get_if<DeviceHandle>(object)) {
        if (device->read && device->read->overlapped == overlapped) {
            auto* pending = Machine::Impl::pendingReplyOf(*device);
            if (wait) {
                bool nothingComing = false;
                if (!m_.waitForRead(*device, 0xFFFFFFFFu, &nothingComing)) {
                    // Waiting for a reply that never comes would hang; the read
                    // is reported as abandoned and stays outstanding.
                    return failWith(kErrorOperationAborted);
                }
            } else if (pending && pending->has_value() && (*pending)->readyAtMs <= m_.nowMs) {
                m_.completeRead(*device);
            } else {
                return failWith(kErrorIoIncomplete);
            }
        }
        if (device->outcome && device->outcome->overlapped == overlapped) {
            if (device->outcome->error) return failWith(device->outcome->error);
            return succeed(device->outcome->count);
        }
    }
    // A read this handle no longer tracks: its record tells the outcome.
    if (overlapped->internal == kStatusPending) return failWith(kErrorIoIncomplete);
    return succeed(static_cast<std::uint32_t>(overlapped->internalHigh));
}

bool SimFiles::cancelIo(platform::Handle handle) {
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) {
        m_.fail(kErrorInvalidHandle);
        m_.log("CancelIo -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    if (auto* device = std::get_if<DeviceHandle>(object); device && device->read) {
        // The caller's buffer and record are left alone from here on; the
        // outcome is remembered for GetOverlappedResult.
        device->outcome = ReadOutcome{device->read->overlapped, 0, kErrorOperationAborted};
        device->read.reset();
    }
    m_.log("CancelIo");
    return true;
}

bool SimFiles::getFileSize(platform::Handle handle, std::int64_t* size) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("GetFileSizeEx -> " + std::to_string(error));
        return false;
    };
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) return failWith(kErrorInvalidHandle);
    if (!size) return failWith(kErrorInvalidParameter);
    auto* file = std::get_if<FileHandle>(object);
    if (!file) return failWith(kErrorInvalidFunction);
    struct stat info {};
    if (::fstat(file->fd, &info) != 0) return failWith(errorFromErrno(errno));
    *size = info.st_size;
    m_.log("GetFileSizeEx " + std::to_string(info.st_size));
    return true;
}

bool SimFiles::closeHandle(platform::Handle handle) {
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) {
        m_.fail(kErrorInvalidHandle);
        m_.log("CloseHandle -> " + std::to_string(kErrorInvalidHandle));
        return false;
    }
    // An outstanding read dies with its handle without touching the caller's
    // buffer.
    if (auto* file = std::get_if<FileHandle>(object)) ::close(file->fd);
    m_.closeObject(handle);
    m_.log("CloseHandle");
    return true;
}

}  // namespace hx::sim::detail
