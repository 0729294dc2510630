// Ports and monitors from the spooler, the port of a printer, and the global
// memory blocks of AllocSplStr/AllocSplMem.
#include "Driver/DriverInstall_Src/driverutil/ports.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "Driver/DriverInstall_Src/driverutil/allocator.h"
#include "platform/unique_handle.h"

namespace hx::driverutil {

using namespace hx::platform::win;

namespace {

constexpr std::size_t kMonitorSlots = std::size(MonitorList{}.names);
constexpr std::size_t kMonitorNameUnits = std::size(MonitorList{}.names[0]);

char16_t foldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool hasPortPrefix(const char16_t* name, std::u16string_view prefix) {
    if (name == nullptr) return false;
    const std::u16string_view text(name);
    if (text.size() < prefix.size() || text.back() != u':') return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(),
                      [](char16_t want, char16_t have) { return want == foldAscii(have); });
}

// The length of `text` if it is shorter than `limit`, else `limit`.
std::size_t boundedLength(const char16_t* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != u'\0') ++length;
    return length;
}

bool isOfferedMonitor(std::u16string_view name) {
    // Case-sensitive on purpose: these are the names the monitors register.
    return name.find(u"TCP/IP") != std::u16string_view::npos ||
           name.find(u"USB Printer Monitor") != std::u16string_view::npos;
}

}  // namespace

platform::PortInfo2* enumPrinterPorts(platform::Platform& platform, std::uint32_t& count) {
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    (void)platform.spooler.enumPorts(nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0) {
        count = 0;
        return nullptr;
    }
    OwnedBlock block = allocateOwned(platform.memory, needed, false);
    if (!block) return nullptr;
    // The spooler's own verdict is not consulted: the records it returned decide.
    returned = 0;
    (void)platform.spooler.enumPorts(nullptr, 2, bytesOf(block), needed, &needed, &returned);
    count = returned;
    if (returned == 0) return nullptr;
    return static_cast<platform::PortInfo2*>(block.release());
}

void releasePortInfo(platform::Platform& platform, void* block) { releaseBlock(platform.memory, block); }

bool isComPortName(const char16_t* name) { return hasPortPrefix(name, u"COM"); }
bool isLptPortName(const char16_t* name) { return hasPortPrefix(name, u"LPT"); }

bool getMonitors(platform::Platform& platform, MonitorList& list) {
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    (void)platform.spooler.enumMonitors(nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0) return false;
    OwnedBlock block = allocateOwned(platform.memory, needed, false);
    if (!block) return false;
    returned = 0;
    (void)platform.spooler.enumMonitors(nullptr, 2, bytesOf(block), needed, &needed, &returned);

    const auto* monitors = static_cast<const platform::MonitorInfo2*>(block.get());
    for (std::uint32_t i = 0; i < returned; ++i) {
        // A count outside 0..8 left by the caller counts as a full list, so
        // nothing is written outside `names`.
        if (list.count < 0 || static_cast<std::size_t>(list.count) >= kMonitorSlots) break;
        const char16_t* name = monitors[i].name;
        if (name == nullptr) continue;
        // A name that does not fit an entry is skipped rather than cut, since a
        // cut name would name some other monitor.
        const std::size_t length = boundedLength(name, kMonitorNameUnits);
        if (length == kMonitorNameUnits) continue;
        if (!isOfferedMonitor(std::u16string_view(name, length))) continue;
        std::uint16_t* entry = list.names[list.count];
        std::copy_n(name, length, entry);
        entry[length] = 0;
        ++list.count;
    }
    return true;
}

bool changePort(platform::Platform& platform, const char16_t* printerName, const char16_t* portName) {
    if (portName == nullptr) return false;
    platform::PrinterDefaults defaults{nullptr, nullptr, kPrinterAllAccess};
    platform::Handle opened = nullptr;
    if (!platform.spooler.openPrinter(printerName, &opened, &defaults)) return true;
    platform::UniquePrinter printer(platform.spooler, opened);

    // Without the printer's own record there is nothing to write back: a record
    // of zeros would wipe its settings. Like a printer that cannot be opened,
    // that is no failure of this call.
    std::uint32_t needed = 0;
    (void)platform.spooler.getPrinter(printer.get(), 2, nullptr, 0, &needed);
    if (needed < sizeof(platform::PrinterInfo2)) return true;
    platform::UniqueGlobalBlock record(platform.memory, platform.memory.globalAlloc(kGptr, needed));
    if (!record) return false;
    auto* bytes = static_cast<std::uint8_t*>(record.get());
    if (!platform.spooler.getPrinter(printer.get(), 2, bytes, needed, &needed)) return true;

    const std::size_t portBytes = (std::char_traits<char16_t>::length(portName) + 1) * sizeof(char16_t);
    platform::UniqueGlobalBlock port(platform.memory, platform.memory.globalAlloc(kGptr, portBytes));
    if (!port) return false;
    std::memcpy(port.get(), portName, portBytes);
    reinterpret_cast<platform::PrinterInfo2*>(bytes)->portName = static_cast<char16_t*>(port.get());
    // A refused change goes unreported: the caller only learns of memory shortage.
    (void)platform.spooler.setPrinter(printer.get(), 2, bytes, 0);
    return true;
}

char16_t* allocSplStr(platform::Memory& memory, const char16_t* text) {
    if (text == nullptr) return nullptr;
    const std::size_t bytes = (std::char_traits<char16_t>::length(text) + 1) * sizeof(char16_t);
    void* block = memory.globalAlloc(kGmemFixed, bytes);
    if (block == nullptr) return nullptr;
    std::memcpy(block, text, bytes);  // the string and its terminator fill the block exactly
    return static_cast<char16_t*>(block);
}

void* allocSplMem(platform::Memory& memory, std::uint32_t size) {
    void* block = memory.globalAlloc(kGmemFixed, size);
    if (block != nullptr) std::memset(block, 0, size);
    return block;
}

bool freeSplMem(platform::Memory& memory, void* block) { return memory.globalFree(block) == nullptr; }

}  // namespace hx::driverutil
