// The Win32 platform layer against the contracts written on its interfaces, on
// the Windows that Wine provides.
#include <windows.h>

#include <array>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "tests/wine/checks.h"

namespace hx::wine_tests {
namespace {

using namespace hx::platform;

std::string number(std::int64_t value) { return std::to_string(value); }

// A file handle of the test's own, closed on every way out.
class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (valid()) ::CloseHandle(handle_);
    }
    [[nodiscard]] bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    [[nodiscard]] HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

std::u16string tempPath(const char16_t* name) {
    std::array<wchar_t, MAX_PATH + 1> dir{};
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(dir.size()), dir.data());
    std::u16string path(reinterpret_cast<const char16_t*>(dir.data()), length);
    return path + name;
}

void checkProcessPlatform(Checks& checks) {
    Platform& first = defaultPlatform();
    checks.expect(&first == &defaultPlatform(), "defaultPlatform() is one instance");
    checks.expect(&processPlatform() == &first, "processPlatform() is the default without an override");
}

void checkLastError(Checks& checks, LastError& lastError) {
    for (const std::uint32_t code : {win::kErrorSharingViolation, 1234u, win::kErrorSuccess}) {
        lastError.setLastError(code);
        const std::uint32_t seen = lastError.getLastError();
        checks.expect(seen == code, "LastError keeps " + number(code), number(seen));
    }
}

void checkMemory(Checks& checks, Memory& memory) {
    constexpr std::size_t kSize = 4096;
    auto* block = static_cast<std::uint8_t*>(memory.allocate(kSize, true));
    checks.expect(block != nullptr, "Memory::allocate(4096, zeroed) gives a block", "null");
    if (block) {
        bool zero = true;
        for (std::size_t i = 0; i < kSize; ++i) zero = zero && block[i] == 0;
        checks.expect(zero, "Memory::allocate zero-fills when asked", "non-zero bytes");
        std::memset(block, 0xA5, kSize);
        memory.release(block);
    }
    checks.expect(memory.allocate(~std::size_t{0} / 2, false) == nullptr,
                  "Memory::allocate of an impossible size gives null", "a block");
    memory.release(nullptr);
}

void checkClock(Checks& checks, Clock& clock) {
    const Stopwatch sleeping;
    const std::uint64_t before = clock.tickCount();
    clock.sleep(200);
    const std::int64_t slept = sleeping.elapsedMilliseconds();
    const std::uint64_t ticked = clock.tickCount() - before;
    checks.expect(slept >= 199 && slept < 2000, "Clock::sleep(200) pauses 200 ms", number(slept) + " ms");
    // The tick count moves in steps of a few tens of milliseconds.
    checks.expect(ticked >= 150 && ticked < 2000, "Clock::tickCount follows a 200 ms pause",
                  number(static_cast<std::int64_t>(ticked)) + " ms");

    OwnedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const Stopwatch waiting;
    const std::uint32_t timedOut = clock.waitForSingleObject(event.get(), 100);
    const std::int64_t waited = waiting.elapsedMilliseconds();
    checks.expect(timedOut == win::kWaitTimeout, "Clock::waitForSingleObject on an unsignalled event times out",
                  number(timedOut));
    checks.expect(waited >= 99 && waited < 1000, "Clock::waitForSingleObject(100) waits about 100 ms",
                  number(waited) + " ms");
    ::SetEvent(event.get());
    const std::uint32_t signalled = clock.waitForSingleObject(event.get(), 100);
    checks.expect(signalled == win::kWaitObject0, "Clock::waitForSingleObject on a signalled event", number(signalled));
}

