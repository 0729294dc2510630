// The exported C interface: each shim checks its arguments, runs the logic on
// the process platform and turns the outcome into the specified result.
#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"

#include "Driver/DriverInstall_Src/driverutil/helpers.h"
#include "Driver/DriverInstall_Src/driverutil/inf_search.h"
#include "Driver/DriverInstall_Src/driverutil/install.h"
#include "Driver/DriverInstall_Src/driverutil/port_settings.h"
#include "Driver/DriverInstall_Src/driverutil/ports.h"
#include "Driver/DriverInstall_Src/driverutil/removal.h"
#include "Driver/DriverInstall_Src/driverutil/system_info.h"
#include "platform/platform.h"

namespace du = hx::driverutil;
using hx::platform::processPlatform;

extern "C" {

// ---- Installation and removal ----

HXDU_API int32_t HX352InstallDriver(void* /*reserved*/) { return du::installDriver(processPlatform()); }
HXDU_API int32_t uninstall(void) { return du::uninstallDriver(processPlatform()); }
HXDU_API int32_t HX352UninstallDriver(void) { return uninstall(); }
HXDU_API int32_t HX352UpdateDriver(void) { return HX_FUNCTION_NOT_IMPLEMENTED; }
HXDU_API int32_t HX352CheckDriverV(void) { return HX_FUNCTION_NOT_IMPLEMENTED; }
HXDU_API int32_t myFileRead(void* buffer, int32_t count, FILE* stream) { return du::myFileRead(buffer, count, stream); }

// ---- Ports, monitors and spooler memory ----

static_assert(sizeof(HXPortInfo2W) == sizeof(hx::platform::PortInfo2));

HXDU_API HXPortInfo2W* enumPrinterPorts(uint32_t* count) {
    if (count == nullptr) return nullptr;
    return reinterpret_cast<HXPortInfo2W*>(du::enumPrinterPorts(processPlatform(), *count));
}
HXDU_API void ReleasePortInfo(void* block) { du::releasePortInfo(processPlatform(), block); }
HXDU_API int32_t isCOM(const uint16_t* portName) { return du::isComPortName(du::utf16(portName)) ? 1 : 0; }
HXDU_API int32_t isLPT(const uint16_t* portName) { return du::isLptPortName(du::utf16(portName)) ? 1 : 0; }
HXDU_API int32_t getMonitors(MonitorList* list) {
    return list != nullptr && du::getMonitors(processPlatform(), *list) ? 1 : 0;
}
HXDU_API int32_t changePort(const uint16_t* printerName, const uint16_t* portName) {
    return du::changePort(processPlatform(), du::utf16(printerName), du::utf16(portName)) ? 1 : 0;
}
HXDU_API uint16_t* AllocSplStr(const uint16_t* text) {
    return du::exported(du::allocSplStr(processPlatform().memory, du::utf16(text)));
}
HXDU_API void* AllocSplMem(uint32_t size) { return du::allocSplMem(processPlatform().memory, size); }
HXDU_API int32_t FreeSplMem(void* block) { return du::freeSplMem(processPlatform().memory, block) ? 1 : 0; }
#if !defined(_WIN32)
// One function under two names; on Windows the export list maps FreeSplStr onto FreeSplMem.
HXDU_API int32_t FreeSplStr(void* block) __attribute__((alias("FreeSplMem")));
#endif

// ---- Serial and parallel port settings ----

HXDU_API int32_t configCOM(const uint16_t* portName, int32_t baudRate, void** ownerWindow, void** savedSettings,
                           int32_t showDialog) {
    const hx::platform::Handle owner = ownerWindow != nullptr ? *ownerWindow : nullptr;
    return du::configCom(processPlatform(), du::utf16(portName), baudRate, owner, savedSettings, showDialog != 0);
}
HXDU_API int32_t configLPT(const uint16_t* portName, int32_t templateId, HXDialogProc dialogProc) {
    return du::configLpt(processPlatform(), du::utf16(portName), templateId, dialogProc);
}

// ---- System information ----

HXDU_API int32_t getOsName(uint16_t* name) { return du::getOsName(processPlatform(), du::utf16(name)) ? 1 : 0; }
HXDU_API int32_t GetSystemBits(void) { return du::getSystemBits(processPlatform().system); }
HXDU_API const uint16_t* getEnvironment(int32_t is64Bit) {
    return reinterpret_cast<const uint16_t*>(du::getEnvironment(is64Bit != 0));
}
HXDU_API int32_t isChineseOs(void) { return du::isChineseOs(processPlatform().system) ? 1 : 0; }

// ---- General helpers ----

HXDU_API int32_t getRegStr(const uint16_t* subKey, const uint16_t* valueName, uint16_t* value) {
    return du::getRegStr(processPlatform(), du::utf16(subKey), du::utf16(valueName), du::utf16(value)) ? 1 : 0;
}
HXDU_API int32_t setRegStr(const uint16_t* subKey, const uint16_t* valueName, const uint16_t* value) {
    return du::setRegStr(processPlatform(), du::utf16(subKey), du::utf16(valueName), du::utf16(value)) ? 1 : 0;
}
HXDU_API int32_t _SetPrivilege(void* token, const uint16_t* privilege, int32_t enable) {
    return du::setPrivilege(processPlatform(), token, du::utf16(privilege), enable != 0) ? 1 : 0;
}
HXDU_API int32_t copyDirFiles(const uint16_t* to, const uint16_t* from) {
    return du::copyDirFiles(processPlatform(), du::utf16(to), du::utf16(from)) ? 1 : 0;
}
HXDU_API int32_t FileIsExist(const uint16_t* path) {
    return du::fileIsExist(processPlatform(), du::utf16(path)) ? 1 : 0;
}
HXDU_API int64_t GetFileLen(FILE* stream) { return du::getFileLen(stream); }
HXDU_API uint16_t* AddDoubleQuotations3Str(uint16_t* destination, const uint16_t* text) {
    return du::exported(du::addDoubleQuotations3Str(du::utf16(destination), du::utf16(text)));
}
HXDU_API uint16_t* AddDoubleQuotations2Str(uint16_t* text) {
    return du::exported(du::addDoubleQuotations2Str(du::utf16(text)));
}
HXDU_API int32_t enumLocalPrinters(void** block, uint32_t* count) {
    if (block == nullptr || count == nullptr) return 0;
    return du::enumLocalPrinters(processPlatform(), *block, *count) ? 1 : 0;
}
HXDU_API int32_t getSpecifiedPrinterCount(const uint16_t* driverName, const uint16_t* prefix) {
    return du::getSpecifiedPrinterCount(processPlatform(), du::utf16(driverName), du::utf16(prefix));
}
HXDU_API char* UTF8_To_string(const char* utf8) { return du::utf8ToString(processPlatform(), utf8); }
HXDU_API int32_t isMatch(const uint16_t* text) { return du::isMatch(du::utf16(text)) ? 1 : 0; }
HXDU_API uint16_t* getPrinterDriverDir(int32_t is64Bit) {
    return du::exported(du::getPrinterDriverDir(processPlatform(), is64Bit != 0));
}

}  // extern "C"
