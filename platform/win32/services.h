// The Win32 implementations of the platform interfaces, one accessor each, so
// that defaultPlatform() can assemble them without seeing <windows.h>.
#pragma once

#include "platform/platform.h"

namespace hx::platform::win32 {

Clock& clock();
CodePages& codePages();
DeviceSetup& deviceSetup();
Files& files();
LastError& lastError();
Libraries& libraries();
Memory& memory();
Registry& registry();
Resources& resources();
SerialPorts& serialPorts();
Services& services();
Shell& shell();
Spooler& spooler();
SystemInfo& systemInfo();
Token& token();
UsbDevices& usbDevices();
WindowsUi& windowsUi();

// The interfaces carry UTF-16 as char16_t; Windows spells the same units wchar_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units must be 16-bit wide characters");
inline const wchar_t* wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline char16_t* utf16(wchar_t* text) { return reinterpret_cast<char16_t*>(text); }

// A procedure found through Libraries::getProcAddress, as the function type
// that the interface taking it knows it has. Procedure is the generic function
// pointer type, so the conversion raises no cast-function-type warning.
template <class Function>
Function procedureAs(Procedure procedure) {
    return reinterpret_cast<Function>(procedure);
}

}  // namespace hx::platform::win32