void checkCodePages(Checks& checks, CodePages& codePages, const Expectations& expected) {
    std::array<char16_t, 16> wideText{};
    const int needed = codePages.multiByteToWideChar(win::kCpAcp, 0, "V1.0", -1, nullptr, 0);
    checks.expect(needed == 5, "CodePages::multiByteToWideChar size query counts the terminator", number(needed));
    const int converted =
        codePages.multiByteToWideChar(win::kCpAcp, 0, "V1.0", -1, wideText.data(), static_cast<int>(wideText.size()));
    checks.expect(converted == 5 && terminated(wideText.data(), wideText.size()) == u"V1.0",
                  "CodePages::multiByteToWideChar converts ANSI text", quoted(wideText.data(), wideText.size()));

    // The ANSI code page follows the system language: GBK on a Chinese system,
    // where these characters exist, else the default character for each.
    const char16_t* lackPaper = u"\u7f3a\u7eb8";
    const std::string ansi = expected.chineseSystem ? std::string("\xC8\xB1\xD6\xBD") : std::string("??");
    std::array<char, 16> narrow{};
    const int bytes =
        codePages.wideCharToMultiByte(win::kCpAcp, 0, lackPaper, -1, narrow.data(), static_cast<int>(narrow.size()));
    checks.expect(bytes == static_cast<int>(ansi.size()) + 1 && ansi == narrow.data(),
                  "CodePages::wideCharToMultiByte to the ANSI code page", number(bytes) + " bytes");
    const int utf8Bytes = codePages.wideCharToMultiByte(win::kCpUtf8, 0, lackPaper, -1, nullptr, 0);
    checks.expect(utf8Bytes == 7, "CodePages::wideCharToMultiByte size query in UTF-8", number(utf8Bytes));
}

// The overlapped read of the printer transport, on a pipe standing in for the
// device: pending, abandoned after a wait, then a read that data completes.
void checkOverlappedRead(Checks& checks, Files& files, Clock& clock, LastError& lastError) {
    const std::u16string pipeName = u"\\\\.\\pipe\\hx352-wine-tests-read";
    OwnedHandle server(::CreateNamedPipeW(reinterpret_cast<const wchar_t*>(pipeName.c_str()), PIPE_ACCESS_DUPLEX,
                                          PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 64, 64, 0,
                                          nullptr));
    checks.expect(server.valid(), "set-up: a named pipe", number(::GetLastError()));
    if (!server.valid()) return;

    const Handle client =
        files.createFile(pipeName.c_str(), win::kGenericRead | win::kGenericWrite, 0, win::kOpenExisting,
                         win::kFileFlagOverlapped | win::kFileFlagSequentialScan | win::kFileAttributeNormal);
    checks.expect(client != kInvalidHandle, "Files::createFile opens a device for overlapped use",
                  number(lastError.getLastError()));
    if (client == kInvalidHandle) return;

    std::array<std::uint8_t, 64> reply{};
    Overlapped overlapped{};
    std::uint32_t count = 0;
    const bool immediate = files.readFile(client, reply.data(), reply.size(), &count, &overlapped);
    const std::uint32_t pending = lastError.getLastError();
    checks.expect(!immediate && pending == win::kErrorIoPending, "Files::readFile with nothing sent is pending",
                  immediate ? "completed" : number(pending));
    const std::uint32_t wait = clock.waitForSingleObject(client, 200);
    checks.expect(wait == win::kWaitTimeout, "a pending read does not signal the handle", number(wait));
    const bool incomplete = files.getOverlappedResult(client, &overlapped, &count, false);
    const std::uint32_t incompleteError = lastError.getLastError();
    checks.expect(!incomplete && incompleteError == win::kErrorIoIncomplete,
                  "Files::getOverlappedResult without waiting on a pending read", number(incompleteError));
    checks.expect(files.cancelIo(client), "Files::cancelIo", number(lastError.getLastError()));
    const bool cancelled = files.getOverlappedResult(client, &overlapped, &count, true);
    const std::uint32_t cancelError = lastError.getLastError();
    checks.expect(!cancelled && cancelError == win::kErrorOperationAborted, "a cancelled read ends aborted",
                  number(cancelError));

    const std::uint8_t answer[] = {0xFF, 0xFF, 0xFF, 0xF0, 0x02};
    DWORD sent = 0;
    ::WriteFile(server.get(), answer, sizeof answer, &sent, nullptr);
    reply.fill(0);
    overlapped = Overlapped{};
    count = 0;
    bool done = files.readFile(client, reply.data(), reply.size(), &count, &overlapped);
    if (!done && lastError.getLastError() == win::kErrorIoPending) {
        const std::uint32_t completed = clock.waitForSingleObject(client, 1000);
        checks.expect(completed == win::kWaitObject0, "a completed read signals the handle", number(completed));
        done = files.getOverlappedResult(client, &overlapped, &count, false);
    }
    checks.expect(done && count == sizeof answer && std::memcmp(reply.data(), answer, sizeof answer) == 0,
                  "Files::readFile receives the sent bytes", number(count) + " bytes");
    checks.expect(files.closeHandle(client), "Files::closeHandle", number(lastError.getLastError()));
}

