// Files and devices of the simulated machine: drive C as host files held open
// by descriptor, the printer's and the serial ports' device files, the Windows
// sharing rules between open handles, directory searches, paths as a process
// sees them (current directory, WOW64 redirection) and C runtime streams.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kTruncateExisting = 5;
constexpr std::uint32_t kFileShareDelete = 0x4;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kFileAttributeArchive = 0x20;
// NTSTATUS values Windows leaves in Overlapped::internal.
constexpr std::uintptr_t kStatusPending = 0x103;

std::string describe(const char16_t* path) { return path ? toUtf8(path) : std::string("(null)"); }
std::string describe(const char* path) { return path ? std::string(path) : std::string("(null)"); }

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

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


// "\\.\COM1" (or the bare "COM1") names the serial port COM1 when the machine has it.
const SimSerialPort* serialPortNamed(const Machine::Impl& machine, std::u16string_view path) {
    if (path.size() > 4 && equalsIgnoreCase(path.substr(0, 4), u"\\\\.\\")) path.remove_prefix(4);
    for (const auto& port : machine.serialPorts) {
        if (equalsIgnoreCase(port.name, path)) return &port;
    }
    return nullptr;
}

// The DOS rule Windows keeps: a name without an extension also matches as if
// it ended in a dot, so "*.*" finds every file and "*." those without one.
bool nameMatches(std::u16string_view pattern, const std::u16string& name) {
    if (wildcardMatch(pattern, name)) return true;
    return name.find(u'.') == std::u16string::npos && wildcardMatch(pattern, name + u'.');
}

// NTFS keeps a directory sorted by the upper-cased names.
bool ntfsOrder(const platform::FindData& a, const platform::FindData& b) {
    return upperAscii(a.fileName) < upperAscii(b.fileName);
}

template <std::size_t N>
void copyName(char16_t (&out)[N], std::u16string_view name) {
    auto count = std::min(name.size(), N - 1);
    std::copy_n(name.begin(), count, out);
    out[count] = 0;
}

// Where an absent path fails: the missing file itself (2) or a directory on
// the way to it (3).
std::uint32_t missingError(const std::filesystem::path& host) {
    std::error_code ec;
    return std::filesystem::is_directory(host.parent_path(), ec) ? kErrorFileNotFound : kErrorPathNotFound;
}

// One open of `host` by another party, as Machine::holdFileElsewhere arranged.
bool takeHeldElsewhere(Machine::Impl& machine, const std::filesystem::path& host) {
    auto held = machine.heldElsewhere.find(host);
    if (held == machine.heldElsewhere.end() || held->second == 0) return false;
    if (held->second > 0) --held->second;
    return true;
}

// Whether a handle of this process holds `host` open without granting `share`.
bool heldWithoutSharing(const Machine::Impl& machine, const std::filesystem::path& host, std::uint32_t share) {
    for (const auto& [value, object] : machine.objects) {
        const auto* file = std::get_if<FileHandle>(&object);
        if (file && file->hostPath == host && !(file->share & share)) return true;
    }
    return false;
}

// The path of a C runtime call: ANSI text in the system's code page.
std::optional<std::u16string> widenAnsi(platform::CodePages& codePages, const char* path) {
    int units = codePages.multiByteToWideChar(kCpAcp, 0, path, -1, nullptr, 0);
    if (units <= 0) return std::nullopt;
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    if (codePages.multiByteToWideChar(kCpAcp, 0, path, -1, wide.data(), units) != units) return std::nullopt;
    wide.pop_back();
    return wide;
}

// A stream in the C runtime's text mode: CR LF reads as LF, CTRL+Z ends the
// input, LF is written as CR LF. Positions are the file's byte offsets, as
// fseek and fgetpos report them on Windows.
struct TextStream {
    int fd = -1;
    bool pendingCr = false;  // a CR ended the last read; the next byte decides
    bool atCtrlZ = false;
};

