// The simulated machine: drive C, virtual time, faults, accounting, and the
// small services (clock, last error, heap, system facts, resources).
#include "platform/sim/machine.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/module_resources.h"
#include "platform/sim/machine_impl.h"

namespace hx::sim {
namespace detail {

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string fromUtf8(std::string_view text) {
    // Host file names are taken to be valid UTF-8; stray bytes become U+FFFD.
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = 0xFFFD;
        std::size_t extra = 0;
        if (byte < 0x80) {
            c = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            c = byte & 0x1F;
            extra = 1;
        } else if ((byte & 0xF0) == 0xE0) {
            c = byte & 0x0F;
            extra = 2;
        } else if ((byte & 0xF8) == 0xF0) {
            c = byte & 0x07;
            extra = 3;
        }
        std::size_t j = 1;
        for (; j <= extra && i + j < text.size() && (static_cast<unsigned char>(text[i + j]) & 0xC0) == 0x80; ++j) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
        }
        if (j <= extra) c = 0xFFFD;
        i += j;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

char16_t foldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool equalsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    }
    return true;
}

std::u16string upperAscii(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = foldAscii(c);
    return out;
}

// ---- Clock ----

void SimClock::sleep(std::uint32_t milliseconds) {
    m_.nowMs += milliseconds;
    m_.sleeps.push_back(milliseconds);
    m_.log("Sleep " + std::to_string(milliseconds));
}

std::uint32_t SimClock::waitForSingleObject(platform::Handle object, std::uint32_t milliseconds) {
    auto line = "WaitForSingleObject " + std::to_string(milliseconds) + " -> ";
    if (auto fault = m_.injectedFault("WaitForSingleObject")) {
        m_.fail(*fault);
        m_.log(line + std::to_string(platform::win::kWaitFailed));
        return platform::win::kWaitFailed;
    }
    auto* found = m_.find(object);
    if (!found || std::holds_alternative<DeviceInfoSet>(*found)) {
        m_.fail(platform::win::kErrorInvalidHandle);
        m_.log(line + std::to_string(platform::win::kWaitFailed));
        return platform::win::kWaitFailed;
    }
    auto* device = std::get_if<DeviceHandle>(found);
    std::uint32_t result = platform::win::kWaitObject0;
    if (device && device->read) {
        bool nothingComing = false;
        if (!m_.waitForRead(*device, milliseconds, &nothingComing)) {
            if (nothingComing) {
                // An endless wait for a reply that will never come would hang the
                // test; it ends as if the wait had been abandoned.
                m_.fail(platform::win::kErrorOperationAborted);
                result = platform::win::kWaitFailed;
            } else {
                result = platform::win::kWaitTimeout;
            }
        }
    }
    m_.log(line + std::to_string(result));
    return result;
}

std::uint64_t SimClock::tickCount() { return m_.nowMs; }

// ---- Last error ----

std::uint32_t SimLastError::getLastError() { return m_.lastError; }
void SimLastError::setLastError(std::uint32_t code) { m_.lastError = code; }

// ---- Heap ----

void* SimMemory::allocate(std::size_t size, bool zeroed) {
    // HeapAlloc does not set the last error when it fails.
    if (m_.allocationFault.fire()) return nullptr;
    if (m_.injectedFault("HeapAlloc")) return nullptr;
    std::size_t bytes = size ? size : 1;
    void* block = zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
    if (block) {
        m_.heapBlocks.emplace(block, bytes);
        m_.heapBytes += bytes;
        m_.heapBytesPeak = std::max(m_.heapBytesPeak, m_.heapBytes);
    }
    return block;
}

void SimMemory::release(void* block) {
    if (!block) return;
    // A block this heap never handed out is refused rather than freed.
    const auto found = m_.heapBlocks.find(block);
    if (found == m_.heapBlocks.end()) {
        m_.fail(platform::win::kErrorInvalidParameter);
        return;
    }
    m_.heapBytes -= found->second;
    m_.heapBlocks.erase(found);
    std::free(block);
}

// ---- Global memory ----

void* SimMemory::globalAlloc(std::uint32_t flags, std::size_t size) {
    auto line = "GlobalAlloc " + std::to_string(size);
    if (auto fault = m_.injectedFault("GlobalAlloc")) {
        m_.fail(*fault);
        m_.log(line + " -> " + std::to_string(*fault));
        return nullptr;
    }
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        m_.fail(platform::win::kErrorNotEnoughMemory);
        m_.log(line + " -> " + std::to_string(platform::win::kErrorNotEnoughMemory));
        return nullptr;
    }
    // Memory not asked to be zeroed holds garbage, so a caller relying on
    // zeroes it did not ask for is caught.
    std::memset(block, (flags & platform::win::kGmemZeroInit) ? 0x00 : 0xCD, size ? size : 1);
    m_.globalBlocks.insert(block);
    m_.log(line);
    return block;
}

