// Serial ports of the simulated machine: the line settings behind a "\\.\COMn"
// handle and the settings dialog, which plays what the test scripted.
#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

using namespace platform::win;

constexpr std::uint32_t kErrorInvalidFunction = 1;

// The port whose device the handle opened; the error to fail with when none.
std::variant<SimSerialPort*, std::uint32_t> portOf(Machine::Impl& machine, platform::Handle handle) {
    auto* device = machine.findDevice(handle);
    if (!device) {
        // Any other kind of handle is valid but no communications device.
        return machine.find(handle) ? kErrorInvalidFunction : kErrorInvalidHandle;
    }
    if (device->serialPort.empty()) return kErrorInvalidFunction;
    for (auto& port : machine.serialPorts) {
        if (equalsIgnoreCase(port.name, device->serialPort)) return &port;
    }
    return kErrorGenFailure;  // the port went away while the handle was open
}

// What a serial driver takes: 5 to 8 data bits, parity none/odd/even/mark/space,
// 1, 1.5 or 2 stop bits, some speed.
bool acceptable(const platform::Dcb& dcb) {
    return dcb.baudRate != 0 && dcb.byteSize >= 5 && dcb.byteSize <= 8 && dcb.parity <= 4 && dcb.stopBits <= 2;
}

}  // namespace

std::vector<SimSerialPort> defaultSerialPorts() {
    platform::Dcb dcb{};
    dcb.dcbLength = sizeof(platform::Dcb);
    dcb.baudRate = 9600;
    dcb.flags = kDcbBinary | kDcbDtrControlEnable;
    dcb.xonLim = 2048;
    dcb.xoffLim = 512;
    dcb.byteSize = 8;
    dcb.parity = 0;
    dcb.stopBits = 0;
    dcb.xonChar = 0x11;
    dcb.xoffChar = 0x13;
    std::vector<SimSerialPort> ports;
    for (auto name : {u"COM1", u"COM2", u"COM3", u"COM4"}) ports.push_back({name, dcb, false});
    return ports;
}

bool SimSerialPorts::getCommState(platform::Handle handle, platform::Dcb* dcb) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("GetCommState -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("GetCommState")) return failWith(*fault);
    auto port = portOf(m_, handle);
    if (auto* error = std::get_if<std::uint32_t>(&port)) return failWith(*error);
    if (!dcb) return failWith(kErrorInvalidParameter);
    auto& found = *std::get<SimSerialPort*>(port);
    *dcb = found.dcb;
    dcb->dcbLength = sizeof(platform::Dcb);
    m_.log("GetCommState " + toUtf8(found.name) + " " + std::to_string(dcb->baudRate));
    return true;
}

bool SimSerialPorts::setCommState(platform::Handle handle, const platform::Dcb* dcb) {
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log("SetCommState -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("SetCommState")) return failWith(*fault);
    auto port = portOf(m_, handle);
    if (auto* error = std::get_if<std::uint32_t>(&port)) return failWith(*error);
    auto& found = *std::get<SimSerialPort*>(port);
    if (!dcb || found.refuseSettings || !acceptable(*dcb)) return failWith(kErrorInvalidParameter);
    found.dcb = *dcb;
    m_.log("SetCommState " + toUtf8(found.name) + " " + std::to_string(dcb->baudRate));
    return true;
}

bool SimSerialPorts::commConfigDialog(const char16_t* portName, platform::Handle /*owner*/,
                                      platform::CommConfig* config) {
    std::string line = "CommConfigDialogW " + (portName ? toUtf8(portName) : std::string("(null)"));
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return false;
    };
    if (auto fault = m_.injectedFault("CommConfigDialogW")) return failWith(*fault);
    if (!portName || !config) return failWith(kErrorInvalidParameter);
    bool known = false;
    for (const auto& port : m_.serialPorts) known = known || equalsIgnoreCase(port.name, portName);
    if (!known) return failWith(kErrorInvalidParameter);
    m_.lastSerialDialogDcb = config->dcb;
    const auto& script = m_.serialDialog;
    if (script.cancel) return failWith(kErrorCancelled);
    if (script.baudRate) config->dcb.baudRate = *script.baudRate;
    m_.log(line + " " + std::to_string(config->dcb.baudRate));
    return true;
}

}  // namespace hx::sim::detail

namespace hx::sim {

std::vector<SimSerialPort>& Machine::serialPorts() { return impl_->serialPorts; }
SerialDialogScript& Machine::serialDialog() { return impl_->serialDialog; }
const std::optional<platform::Dcb>& Machine::lastSerialDialogDcb() const { return impl_->lastSerialDialogDcb; }

}  // namespace hx::sim