ssize_t textRead(void* cookie, char* buffer, std::size_t size) {
    auto& stream = *static_cast<TextStream*>(cookie);
    if (stream.atCtrlZ || size == 0) return 0;
    if (stream.pendingCr) {
        stream.pendingCr = false;
        char next = 0;
        ssize_t got = ::read(stream.fd, &next, 1);
        if (got < 0) return -1;
        if (got == 1 && next == '\n') {
            buffer[0] = '\n';
            return 1;
        }
        if (got == 1) ::lseek(stream.fd, -1, SEEK_CUR);
        buffer[0] = '\r';
        return 1;
    }
    ssize_t got = 0;
    do {
        got = ::read(stream.fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return got;
    char* end = buffer + got;
    if (auto* ctrlZ = static_cast<char*>(std::memchr(buffer, 0x1A, static_cast<std::size_t>(got)))) {
        end = ctrlZ;
        stream.atCtrlZ = true;
    }
    char* out = buffer;
    char* in = buffer;
    while (in < end) {
        auto* cr = static_cast<char*>(std::memchr(in, '\r', static_cast<std::size_t>(end - in)));
        char* stop = cr ? cr : end;
        if (out != in) std::memmove(out, in, static_cast<std::size_t>(stop - in));
        out += stop - in;
        in = stop;
        if (!cr) break;
        if (cr + 1 < end) {
            *out++ = cr[1] == '\n' ? '\n' : '\r';
            in = cr[1] == '\n' ? cr + 2 : cr + 1;
        } else if (stream.atCtrlZ) {
            *out++ = '\r';
            in = end;
        } else {
            stream.pendingCr = true;
            in = end;
        }
    }
    // Returning nothing would read as the end of the file; a lone CR at the
    // end of the block is settled by the next byte first.
    if (out == buffer && stream.pendingCr) return textRead(cookie, buffer, size);
    return out - buffer;
}

ssize_t textWrite(void* cookie, const char* data, std::size_t size) {
    auto& stream = *static_cast<TextStream*>(cookie);
    std::string translated;
    translated.reserve(size + size / 16);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') translated += '\r';
        translated += data[i];
    }
    std::size_t done = 0;
    while (done < translated.size()) {
        ssize_t n = ::write(stream.fd, translated.data() + done, translated.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done ? static_cast<ssize_t>(size) : -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

int textSeek(void* cookie, off64_t* position, int whence) {
    auto& stream = *static_cast<TextStream*>(cookie);
    off64_t result = ::lseek64(stream.fd, *position, whence);
    if (result < 0) return -1;
    stream.pendingCr = false;
    stream.atCtrlZ = false;
    *position = result;
    return 0;
}

int textClose(void* cookie) {
    auto* stream = static_cast<TextStream*>(cookie);
    int result = ::close(stream->fd);
    delete stream;
    return result;
}

struct StreamMode {
    int flags = 0;
    bool writes = false;
    bool text = true;
    std::string hostMode;  // the same access for the host's stream functions
};

// fopen's mode: "r", "w" or "a", then any of "+", "b", "t" (other letters are
// hints the simulation ignores).
std::optional<StreamMode> parseStreamMode(const char* mode) {
    if (!mode || !*mode) return std::nullopt;
    StreamMode result;
    bool plus = std::strchr(mode + 1, '+') != nullptr;
    switch (mode[0]) {
        case 'r': result.flags = plus ? O_RDWR : O_RDONLY; break;
        case 'w': result.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
        case 'a': result.flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
        default: return std::nullopt;
    }
    result.writes = plus || mode[0] != 'r';
    result.text = std::strchr(mode + 1, 'b') == nullptr;
    result.hostMode = std::string(1, mode[0]) + (plus ? "+" : "");
    return result;
}

// Whether `host` lies inside `root`, symbolic links followed.
bool insideDirectory(const std::filesystem::path& host, const std::filesystem::path& root) {
    std::error_code ec;
    auto resolved = std::filesystem::weakly_canonical(host, ec);
    if (ec) return false;
    auto base = std::filesystem::weakly_canonical(root, ec);
    if (ec) return false;
    auto [rootEnd, unused] = std::mismatch(base.begin(), base.end(), resolved.begin(), resolved.end());
    return rootEnd == base.end();
}

}  // namespace

platform::Handle SimFiles::createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                      std::uint32_t disposition, std::uint32_t flagsAndAttributes) {
    auto fault = m_.injectedFault("CreateFileW");
    if (!path || !*path || fault) {
        m_.fail(fault ? *fault : path ? kErrorPathNotFound : kErrorInvalidParameter);
        m_.log("CreateFileW " + describe(path) + " -> " + std::to_string(m_.lastError));
        return platform::kInvalidHandle;
    }
    std::u16string windowsPath(path);
    for (const auto& device : m_.usb) {
        if (equalsIgnoreCase(device.path, windowsPath)) {
            return openDevice(windowsPath, device, access, shareMode, flagsAndAttributes);
        }
    }
    if (const auto* port = serialPortNamed(m_, windowsPath)) {
        return openSerialPort(windowsPath, *port, access, shareMode);
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

platform::Handle SimFiles::openSerialPort(const std::u16string& path, const SimSerialPort& port,
                                          std::uint32_t access, std::uint32_t shareMode) {
    auto finish = [&](std::uint32_t error, platform::Handle handle) {
        m_.log("CreateFileW " + toUtf8(path) + " -> " + std::to_string(error));
        if (error) m_.fail(error);
        return handle;
    };
    // A communications port admits one open handle at a time, whatever the
    // sharing asked for.
    for (const auto& [value, object] : m_.objects) {
        const auto* other = std::get_if<DeviceHandle>(&object);
        if (other && equalsIgnoreCase(other->serialPort, port.name)) {
            return finish(kErrorAccessDenied, platform::kInvalidHandle);
        }
    }
    DeviceHandle handle;
    handle.path = path;
    handle.access = access;
    handle.share = shareMode;
    handle.serialPort = port.name;
    return finish(0, m_.addObject(std::move(handle)));
}

platform::Handle SimFiles::openFile(const std::u16string& path, std::uint32_t access, std::uint32_t shareMode,
                                    std::uint32_t disposition) {
    auto host = m_.processPath(path).lexically_normal();
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
    if (auto fault = m_.injectedFault("WriteFile")) return failWith(*fault);
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
    if (auto fault = m_.injectedFault("ReadFile")) {
        m_.fail(*fault);
        m_.log("ReadFile -> " + std::to_string(*fault));
        return false;
    }
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
    if (auto fault = m_.injectedFault("GetFileSizeEx")) return failWith(*fault);
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
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("CloseHandle -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("CloseHandle")) return failWith(*fault);
    auto* object = m_.find(handle);
    if (!object || std::holds_alternative<DeviceInfoSet>(*object)) return failWith(kErrorInvalidHandle);
    // An outstanding read dies with its handle without touching the caller's
    // buffer.
    if (auto* file = std::get_if<FileHandle>(object)) ::close(file->fd);
    m_.closeObject(handle);
    m_.log("CloseHandle");
    return true;
}

bool wildcardMatch(std::u16string_view pattern, std::u16string_view name) {
    std::size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || foldAscii(pattern[p]) == foldAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace hx::sim::detail

namespace hx::sim::detail {

bool SimFiles::copyFile(const char16_t* source, const char16_t* target, bool failIfExists) {
    std::string line = "CopyFileW " + describe(source) + " " + describe(target);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("CopyFileW")) return failWith(*fault);
    if (!source || !target) return failWith(kErrorInvalidParameter);
    if (!*source || !*target) return failWith(kErrorPathNotFound);
    auto from = m_.processPath(source).lexically_normal();
    auto to = m_.processPath(target).lexically_normal();
    std::error_code ec;
    if (std::filesystem::is_directory(from, ec)) return failWith(kErrorAccessDenied);
    if (!std::filesystem::exists(from, ec)) return failWith(missingError(from));
    if (takeHeldElsewhere(m_, from) || heldWithoutSharing(m_, from, kFileShareRead)) {
        return failWith(kErrorSharingViolation);
    }
    if (!std::filesystem::is_directory(to.parent_path(), ec)) return failWith(kErrorPathNotFound);
    if (std::filesystem::is_directory(to, ec)) return failWith(kErrorAccessDenied);
    if (std::filesystem::exists(to, ec)) {
        if (failIfExists) return failWith(kErrorFileExists);
        // Copying a file onto itself finds it open already.
        if (to == from || m_.fileInUseBySpooler(to) || takeHeldElsewhere(m_, to) ||
            heldWithoutSharing(m_, to, kFileShareWrite)) {
            return failWith(kErrorSharingViolation);
        }
    }

    std::ifstream in(from, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return failWith(kErrorAccessDenied);
    int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failWith(errorFromErrno(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            return failWith(errorFromErrno(error));
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    m_.log(line);
    return true;
}

bool SimFiles::deleteFile(const char16_t* path) {
    std::string line = "DeleteFileW " + describe(path);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("DeleteFileW")) return failWith(*fault);
    if (!path) return failWith(kErrorInvalidParameter);
    if (!*path) return failWith(kErrorPathNotFound);
    auto host = m_.processPath(path).lexically_normal();
    std::error_code ec;
    if (std::filesystem::is_directory(host, ec)) return failWith(kErrorAccessDenied);
    if (!std::filesystem::exists(host, ec)) return failWith(missingError(host));
    // Windows refuses to delete a file that any handle holds open without
    // FILE_SHARE_DELETE.
    if (m_.fileInUseBySpooler(host) || takeHeldElsewhere(m_, host) || heldWithoutSharing(m_, host, kFileShareDelete)) {
        return failWith(kErrorSharingViolation);
    }
    if (!std::filesystem::remove(host, ec)) return failWith(ec ? errorFromErrno(ec.value()) : kErrorFileNotFound);
    m_.log(line);
    return true;
}

platform::Handle SimFiles::findFirstFile(const char16_t* pattern, platform::FindData* data) {
    std::string line = "FindFirstFileW " + describe(pattern);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return platform::kInvalidHandle;
    };
    if (auto fault = m_.injectedFault("FindFirstFileW")) return failWith(*fault);
    if (!pattern || !data) return failWith(kErrorInvalidParameter);
    std::u16string_view text(pattern);
    auto separator = text.find_last_of(u"\\/");
    std::u16string directory =
        separator == std::u16string_view::npos ? u"." : std::u16string(text.substr(0, separator + 1));
    std::u16string_view namePattern = separator == std::u16string_view::npos ? text : text.substr(separator + 1);
    auto host = m_.processPath(directory);
    std::error_code ec;
    if (!std::filesystem::is_directory(host, ec)) return failWith(kErrorPathNotFound);
    if (namePattern.empty()) return failWith(kErrorFileNotFound);

    FindSearch search;
    for (const auto& entry : std::filesystem::directory_iterator(host, ec)) {
        auto name = fromUtf8(entry.path().filename().string());
        if (!nameMatches(namePattern, name)) continue;
        platform::FindData found{};
        bool isDirectory = entry.is_directory(ec);
        found.attributes = isDirectory ? kFileAttributeDirectory : kFileAttributeArchive;
        found.size = isDirectory ? 0 : static_cast<std::uint64_t>(entry.file_size(ec));
        copyName(found.fileName, name);
        search.entries.push_back(found);
    }
    if (search.entries.empty()) return failWith(kErrorFileNotFound);
    std::sort(search.entries.begin(), search.entries.end(), ntfsOrder);
    *data = search.entries.front();
    search.next = 1;
    auto handle = m_.newHandle();
    m_.findHandles.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(search));
    m_.log(line);
    return handle;
}

bool SimFiles::findNextFile(platform::Handle handle, platform::FindData* data) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("FindNextFileW -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("FindNextFileW")) return failWith(*fault);
    auto found = m_.findHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == m_.findHandles.end()) return failWith(kErrorInvalidHandle);
    if (!data) return failWith(kErrorInvalidParameter);
    auto& search = found->second;
    if (search.next >= search.entries.size()) return failWith(kErrorNoMoreFiles);
    *data = search.entries[search.next++];
    m_.log("FindNextFileW " + toUtf8(data->fileName));
    return true;
}

bool SimFiles::findClose(platform::Handle handle) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("FindClose -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("FindClose")) return failWith(*fault);
    if (m_.findHandles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) return failWith(kErrorInvalidHandle);
    m_.log("FindClose");
    return true;
}

std::uint32_t SimFiles::getFileAttributes(const char16_t* path) {
    std::string line = "GetFileAttributesW " + describe(path);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return kInvalidFileAttributes;
    };
    if (auto fault = m_.injectedFault("GetFileAttributesW")) return failWith(*fault);
    if (!path) return failWith(kErrorInvalidParameter);
    if (!*path) return failWith(kErrorFileNotFound);
    auto host = m_.processPath(path);
    std::error_code ec;
    auto status = std::filesystem::status(host, ec);
    if (!std::filesystem::exists(status)) return failWith(missingError(host));
    m_.log(line);
    return std::filesystem::is_directory(status) ? kFileAttributeDirectory : kFileAttributeArchive;
}

std::uint32_t SimFiles::getFullPathName(const char16_t* path, std::uint32_t size, char16_t* buffer,
                                        char16_t** filePart) {
    std::string line = "GetFullPathNameW " + describe(path);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return 0u;
    };
    if (auto fault = m_.injectedFault("GetFullPathNameW")) return failWith(*fault);
    if (!path) return failWith(kErrorInvalidParameter);
    if (!*path) return failWith(kErrorInvalidName);
    auto full = m_.fullWindowsPath(path);
    auto length = static_cast<std::uint32_t>(full.size());
    if (!buffer || size <= length) {
        // Too small: the size needed, terminator included, and nothing written.
        m_.log(line + " needs " + std::to_string(length + 1));
        return length + 1;
    }
    std::copy(full.begin(), full.end(), buffer);
    buffer[length] = 0;
    if (filePart) {
        auto separator = full.find_last_of(full.starts_with(u"/") ? u"/" : u"\\");
        bool endsInSeparator = separator == std::u16string::npos ? false : separator + 1 == full.size();
        *filePart = endsInSeparator ? nullptr : buffer + (separator == std::u16string::npos ? 0 : separator + 1);
    }
    m_.log(line);
    return length;
}

bool SimFiles::pathIsDirectory(const char16_t* path) {
    std::string line = "PathIsDirectoryW " + describe(path);
    if (auto fault = m_.injectedFault("PathIsDirectoryW")) {
        m_.fail(*fault);
        m_.log(line + " -> " + std::to_string(*fault));
        return false;
    }
    std::error_code ec;
    bool isDirectory = path && *path && std::filesystem::is_directory(m_.processPath(path), ec);
    m_.log(line + (isDirectory ? "" : " false"));
    return isDirectory;
}

bool SimFiles::pathFileExists(const char16_t* path) {
    std::string line = "PathFileExistsW " + describe(path);
    if (auto fault = m_.injectedFault("PathFileExistsW")) {
        m_.fail(*fault);
        m_.log(line + " -> " + std::to_string(*fault));
        return false;
    }
    if (!path || !*path) {
        m_.log(line + " false");
        return false;
    }
    auto host = m_.processPath(path);
    std::error_code ec;
    bool exists = std::filesystem::exists(host, ec);
    if (!exists) m_.fail(missingError(host));
    m_.log(line + (exists ? "" : " false"));
    return exists;
}

std::uint32_t SimFiles::getSystemDirectory(char16_t* buffer, std::uint32_t size) {
    if (auto fault = m_.injectedFault("GetSystemDirectoryW")) {
        m_.fail(*fault);
        m_.log("GetSystemDirectoryW -> " + std::to_string(*fault));
        return 0;
    }
    const auto& directory = m_.facts.systemDirectory;
    auto length = static_cast<std::uint32_t>(directory.size());
    m_.log("GetSystemDirectoryW");
    // Too small: the size needed with the terminator, as Windows answers.
    if (!buffer || size <= length) return length + 1;
    std::copy(directory.begin(), directory.end(), buffer);
    buffer[length] = 0;
    return length;
}

int SimFiles::accessAnsi(const char* path, int mode) {
    std::string line = "_access " + describe(path) + " " + std::to_string(mode);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> -1");
        return -1;
    };
    if (auto fault = m_.injectedFault("_access")) return failWith(*fault);
    // Modes: 0 existence, 2 write, 4 read, 6 both.
    if (!path || (mode & ~6) != 0) return failWith(kErrorInvalidParameter);
    auto wide = widenAnsi(m_.codePages, path);
    if (!wide || wide->empty()) return failWith(kErrorFileNotFound);
    auto host = m_.processPath(*wide);
    std::error_code ec;
    if (!std::filesystem::exists(host, ec)) return failWith(missingError(host));
    m_.log(line + " -> 0");
    return 0;
}

std::FILE* SimFiles::openStream(const char* path, const char* mode) {
    std::string line = "fopen " + describe(path) + " " + describe(mode);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return static_cast<std::FILE*>(nullptr);
    };
    if (auto fault = m_.injectedFault("fopen")) return failWith(*fault);
    auto parsed = parseStreamMode(mode);
    if (!path || !parsed) return failWith(kErrorInvalidParameter);
    auto wide = widenAnsi(m_.codePages, path);
    if (!wide || wide->empty()) return failWith(kErrorFileNotFound);
    auto host = m_.processPath(*wide).lexically_normal();
    std::error_code ec;
    if (std::filesystem::is_directory(host, ec)) return failWith(kErrorAccessDenied);
    if (!std::filesystem::is_directory(host.parent_path(), ec)) return failWith(kErrorPathNotFound);
    // A stream that writes stays on the drive its Windows path names, even
    // where a link on drive C points elsewhere.
    if (parsed->writes && m_.isDrivePath(*wide) && !insideDirectory(host, m_.driveC)) {
        return failWith(kErrorAccessDenied);
    }
    // The C runtime opens with read and write sharing.
    std::uint32_t access = (parsed->flags & O_ACCMODE) == O_RDONLY ? kGenericRead
                           : (parsed->flags & O_ACCMODE) == O_WRONLY ? kGenericWrite
                                                                     : kGenericRead | kGenericWrite;
    for (const auto& [value, object] : m_.objects) {
        const auto* other = std::get_if<FileHandle>(&object);
        if (other && other->hostPath == host &&
            sharingConflicts(access, kFileShareRead | kFileShareWrite, other->access, other->share)) {
            return failWith(kErrorSharingViolation);
        }
    }
    if (takeHeldElsewhere(m_, host) || (parsed->writes && m_.fileInUseBySpooler(host))) {
        return failWith(kErrorSharingViolation);
    }
    int fd = ::open(host.c_str(), parsed->flags | O_CLOEXEC, 0644);
    if (fd < 0) return failWith(errorFromErrno(errno));
    std::FILE* stream = nullptr;
    if (parsed->text) {
        auto* cookie = new TextStream{fd};
        stream = ::fopencookie(cookie, parsed->hostMode.c_str(), {textRead, textWrite, textSeek, textClose});
        if (!stream) delete cookie;
    } else {
        stream = ::fdopen(fd, parsed->hostMode.c_str());
    }
    if (!stream) {
        ::close(fd);
        return failWith(kErrorNotEnoughMemory);
    }
    m_.streams.insert(stream);
    m_.log(line);
    return stream;
}

int SimFiles::closeStream(std::FILE* stream) {
    if (auto fault = m_.injectedFault("fclose")) {
        m_.fail(*fault);
        m_.log("fclose -> " + std::to_string(*fault));
        return EOF;
    }
    // A stream this runtime never opened is refused rather than closed.
    if (!stream || m_.streams.erase(stream) == 0) {
        m_.log("fclose -> " + std::to_string(kErrorInvalidParameter));
        return EOF;
    }
    m_.log("fclose");
    return std::fclose(stream);
}

bool SimFiles::callWow64DisableFsRedirection(platform::Procedure disable, void** oldValue) {
    constexpr std::string_view kName = "Wow64DisableWow64FsRedirection";
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(std::string(kName) + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault(kName)) return failWith(*fault);
    if (!disable || disable != procedureFor(kName) || !oldValue) return failWith(kErrorInvalidParameter);
    // Only a WOW64 process has redirection to switch off; elsewhere the call
    // fails as Windows' 64-bit and 32-bit systems make it fail.
    if (!m_.isWow64Process()) return failWith(kErrorInvalidFunction);
    *oldValue = reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_.redirectionOff ? 1 : 0));
    m_.redirectionOff = true;
    m_.log(std::string(kName));
    return true;
}