void checkFiles(Checks& checks, Files& files, Clock& clock, LastError& lastError) {
    const std::u16string path = tempPath(u"hx352-wine-files.bin");
    ::DeleteFileW(reinterpret_cast<const wchar_t*>(path.c_str()));

    const Handle missing =
        files.createFile(path.c_str(), win::kGenericRead, 0, win::kOpenExisting, win::kFileAttributeNormal);
    const std::uint32_t missingError = lastError.getLastError();
    checks.expect(missing == kInvalidHandle && missingError == win::kErrorFileNotFound,
                  "Files::createFile of a missing file with kOpenExisting", number(missingError));
    if (missing != kInvalidHandle) files.closeHandle(missing);

    const Handle file = files.createFile(path.c_str(), win::kGenericRead | win::kGenericWrite, 0, win::kCreateAlways,
                                         win::kFileAttributeNormal);
    checks.expect(file != kInvalidHandle, "Files::createFile creates a file", number(lastError.getLastError()));
    if (file == kInvalidHandle) return;

    const Handle second = files.createFile(path.c_str(), win::kGenericRead | win::kGenericWrite, 0, win::kOpenExisting,
                                           win::kFileAttributeNormal);
    const std::uint32_t sharingError = lastError.getLastError();
    checks.expect(second == kInvalidHandle && sharingError == win::kErrorSharingViolation,
                  "a second exclusive open is a sharing violation", number(sharingError));
    if (second != kInvalidHandle) files.closeHandle(second);

    const std::uint8_t bytes[] = {0xAA, 0xBB, 0xCC};
    std::uint32_t written = 0;
    checks.expect(files.writeFile(file, bytes, sizeof bytes, &written) && written == sizeof bytes,
                  "Files::writeFile takes the whole buffer", number(written));
    std::int64_t size = -1;
    checks.expect(files.getFileSize(file, &size) && size == 3, "Files::getFileSize", number(size));
    checks.expect(files.closeHandle(file), "Files::closeHandle of a file", number(lastError.getLastError()));

    const Handle reader = files.createFile(path.c_str(), win::kGenericRead, win::kFileShareRead, win::kOpenExisting,
                                           win::kFileAttributeNormal);
    std::array<std::uint8_t, 8> back{};
    std::uint32_t read = 0;
    checks.expect(reader != kInvalidHandle && files.readFile(reader, back.data(), back.size(), &read, nullptr) &&
                      read == 3 && std::memcmp(back.data(), bytes, 3) == 0,
                  "Files::readFile without overlapped reads the file", number(read) + " bytes");
    read = 99;
    checks.expect(
        reader != kInvalidHandle && files.readFile(reader, back.data(), back.size(), &read, nullptr) && read == 0,
        "Files::readFile at the end reads 0 bytes", number(read));
    if (reader != kInvalidHandle) files.closeHandle(reader);
    ::DeleteFileW(reinterpret_cast<const wchar_t*>(path.c_str()));

    checkOverlappedRead(checks, files, clock, lastError);
}

void checkSpooler(Checks& checks, Spooler& spooler, LastError& lastError) {
    std::uint32_t needed = 0;
    const bool sized = spooler.getPrinterDriverDirectory(nullptr, u"Windows x64", 1, nullptr, 0, &needed);
    const std::uint32_t sizeError = lastError.getLastError();
    checks.expect(!sized && sizeError == win::kErrorInsufficientBuffer && needed > 0,
                  "Spooler::getPrinterDriverDirectory size query", number(sizeError) + ", " + number(needed));
    if (needed == 0 || needed > 4096) return;
    std::array<char16_t, 2048> directory{};
    const bool filled = spooler.getPrinterDriverDirectory(
        nullptr, u"Windows x64", 1, reinterpret_cast<std::uint8_t*>(directory.data()), needed, &needed);
    std::u16string text(terminated(directory.data(), directory.size()));
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    const std::u16string_view tail = u"\\spool\\drivers\\x64";
    checks.expect(filled && text.size() > tail.size() && text.ends_with(tail),
                  "Spooler::getPrinterDriverDirectory fills the x64 driver directory",
                  quoted(directory.data(), directory.size()));
}

