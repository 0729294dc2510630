// The Win32 implementations of the platform interfaces, one accessor each, so
// that defaultPlatform() can assemble them without seeing <windows.h>.
#pragma once

#include "platform/platform.h"

namespace hx::platform::win32 {

Clock& clock();
CodePages& codePages();
Files& files();
LastError& lastError();
Memory& memory();
Resources& resources();
Spooler& spooler();
SystemInfo& systemInfo();
UsbDevices& usbDevices();

// The interfaces carry UTF-16 as char16_t; Windows spells the same units wchar_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units must be 16-bit wide characters");
inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

}  // namespace hx::platform::win32