bool SimFiles::callWow64RevertFsRedirection(platform::Procedure revert, void* oldValue) {
    constexpr std::string_view kName = "Wow64RevertWow64FsRedirection";
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(std::string(kName) + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault(kName)) return failWith(*fault);
    if (!revert || revert != procedureFor(kName)) return failWith(kErrorInvalidParameter);
    if (!m_.isWow64Process()) return failWith(kErrorInvalidFunction);
    m_.redirectionOff = oldValue != nullptr;
    m_.log(std::string(kName));
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

using namespace detail;

namespace {

bool isDriveLetter(char16_t c) { return foldAscii(c) >= u'A' && foldAscii(c) <= u'Z'; }

// `root` ("C:" or "\\server\share") and the components of `rest`, "." dropped
// and ".." resolved without climbing above the root.
std::u16string joinResolved(std::u16string root, std::u16string_view rest) {
    std::vector<std::u16string_view> components;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == u'\\' || rest[i] == u'/') {
            auto component = rest.substr(start, i - start);
            start = i + 1;
            if (component.empty() || component == u".") continue;
            if (component == u"..") {
                if (!components.empty()) components.pop_back();
                continue;
            }
            components.push_back(component);
        }
    }
    root += u'\\';
    for (std::size_t i = 0; i < components.size(); ++i) {
        if (i) root += u'\\';
        root += components[i];
    }
    bool trailing = !rest.empty() && (rest.back() == u'\\' || rest.back() == u'/');
    if (trailing && !components.empty()) root += u'\\';
    return root;
}

