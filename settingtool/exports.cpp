// The exported C interface: each shim checks its arguments where the contract
// says so, runs the logic on the process session and returns 1 or 0.
#include "settingtool/HX352SettingTool.h"

#include "settingtool/firmware.h"
#include "settingtool/frames.h"
#include "settingtool/queries.h"
#include "settingtool/session.h"
#include "settingtool/settings.h"
#include "settingtool/test_prints.h"
#include "settingtool/text_lookup.h"

using hx::settingtool::Session;
namespace st = hx::settingtool;

namespace {

int32_t result(bool ok) { return ok ? 1 : 0; }

char16_t* utf16(uint16_t* text) { return reinterpret_cast<char16_t*>(text); }

int32_t textQuery(uint16_t* out, uint8_t subCommand) {
    Session& session = Session::process();
    if (out == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return 0;
    }
    return result(st::queryText(session, subCommand, utf16(out)));
}

int32_t numberQuery(int32_t* out, uint8_t subCommand) {
    Session& session = Session::process();
    if (out == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return 0;
    }
    return result(st::queryNumber(session, st::command::kGroupQuery, subCommand, *out));
}

}  // namespace

extern "C" {

HX_API int32_t HX_CALL USBCheckConnection(void) { return result(st::checkConnection(Session::process())); }
HX_API int32_t HX_CALL HXGetPrinterType(uint16_t* type) { return textQuery(type, st::command::kQueryType); }
HX_API int32_t HX_CALL HXGetPrinterSerialNum(uint16_t* serialNumber) {
    return textQuery(serialNumber, st::command::kQuerySerialNumber);
}
HX_API int32_t HX_CALL HXGetPrinterFirmwareVer(uint16_t* version) {
    return textQuery(version, st::command::kQueryFirmwareVersion);
}
HX_API int32_t HX_CALL HXGetPrinterIsOK(int32_t* status) { return numberQuery(status, st::command::kQueryStatus); }
HX_API int32_t HX_CALL HXGetPrinterPrintedLen(int32_t* length) {
    return numberQuery(length, st::command::kQueryPrintedLength);
}
HX_API int32_t HX_CALL HXGetPrinterInfo(HXPrinterInfo* info) {
    return result(st::getPrinterInfo(Session::process(), info));
}

HX_API int32_t HX_CALL HXSetPrintSetting(const HXPrintSettingParam* param) {
    return result(st::setPrintSetting(Session::process(), param));
}
HX_API int32_t HX_CALL HXSetUserDefSetting(const uint8_t* value) {
    return result(st::setUserDefSetting(Session::process(), value));
}
HX_API int32_t HX_CALL HXRestoreFactorySettings(void) {
    return result(st::restoreFactorySettings(Session::process()));
}
HX_API int32_t HX_CALL HXSetLocationSetting(const uint8_t* value) {
    return result(st::setLocationSetting(Session::process(), value));
}
HX_API int32_t HX_CALL HXSetDumpMode(int32_t mode) { return result(st::setDumpMode(Session::process(), mode)); }
HX_API int32_t HX_CALL HXLabelLackPaperLearn(void) { return result(st::labelLackPaperLearn(Session::process())); }
HX_API int32_t HX_CALL HXGetPrinterPrintSettingParam(HXPrintSettingParam* param) {
    return result(st::getPrintSettingParam(Session::process(), param));
}
HX_API int32_t HX_CALL GetSettingResult(void) { return result(st::getSettingResult(Session::process())); }

HX_API int32_t HX_CALL HXSelfTestPrint(void) { return result(st::selfTestPrint(Session::process())); }
HX_API int32_t HX_CALL HXTextTestPrint(const HXTextTestParam* param) {
    return result(st::textTestPrint(Session::process(), param));
}
HX_API int32_t HX_CALL HXBadPointCheck(int32_t* count) { return result(st::badPointCheck(Session::process(), count)); }

HX_API int32_t HX_CALL BaseDownloadFirmware(const uint16_t* path) {
    return result(st::downloadFirmware(Session::process(), reinterpret_cast<const char16_t*>(path)));
}

HX_API int32_t HX_CALL BaseGetHXError(void) { return Session::process().errors.get(); }
HX_API void HX_CALL BaseGetHXErrorString(int32_t code, uint16_t* text) {
    st::lookupErrorText(Session::process(), code, utf16(text));
}
HX_API uint16_t* HX_CALL BaseGetPOText(const char* key, uint16_t* text) {
    return reinterpret_cast<uint16_t*>(st::lookupText(Session::process(), key, utf16(text)));
}

}  // extern "C"
