// The fixed names that installation and removal share: the model, its
// hardware ID, the USB port monitor with its files, the port, the environments.
#pragma once

namespace hx::driverutil {

inline constexpr char16_t kModelName[] = u"HX-352";
inline constexpr char16_t kHardwareId[] = u"USBPRINT\\HX-35290EE";
inline constexpr char16_t kInfFileName[] = u"HX-352.INF";
inline constexpr char16_t kMonitorName[] = u"USB Printer Monitor";
inline constexpr char kMonitorNameAnsi[] = "USB Printer Monitor";
inline constexpr char16_t kMonitorDll[] = u"VelmorUSBMon.dll";
inline constexpr char16_t kMonitorUiDll[] = u"VelmorUSBMonUI.dll";
inline constexpr char kPortNameAnsi[] = "USB PORT:";
inline constexpr char16_t kEnvironmentX64[] = u"Windows x64";
inline constexpr char16_t kEnvironmentX86[] = u"Windows NT x86";
inline constexpr char16_t kMonitorsKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline constexpr char16_t kLanguageMonitorKey[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\HX352 Language Monitor";
inline constexpr char16_t kSpoolerService[] = u"Spooler";

// Windows paths live in buffers of 260 units with the terminator.
inline constexpr unsigned kMaxPath = 260;

}  // namespace hx::driverutil