// System32's subdirectories that WOW64 leaves alone.
bool exemptFromRedirection(std::u16string_view rest) {
    std::vector<std::u16string_view> first;
    std::size_t start = 1;
    for (std::size_t i = 1; i <= rest.size() && first.size() < 2; ++i) {
        if (i == rest.size() || rest[i] == u'\\') {
            first.push_back(rest.substr(start, i - start));
            start = i + 1;
        }
    }
    if (first.empty()) return false;
    for (std::u16string_view exempt : {u"catroot", u"catroot2", u"driverstore", u"logfiles", u"spool"}) {
        if (equalsIgnoreCase(first[0], exempt)) return true;
    }
    return first.size() == 2 && equalsIgnoreCase(first[0], u"drivers") && equalsIgnoreCase(first[1], u"etc");
}

}  // namespace

bool Machine::Impl::isWow64Process() const {
    using namespace platform::win;
    return facts.processArchitecture == kProcessorArchitectureIntel &&
           (facts.nativeArchitecture == kProcessorArchitectureAmd64 ||
            facts.nativeArchitecture == kProcessorArchitectureIa64);
}

std::u16string Machine::Impl::fullWindowsPath(std::u16string_view path) const {
    if (path.starts_with(u"/")) return fromUtf8(std::filesystem::path(toUtf8(path)).lexically_normal().string());
    if (path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\")) return std::u16string(path);
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // \\server\share\...: the share is the root.
        auto rest = path.substr(2);
        auto server = rest.find_first_of(u"\\/");
        if (server == std::u16string_view::npos) return u"\\\\" + std::u16string(rest);
        auto share = rest.find_first_of(u"\\/", server + 1);
        if (share == std::u16string_view::npos) share = rest.size();
        std::u16string root = u"\\\\" + std::u16string(rest.substr(0, server)) + u"\\" +
                              std::u16string(rest.substr(server + 1, share - server - 1));
        return joinResolved(std::move(root), rest.substr(share));
    }
    const std::u16string& current = facts.currentDirectory;
    if (current.starts_with(u"/")) {
        std::u16string joined = current + u"/" + std::u16string(path);
        std::replace(joined.begin(), joined.end(), u'\\', u'/');
        return fullWindowsPath(joined);
    }
    std::u16string absolute;
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == u':') {
        if (path.size() >= 3 && isSeparator(path[2])) {
            absolute = path;
        } else if (!current.empty() && foldAscii(current[0]) == foldAscii(path[0])) {
            absolute = current + u"\\" + std::u16string(path.substr(2));  // relative to that drive's directory
        } else {
            absolute = std::u16string(path.substr(0, 2)) + u"\\" + std::u16string(path.substr(2));
        }
    } else if (isSeparator(path[0])) {
        absolute = current.substr(0, 2) + std::u16string(path);
    } else {
        absolute = current + u"\\" + std::u16string(path);
    }
    return joinResolved(absolute.substr(0, 2), std::u16string_view(absolute).substr(2));
}

