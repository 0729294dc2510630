// SerialPorts over the communications calls of the kernel and its settings dialog.
#include <windows.h>

#include <bit>
#include <cstddef>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(sizeof(Dcb) == sizeof(DCB));
static_assert(sizeof(Dcb) == 28);
static_assert(offsetof(Dcb, dcbLength) == offsetof(DCB, DCBlength));
static_assert(offsetof(Dcb, baudRate) == offsetof(DCB, BaudRate));
// The bit fields fill the word between BaudRate and wReserved.
static_assert(offsetof(Dcb, flags) == offsetof(DCB, BaudRate) + sizeof(DWORD));
static_assert(offsetof(Dcb, reserved) == offsetof(DCB, wReserved));
static_assert(offsetof(Dcb, xonLim) == offsetof(DCB, XonLim));
static_assert(offsetof(Dcb, xoffLim) == offsetof(DCB, XoffLim));
static_assert(offsetof(Dcb, byteSize) == offsetof(DCB, ByteSize));
static_assert(offsetof(Dcb, parity) == offsetof(DCB, Parity));
static_assert(offsetof(Dcb, stopBits) == offsetof(DCB, StopBits));
static_assert(offsetof(Dcb, xonChar) == offsetof(DCB, XonChar));
static_assert(offsetof(Dcb, xoffChar) == offsetof(DCB, XoffChar));
static_assert(offsetof(Dcb, errorChar) == offsetof(DCB, ErrorChar));
static_assert(offsetof(Dcb, eofChar) == offsetof(DCB, EofChar));
static_assert(offsetof(Dcb, evtChar) == offsetof(DCB, EvtChar));
static_assert(offsetof(Dcb, reserved1) == offsetof(DCB, wReserved1));

// The flag constants name the same bits as Windows' bit fields.
constexpr std::uint32_t flagsOf(bool binary, DWORD dtrControl) {
    DCB dcb{};
    dcb.fBinary = binary;
    dcb.fDtrControl = dtrControl;
    return std::bit_cast<Dcb>(dcb).flags;
}
static_assert(flagsOf(true, 0) == win::kDcbBinary);
static_assert(flagsOf(false, DTR_CONTROL_ENABLE) == win::kDcbDtrControlEnable);

static_assert(sizeof(CommConfig) == sizeof(COMMCONFIG));
static_assert(sizeof(CommConfig) == 52);
static_assert(offsetof(CommConfig, size) == offsetof(COMMCONFIG, dwSize));
static_assert(offsetof(CommConfig, version) == offsetof(COMMCONFIG, wVersion));
static_assert(offsetof(CommConfig, reserved) == offsetof(COMMCONFIG, wReserved));
static_assert(offsetof(CommConfig, dcb) == offsetof(COMMCONFIG, dcb));
static_assert(offsetof(CommConfig, providerSubType) == offsetof(COMMCONFIG, dwProviderSubType));
static_assert(offsetof(CommConfig, providerOffset) == offsetof(COMMCONFIG, dwProviderOffset));
static_assert(offsetof(CommConfig, providerSize) == offsetof(COMMCONFIG, dwProviderSize));
static_assert(offsetof(CommConfig, providerData) == offsetof(COMMCONFIG, wcProviderData));

class Win32SerialPorts final : public SerialPorts {
public:
    bool getCommState(Handle port, Dcb* dcb) override {
        return ::GetCommState(port, reinterpret_cast<DCB*>(dcb)) != FALSE;
    }

    // SetCommState only reads the record it is given, though it is declared
    // to take a writable one.
    bool setCommState(Handle port, const Dcb* dcb) override {
        return ::SetCommState(port, const_cast<DCB*>(reinterpret_cast<const DCB*>(dcb))) != FALSE;
    }

    bool commConfigDialog(const char16_t* portName, Handle owner, CommConfig* config) override {
        return ::CommConfigDialogW(wide(portName), static_cast<HWND>(owner), reinterpret_cast<COMMCONFIG*>(config)) !=
               FALSE;
    }
};

}  // namespace

SerialPorts& serialPorts() {
    static Win32SerialPorts instance;
    return instance;
}

}  // namespace hx::platform::win32
