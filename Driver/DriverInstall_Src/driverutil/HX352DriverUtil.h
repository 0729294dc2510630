/* The exported interface of HX-352DriverUtilDll: plain C, fixed-width results. */
#ifndef HX352_DRIVER_UTIL_H
#define HX352_DRIVER_UTIL_H

#include <stdint.h>
#include <stdio.h>

#if defined(_WIN32)
#define HXDU_API __declspec(dllexport)
#else
#define HXDU_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Installation and removal results. */
enum {
    HX_INSTALL_SUCCESS = 0,
    HX_INSTALL_INVALID_PARAM = 1,
    HX_INSTALL_FILE_NOT_FOUND = 2,
    HX_INSTALL_INNER_ERROR = 3,
    HX_INSTALL_DRIVER_ERROR = 4,
    HX_INSTALL_ADD_PRINTER_FAILED = 5,
    HX_UNINSTALL_DELETE_DRIVER_FAILED = 6,
    HX_INSTALL_PRINTER_NOT_CONNECTED = 7,
    HX_FUNCTION_NOT_IMPLEMENTED = 60
};

/* The spooler's level-2 port record (PORT_INFO_2W), UTF-16 as uint16_t. */
typedef struct HXPortInfo2W {
    uint16_t* pPortName;
    uint16_t* pMonitorName;
    uint16_t* pDescription;
    uint32_t fPortType;
    uint32_t Reserved;
} HXPortInfo2W;

typedef struct MonitorList {
    uint16_t names[8][260];
    int32_t count;
} MonitorList;

/* What configLPT hands the caller's dialog procedure with WM_INITDIALOG. */
typedef struct LPTDialogParam {
    const uint16_t* portName;   /* without its trailing colon */
    int32_t timeoutSeconds;     /* the current transmission retry time-out */
} LPTDialogParam;

typedef intptr_t (*HXDialogProc)(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam);

/* Installation and removal. */
HXDU_API int32_t HX352InstallDriver(void* reserved);
HXDU_API int32_t uninstall(void);
HXDU_API int32_t HX352UninstallDriver(void);
HXDU_API int32_t HX352UpdateDriver(void);
HXDU_API int32_t HX352CheckDriverV(void);
HXDU_API int32_t myFileRead(void* buffer, int32_t count, FILE* stream);

/* Ports, monitors and spooler memory. Blocks from enumPrinterPorts,
   enumLocalPrinters, getPrinterDriverDir and UTF8_To_string go back through
   ReleasePortInfo; blocks from AllocSplStr/AllocSplMem through FreeSplMem. */
HXDU_API HXPortInfo2W* enumPrinterPorts(uint32_t* count);
HXDU_API void ReleasePortInfo(void* block);
HXDU_API int32_t isCOM(const uint16_t* portName);
HXDU_API int32_t isLPT(const uint16_t* portName);
HXDU_API int32_t getMonitors(MonitorList* list);
HXDU_API int32_t changePort(const uint16_t* printerName, const uint16_t* portName);
HXDU_API uint16_t* AllocSplStr(const uint16_t* text);
HXDU_API void* AllocSplMem(uint32_t size);
HXDU_API int32_t FreeSplMem(void* block);
HXDU_API int32_t FreeSplStr(void* block);

/* Serial and parallel port settings. */
HXDU_API int32_t configCOM(const uint16_t* portName, int32_t baudRate, void** ownerWindow, void** savedSettings,
                           int32_t showDialog);
HXDU_API int32_t configLPT(const uint16_t* portName, int32_t templateId, HXDialogProc dialogProc);

/* System information. */
HXDU_API int32_t getOsName(uint16_t* name);
HXDU_API int32_t GetSystemBits(void);
HXDU_API const uint16_t* getEnvironment(int32_t is64Bit);
HXDU_API int32_t isChineseOs(void);

/* General helpers. */
HXDU_API int32_t getRegStr(const uint16_t* subKey, const uint16_t* valueName, uint16_t* value);
HXDU_API int32_t setRegStr(const uint16_t* subKey, const uint16_t* valueName, const uint16_t* value);
HXDU_API int32_t _SetPrivilege(void* token, const uint16_t* privilege, int32_t enable);
HXDU_API int32_t copyDirFiles(const uint16_t* to, const uint16_t* from);
HXDU_API int32_t FileIsExist(const uint16_t* path);
HXDU_API int64_t GetFileLen(FILE* stream);
HXDU_API uint16_t* AddDoubleQuotations3Str(uint16_t* destination, const uint16_t* text);
HXDU_API uint16_t* AddDoubleQuotations2Str(uint16_t* text);
HXDU_API int32_t enumLocalPrinters(void** block, uint32_t* count);
HXDU_API int32_t getSpecifiedPrinterCount(const uint16_t* driverName, const uint16_t* prefix);
HXDU_API char* UTF8_To_string(const char* utf8);
HXDU_API int32_t isMatch(const uint16_t* text);
HXDU_API uint16_t* getPrinterDriverDir(int32_t is64Bit);

#ifdef __cplusplus
}
#endif

#endif