void* SimMemory::globalFree(void* block) {
    if (!block) return nullptr;
    if (auto fault = m_.injectedFault("GlobalFree")) {
        m_.fail(*fault);
        m_.log("GlobalFree -> " + std::to_string(*fault));
        return block;
    }
    if (m_.globalBlocks.erase(block) == 0) {
        m_.fail(platform::win::kErrorInvalidHandle);
        m_.log("GlobalFree -> " + std::to_string(platform::win::kErrorInvalidHandle));
        return block;
    }
    std::free(block);
    m_.log("GlobalFree");
    return nullptr;
}

// ---- System facts ----

bool SimSystemInfo::hasNativeSystemInfo() { return m_.facts.hasNativeSystemInfo; }
platform::ProcessorInfo SimSystemInfo::getNativeSystemInfo() { return {m_.facts.nativeArchitecture}; }
platform::ProcessorInfo SimSystemInfo::getSystemInfo() { return {m_.facts.processArchitecture}; }
std::uint16_t SimSystemInfo::getSystemDefaultLangId() { return m_.facts.defaultLangId; }

// ---- Resources ----

std::span<const std::uint8_t> SimResources::findModuleResource(const char16_t* moduleName, const char16_t* type,
                                                               std::uint16_t id) {
    if (m_.moduleResourcesHidden) return {};
    return platform::findRegisteredModuleResource(moduleName, type, id);
}

namespace {

std::filesystem::path makeTemporaryDrive() {
    auto pattern = (std::filesystem::temp_directory_path() / "hx352-sim-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    return std::filesystem::path(buffer.data());
}

// One step of "C:\a\b": the entry of `directory` named `name`, matched without
// regard to case when no entry has exactly that name.
std::filesystem::path childIgnoringCase(const std::filesystem::path& directory, const std::u16string& name) {
    auto exact = directory / toUtf8(name);
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    if (std::filesystem::is_directory(directory, ec)) {
        for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
            if (equalsIgnoreCase(fromUtf8(entry.path().filename().string()), name)) return entry.path();
        }
    }
    return exact;
}

}  // namespace
}  // namespace detail

using namespace detail;

const std::u16string Machine::defaultPrinterPath =
    u"\\\\?\\usb#vid_0fe6&pid_811e#hx352a000123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

Machine::Impl::Impl(std::filesystem::path drive, bool populateDrive) {
    if (drive.empty()) {
        driveC = makeTemporaryDrive();
        ownsDriveC = true;
    } else {
        driveC = std::move(drive);
        std::filesystem::create_directories(driveC);
    }
    if (populateDrive) {
        // The spooler's driver directories exist on every installed system; the
        // shared lock file lives in one of them.
        for (auto dir : {kDriverDirX64, kDriverDirX86}) {
            std::filesystem::create_directories(hostPath(std::u16string(dir)));
        }
    }
    usb.push_back({Machine::defaultPrinterPath, std::make_shared<SimPrinter>()});
    setUpFreshMachine(*this, populateDrive);
}

Machine::Impl::~Impl() {
    for (auto& [handle, object] : objects) {
        if (auto* file = std::get_if<FileHandle>(&object)) ::close(file->fd);
    }
    for (const auto& [block, bytes] : heapBlocks) std::free(block);
    for (void* block : globalBlocks) std::free(block);
    for (std::FILE* stream : streams) std::fclose(stream);
    if (ownsDriveC) {
        std::error_code ec;
        std::filesystem::remove_all(driveC, ec);
    }
}

bool Machine::Impl::isDrivePath(std::u16string_view path) const {
    if (path.starts_with(u"\\\\?\\")) path.remove_prefix(4);
    return path.size() >= 2 && foldAscii(path[0]) >= u'A' && foldAscii(path[0]) <= u'Z' && path[1] == u':';
}

