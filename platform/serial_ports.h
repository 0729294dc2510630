// Serial communications: line settings of an open port and the platform's
// settings dialog. Records are layout-compatible with DCB and COMMCONFIG.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

struct Dcb {
    std::uint32_t dcbLength;
    std::uint32_t baudRate;
    std::uint32_t flags;  // fBinary (bit 0) ... fAbortOnError (bit 14), as Windows packs them
    std::uint16_t reserved;
    std::uint16_t xonLim;
    std::uint16_t xoffLim;
    std::uint8_t byteSize;
    std::uint8_t parity;
    std::uint8_t stopBits;
    char xonChar;
    char xoffChar;
    char errorChar;
    char eofChar;
    char evtChar;
    std::uint16_t reserved1;
};

struct CommConfig {
    std::uint32_t size;
    std::uint16_t version;
    std::uint16_t reserved;
    Dcb dcb;
    std::uint32_t providerSubType;
    std::uint32_t providerOffset;
    std::uint32_t providerSize;
    char16_t providerData[1];
};

namespace win {
inline constexpr std::uint32_t kDcbBinary = 0x1;
inline constexpr std::uint32_t kDcbDtrControlEnable = 0x10;  // fDtrControl = 1
}  // namespace win

class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // GetCommState on a port opened with Files::createFile("\\.\COMn").
    virtual bool getCommState(Handle port, Dcb* dcb) = 0;
    // SetCommState: false for settings the device refuses.
    virtual bool setCommState(Handle port, const Dcb* dcb) = 0;
    // CommConfigDialogW: lets the user edit config->dcb; false with
    // kErrorCancelled when the user cancels (config unchanged then).
    virtual bool commConfigDialog(const char16_t* portName, Handle owner, CommConfig* config) = 0;
};

}  // namespace hx::platform