std::filesystem::path Machine::Impl::processPath(std::u16string_view path) const {
    if (path.empty() || path.starts_with(u"/")) return std::filesystem::path(toUtf8(path));
    std::u16string_view local = path;
    if (local.starts_with(u"\\\\?\\")) local.remove_prefix(4);
    // Other namespaces and shares are not on this machine's drive.
    if (!isDrivePath(local) && (local.starts_with(u"\\\\") || path.starts_with(u"\\\\?\\"))) {
        return hostPath(std::u16string(path));
    }
    auto full = fullWindowsPath(local);
    if (isWow64Process() && !redirectionOff) {
        const auto& system = facts.systemDirectory;
        auto windows = std::u16string_view(system).substr(0, system.find_last_of(u'\\'));
        auto under = [&](std::u16string_view directory) -> std::optional<std::size_t> {
            std::u16string prefix = std::u16string(windows) + u"\\" + std::u16string(directory);
            std::u16string_view path(full);
            if (path.size() < prefix.size() || !equalsIgnoreCase(path.substr(0, prefix.size()), prefix)) {
                return std::nullopt;
            }
            if (path.size() > prefix.size() && path[prefix.size()] != u'\\') return std::nullopt;
            return prefix.size();
        };
        auto system32 = under(u"System32");
        if (system32 && !exemptFromRedirection(std::u16string_view(full).substr(*system32))) {
            full = std::u16string(windows) + u"\\SysWOW64" + full.substr(*system32);
        } else if (auto native = under(u"Sysnative")) {
            full = system + full.substr(*native);
        }
    }
    return hostPath(full);
}

bool Machine::redirectionDisabled() const { return impl_->isWow64Process() && impl_->redirectionOff; }

}  // namespace hx::sim
