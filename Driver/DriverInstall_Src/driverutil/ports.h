// The spooler's ports and monitors as the installer offers them, a printer's
// port, and global memory blocks in the manner of the spooler's own functions.
#pragma once

#include <cstdint>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "platform/platform.h"

namespace hx::driverutil {

// All level-2 port records in one block from the library's allocator, or null.
// `count` becomes the number of records, 0 when there are none; it keeps its
// value when the block cannot be allocated.
[[nodiscard]] platform::PortInfo2* enumPrinterPorts(platform::Platform& platform, std::uint32_t& count);

// Any block the library handed out; null does nothing.
void releasePortInfo(platform::Platform& platform, void* block);

// "COM"/"LPT" in any case at the start and ':' at the end; nothing else counts.
[[nodiscard]] bool isComPortName(const char16_t* name);
[[nodiscard]] bool isLptPortName(const char16_t* name);

// Appends the TCP/IP and USB port monitors, in the spooler's order, after the
// entries already in `list`. False only when the spooler's records could not
// be had.
[[nodiscard]] bool getMonitors(platform::Platform& platform, MonitorList& list);

// Points an installed printer at another port. False only when memory is
// short or no port is named; a printer that cannot be opened is left alone
// and gives true.
[[nodiscard]] bool changePort(platform::Platform& platform, const char16_t* printerName, const char16_t* portName);

// Fixed, zero-filled global blocks that the receiver frees with freeSplMem.
[[nodiscard]] char16_t* allocSplStr(platform::Memory& memory, const char16_t* text);
[[nodiscard]] void* allocSplMem(platform::Memory& memory, std::uint32_t size);
[[nodiscard]] bool freeSplMem(platform::Memory& memory, void* block);

}  // namespace hx::driverutil
