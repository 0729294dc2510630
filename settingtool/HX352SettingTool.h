/* The exported interface of HX-352SettingToolDll: plain C, 32-bit results. */
#ifndef HX352_SETTING_TOOL_H
#define HX352_SETTING_TOOL_H

#include <stdint.h>

#if defined(_WIN32)
#define HX_API __declspec(dllexport)
#define HX_CALL __stdcall
#else
#define HX_API __attribute__((visibility("default")))
#define HX_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum HXError {
    HX_ERR_SUCCESS = 0,
    HX_ERR_INVALID_PARAM = 1,
    HX_ERR_FILE_NOT_FIND = 2,
    HX_ERR_INVALID_FIRMWARE = 9,
    HX_ERR_NOT_FINE_USB_PRINTER = 50,
    HX_ERR_CANNOT_OPEN_USB_PRINTER = 51,
    HX_ERR_WRITE_USB_FAIL = 52,
    HX_ERR_READ_USB_FAIL = 53,
    HX_ERR_READ_USB_BEYOND_MAX_TIME = 54,
    HX_ERR_VERSION_NONSUPPORT_GETTING_RESULT = 55,
    HX_ERR_PRINT_STATUS_IS_NOT_READY = 56
} HXError;

/* UTF-16 text is uint16_t here so that C callers need no char16_t. */
typedef struct HXPrinterInfo {
    uint16_t printerType[64];
    uint16_t serialNumber[64];
    uint16_t firmwareVersion[64];
    int32_t status;
    int32_t printedLength;
} HXPrinterInfo;

#pragma pack(push, 1)
typedef struct HXPrintSettingParam {
    uint8_t field1;
    uint8_t field2;
    uint16_t field3;
    uint8_t field4, field5, field6, field7, field8, field9, field10, field11;
    int16_t field12;
    uint16_t field13;
} HXPrintSettingParam;

typedef struct HXTextTestParam {
    uint8_t labelWidth;  /* millimetres */
    uint8_t labelHeight; /* millimetres */
    uint16_t text[1];    /* zero-terminated, runs on past the declared array */
} HXTextTestParam;
#pragma pack(pop)

HX_API int32_t HX_CALL USBCheckConnection(void);
HX_API int32_t HX_CALL HXGetPrinterType(uint16_t* type);
HX_API int32_t HX_CALL HXGetPrinterSerialNum(uint16_t* serialNumber);
HX_API int32_t HX_CALL HXGetPrinterFirmwareVer(uint16_t* version);
HX_API int32_t HX_CALL HXGetPrinterIsOK(int32_t* status);
HX_API int32_t HX_CALL HXGetPrinterPrintedLen(int32_t* length);
HX_API int32_t HX_CALL HXGetPrinterInfo(HXPrinterInfo* info);

HX_API int32_t HX_CALL HXSetPrintSetting(const HXPrintSettingParam* param);
HX_API int32_t HX_CALL HXSetUserDefSetting(const uint8_t* value);
HX_API int32_t HX_CALL HXRestoreFactorySettings(void);
HX_API int32_t HX_CALL HXSetLocationSetting(const uint8_t* value);
HX_API int32_t HX_CALL HXSetDumpMode(int32_t mode);
HX_API int32_t HX_CALL HXLabelLackPaperLearn(void);
HX_API int32_t HX_CALL HXGetPrinterPrintSettingParam(HXPrintSettingParam* param);
HX_API int32_t HX_CALL GetSettingResult(void);

HX_API int32_t HX_CALL HXSelfTestPrint(void);
HX_API int32_t HX_CALL HXTextTestPrint(const HXTextTestParam* param);
HX_API int32_t HX_CALL HXBadPointCheck(int32_t* count);

HX_API int32_t HX_CALL BaseDownloadFirmware(const uint16_t* path);

HX_API int32_t HX_CALL BaseGetHXError(void);
HX_API void HX_CALL BaseGetHXErrorString(int32_t code, uint16_t* text);
HX_API uint16_t* HX_CALL BaseGetPOText(const char* key, uint16_t* text);

#ifdef __cplusplus
}
#endif

#endif