std::filesystem::path Machine::Impl::hostPath(const std::u16string& windowsPath) const {
    std::u16string_view path = windowsPath;
    if (path.starts_with(u"\\\\?\\")) path.remove_prefix(4);
    if (!isDrivePath(path)) return std::filesystem::path(toUtf8(windowsPath));
    // Only drive C exists; other letters name directories beside it that are
    // never there, so opens under them fail as a missing path would.
    std::filesystem::path result = driveC;
    if (foldAscii(path[0]) != u'C') result = driveC.parent_path() / (".drive-" + toUtf8(path.substr(0, 1)));
    std::vector<std::u16string> components;
    std::u16string current;
    for (char16_t c : path.substr(2)) {
        if (c == u'\\' || c == u'/') {
            if (!current.empty()) components.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) components.push_back(std::move(current));
    std::vector<std::u16string> resolved;
    for (auto& component : components) {
        if (component == u".") continue;
        if (component == u"..") {
            if (!resolved.empty()) resolved.pop_back();
            continue;
        }
        resolved.push_back(component);
    }
    // Most paths are spelled as stored: one look-up, not one per component.
    std::filesystem::path exact = result;
    for (const auto& component : resolved) exact /= toUtf8(component);
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    for (const auto& component : resolved) result = childIgnoringCase(result, component);
    return result;
}

platform::Handle Machine::Impl::newHandle() {
    auto value = nextHandle;
    nextHandle += 4;
    return reinterpret_cast<platform::Handle>(value);
}

platform::Handle Machine::Impl::addObject(OpenObject object) {
    auto handle = newHandle();
    objects.emplace(reinterpret_cast<std::uintptr_t>(handle), std::move(object));
    return handle;
}

std::optional<std::uint32_t> Machine::Impl::injectedFault(std::string_view operation) {
    auto it = operationFaults.find(operation);
    if (it == operationFaults.end() || !it->second.fire()) return std::nullopt;
    return it->second.error;
}

OpenObject* Machine::Impl::find(platform::Handle handle) {
    auto it = objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == objects.end() ? nullptr : &it->second;
}

DeviceHandle* Machine::Impl::findDevice(platform::Handle handle) {
    auto* object = find(handle);
    return object ? std::get_if<DeviceHandle>(object) : nullptr;
}

FileHandle* Machine::Impl::findFile(platform::Handle handle) {
    auto* object = find(handle);
    return object ? std::get_if<FileHandle>(object) : nullptr;
}

DeviceInfoSet* Machine::Impl::findDeviceInfoSet(platform::Handle handle) {
    auto* object = find(handle);
    return object ? std::get_if<DeviceInfoSet>(object) : nullptr;
}

void Machine::Impl::closeObject(platform::Handle handle) { objects.erase(reinterpret_cast<std::uintptr_t>(handle)); }

std::optional<SimPrinter::PendingReply>* Machine::Impl::pendingReplyOf(DeviceHandle& device) {
    return device.printer ? &device.printer->pendingReply() : nullptr;
}

void Machine::Impl::completeRead(DeviceHandle& device) {
    auto& pending = *pendingReplyOf(device);
    auto& read = *device.read;
    auto count = static_cast<std::uint32_t>(std::min<std::size_t>(read.length, pending->bytes.size()));
    if (count) std::memcpy(read.buffer, pending->bytes.data(), count);
    pending.reset();
    read.overlapped->internal = 0;
    read.overlapped->internalHigh = count;
    device.outcome = ReadOutcome{read.overlapped, count, 0};
    device.read.reset();
}

bool Machine::Impl::waitForRead(DeviceHandle& device, std::uint32_t milliseconds, bool* nothingComing) {
    constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
    *nothingComing = false;
    auto* pending = pendingReplyOf(device);
    bool replyComing = pending && pending->has_value();
    std::uint64_t deadline = milliseconds == kInfinite ? UINT64_MAX : nowMs + milliseconds;
    if (replyComing && (*pending)->readyAtMs <= deadline) {
        nowMs = std::max(nowMs, (*pending)->readyAtMs);
        completeRead(device);
        return true;
    }
    if (milliseconds == kInfinite) {
        *nothingComing = true;
        return false;
    }
    nowMs = deadline;
    return false;
}

// ---- Machine ----

Machine::Machine(std::filesystem::path driveC) : impl_(std::make_unique<Impl>(std::move(driveC))) {
    impl_->owner = this;
}
Machine::Machine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) { impl_->owner = this; }
Machine::~Machine() = default;

platform::Platform& Machine::platform() { return impl_->platform; }
const std::filesystem::path& Machine::driveC() const { return impl_->driveC; }
std::filesystem::path Machine::hostPath(const std::u16string& windowsPath) const {
    return impl_->hostPath(windowsPath);
}
SystemFacts& Machine::system() { return impl_->facts; }
std::uint64_t Machine::nowMs() const { return impl_->nowMs; }
const std::vector<std::uint32_t>& Machine::sleeps() const { return impl_->sleeps; }

SimPrinter& Machine::printer() {
    for (auto& device : impl_->usb) {
        if (device.printer) return *device.printer;
    }
    throw std::logic_error("no printer on the simulated USB bus");
}