void checkSystemInfo(Checks& checks, SystemInfo& system, const Expectations& expected) {
    checks.expect(system.hasNativeSystemInfo(), "SystemInfo::hasNativeSystemInfo", "false");
    const std::uint16_t native = system.getNativeSystemInfo().processorArchitecture;
    checks.expect(native == win::kProcessorArchitectureAmd64, "SystemInfo::getNativeSystemInfo is AMD64",
                  number(native));
    const std::uint16_t own = system.getSystemInfo().processorArchitecture;
    checks.expect(own == win::kProcessorArchitectureAmd64, "SystemInfo::getSystemInfo of a 64-bit process",
                  number(own));
    const std::uint16_t language = system.getSystemDefaultLangId();
    const bool chinese = language == win::kLangChineseSimplified;
    checks.expect(chinese == expected.chineseSystem, "SystemInfo::getSystemDefaultLangId follows the locale",
                  number(language));
}

void checkUsbDevices(Checks& checks, UsbDevices& usb, LastError& lastError) {
    const Handle set =
        usb.getClassDevs(&kGuidDevInterfaceUsbDevice, nullptr, win::kDigcfPresent | win::kDigcfDeviceInterface);
    checks.expect(set != kInvalidHandle, "UsbDevices::getClassDevs gives a set", number(lastError.getLastError()));
    if (set == kInvalidHandle) return;
    // Wine shows no USB device interfaces, so the set is empty.
    DeviceInterfaceData data{};
    data.cbSize = sizeof data;
    const bool found = usb.enumDeviceInterfaces(set, kGuidDevInterfaceUsbDevice, 0, &data);
    const std::uint32_t endError = lastError.getLastError();
    checks.expect(!found && endError == win::kErrorNoMoreItems, "UsbDevices::enumDeviceInterfaces past the end",
                  found ? "an interface" : number(endError));
    checks.expect(usb.destroyDeviceInfoList(set), "UsbDevices::destroyDeviceInfoList",
                  number(lastError.getLastError()));
}

void checkResources(Checks& checks, Resources& resources) {
    const HMODULE library = ::LoadLibraryW(L"HX-352SettingToolDll.dll");
    checks.expect(library != nullptr, "set-up: the settings library loads", number(::GetLastError()));
    if (!library) return;
    const HRSRC info = ::FindResourceW(library, MAKEINTRESOURCEW(108), L"BIN");
    const void* direct = info ? ::LockResource(::LoadResource(library, info)) : nullptr;
    const DWORD directSize = info ? ::SizeofResource(library, info) : 0;

    const std::span<const std::uint8_t> found = resources.findModuleResource(u"HX-352SettingToolDll.dll", u"BIN", 108);
    checks.expect(direct != nullptr && found.data() == direct && found.size() == directSize,
                  "Resources::findModuleResource gives the module's resource bytes", number(found.size()) + " bytes");
    checks.expect(resources.findModuleResource(u"HX-352SettingToolDll.dll", u"BIN", 109).empty(),
                  "Resources::findModuleResource of a missing id is empty", "bytes");
    checks.expect(resources.findModuleResource(u"HX-352SettingToolDll.dll", u"TEXT", 108).empty(),
                  "Resources::findModuleResource of a missing type is empty", "bytes");
    checks.expect(resources.findModuleResource(u"hx352-not-loaded.dll", u"BIN", 108).empty(),
                  "Resources::findModuleResource of a module not loaded is empty", "bytes");
    ::FreeLibrary(library);
}

}  // namespace

void runPlatformChecks(Checks& checks, const Expectations& expected) {
    Platform& platform = defaultPlatform();
    checkProcessPlatform(checks);
    checkLastError(checks, platform.lastError);
    checkMemory(checks, platform.memory);
    checkClock(checks, platform.clock);
    checkCodePages(checks, platform.codePages, expected);
    checkFiles(checks, platform.files, platform.clock, platform.lastError);
    checkSpooler(checks, platform.spooler, platform.lastError);
    checkSystemInfo(checks, platform.system, expected);
    checkUsbDevices(checks, platform.usb, platform.lastError);
    checkResources(checks, platform.resources);
}

}  // namespace hx::wine_tests