void Machine::setUsbInterfaces(std::vector<UsbInterface> interfaces) { impl_->usb = std::move(interfaces); }
const std::vector<Machine::UsbInterface>& Machine::usbInterfaces() const { return impl_->usb; }

std::u16string Machine::lockFilePath() const { return std::u16string(kLockFilePath); }

void Machine::setLockFilePresent(bool present) {
    auto path = impl_->hostPath(lockFilePath());
    std::error_code ec;
    if (present) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::app);
    } else {
        std::filesystem::remove(path, ec);
    }
}

void Machine::holdFileElsewhere(const std::u16string& windowsPath, int attempts) {
    impl_->heldElsewhere[impl_->hostPath(windowsPath).lexically_normal()] = attempts;
}

const std::vector<LockAttempt>& Machine::lockAttempts() const { return impl_->lockAttempts; }

void Machine::failDeviceOpens(std::uint32_t error, int times) { impl_->deviceOpenFault.set(error, times); }
void Machine::failDeviceWrites(std::uint32_t error, int times) { impl_->deviceWriteFault.set(error, times); }
void Machine::shortenDeviceWrites(std::uint32_t bytesTaken, int times) {
    impl_->shortWriteFault.set(0, times, bytesTaken);
}
void Machine::failGetClassDevs(std::uint32_t error, int times) { impl_->classDevsFault.set(error, times); }
void Machine::failInterfaceDetail(std::uint32_t error, int times) { impl_->interfaceDetailFault.set(error, times); }
void Machine::failDriverDirectory(std::uint32_t error, int times) { impl_->driverDirectoryFault.set(error, times); }
void Machine::failAllocations(int times) { impl_->allocationFault.set(platform::win::kErrorNotEnoughMemory, times); }

std::size_t Machine::heapBytesPeak() const { return impl_->heapBytesPeak; }
void Machine::resetHeapBytesPeak() { impl_->heapBytesPeak = impl_->heapBytes; }

void Machine::hideModuleResources(bool hidden) { impl_->moduleResourcesHidden = hidden; }

OpenResources Machine::openResources() const {
    OpenResources open;
    for (const auto& [handle, object] : impl_->objects) {
        if (std::holds_alternative<DeviceHandle>(object)) ++open.deviceHandles;
        if (std::holds_alternative<FileHandle>(object)) ++open.fileHandles;
        if (std::holds_alternative<DeviceInfoSet>(object)) ++open.deviceInfoSets;
    }
    open.heapBlocks = static_cast<int>(impl_->heapBlocks.size());
    open.globalBlocks = static_cast<int>(impl_->globalBlocks.size());
    open.registryKeys = static_cast<int>(impl_->registryHandles.size());
    open.serviceHandles = static_cast<int>(impl_->serviceHandles.size());
    open.printerHandles = static_cast<int>(impl_->printerHandles.size());
    for (const auto& [module, loads] : impl_->libraryLoads) open.libraries += loads;
    open.tokens = static_cast<int>(impl_->tokenHandles.size());
    open.findHandles = static_cast<int>(impl_->findHandles.size());
    open.streams = static_cast<int>(impl_->streams.size());
    return open;
}

std::string Machine::describeOpenResources() const {
    auto open = openResources();
    struct Kind {
        int count;
        const char* one;
        const char* many;
    };
    const Kind kinds[] = {
        {open.deviceHandles, "device handle", "device handles"},
        {open.fileHandles, "file handle", "file handles"},
        {open.deviceInfoSets, "device info set", "device info sets"},
        {open.heapBlocks, "heap block", "heap blocks"},
        {open.globalBlocks, "global block", "global blocks"},
        {open.registryKeys, "registry key", "registry keys"},
        {open.serviceHandles, "service handle", "service handles"},
        {open.printerHandles, "printer handle", "printer handles"},
        {open.libraries, "library", "libraries"},
        {open.findHandles, "find handle", "find handles"},
        {open.streams, "stream", "streams"},
        {open.tokens, "token", "tokens"},
    };
    std::string text;
    for (const auto& kind : kinds) {
        if (kind.count == 0) continue;
        if (!text.empty()) text += ", ";
        text += std::to_string(kind.count) + " " + (kind.count == 1 ? kind.one : kind.many);
    }
    return text.empty() ? "nothing open" : text;
}

void Machine::failOperation(const std::string& operation, std::uint32_t error, int times) {
    impl_->operationFaults[operation].set(error, times);
}

const std::vector<std::string>& Machine::journal() const { return impl_->journal; }

}  // namespace hx::sim
