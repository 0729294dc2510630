// hx352ctl: talks to an HX-352 through the settings library's exports and shows
// the answers and, on the simulated printer, what went over the wire.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "Driver/DriverInstall_Src/driverutil/HX352DriverUtil.h"
#include "settingtool/HX352SettingTool.h"
#include "tools/hx352ctl/wire_view.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage = R"(usage: hx352ctl [--width MM] [--height MM] COMMAND [ARG]

Commands:
  check            connection check
  info             printer type, serial number, firmware version, status, printed length
  text TEXT        print TEXT on a label (lines separated by \n)
  selftest         print the stored self-test label
  firmware FILE    download FILE as the printer's firmware
  demo [TEXT]      all of the above in turn (a small made-up firmware image)
  install          install the driver (port monitor, port, driver package)
  uninstall        remove the driver, its printers and the port monitor

Options:
  --width MM       label width for text (default 60)
  --height MM      label height for text (default 40)
  -h, --help       this text

Each print, setting and download is followed by the printer's acknowledgement
where there is one. On Linux the commands act on the simulated machine kept in
$HX352_SIM_MACHINE (default ~/.local/state/hx352-sim/machine), so one run
continues where the last one left it. Exit status: 0 success, 1 the printer or
the system refused or failed, 2 bad usage.
)";

std::u16string widen(const std::string& text) {
    // Labels are ASCII in practice; anything else passes through as Latin-1.
    return std::u16string(text.begin(), text.end());
}

std::string narrow(const std::uint16_t* text) {
    std::string out;
    for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string errorText(std::int32_t code) {
    std::uint16_t buffer[64] = {};
    BaseGetHXErrorString(code, buffer);
    return std::to_string(code) + (buffer[0] ? " (" + narrow(buffer) + ")" : "");
}

class Session {
public:
    // `printerError`: a failure is told by the settings library's last error.
    bool step(const char* name, const std::function<bool()>& action, bool printerError = true) {
        std::cout << name << "\n";
        const bool ok = action();
        wireShown_ = hx::ctl::showWire(std::cout, wireShown_);
        if (!ok && printerError) std::cout << "  failed: error " << errorText(BaseGetHXError()) << "\n";
        allOk_ = allOk_ && ok;
        return ok;
    }
    bool acknowledgement() {
        return step("acknowledgement", [] {
            const bool accepted = GetSettingResult() == 1;
            std::cout << "  <- " << (accepted ? "accepted" : "not accepted") << "\n";
            return accepted;
        });
    }
    [[nodiscard]] int exitCode() const { return allOk_ ? kExitOk : kExitFailed; }

private:
    std::size_t wireShown_ = 0;
    bool allOk_ = true;
};

bool check() {
    const bool there = USBCheckConnection() == 1;
    std::cout << "  <- " << (there ? "printer connected" : "no answer") << "\n";
    return there;
}

bool info() {
    HXPrinterInfo record{};
    if (HXGetPrinterInfo(&record) != 1) return false;
    std::cout << "  <- type " << narrow(record.printerType) << ", serial " << narrow(record.serialNumber)
              << ", firmware " << narrow(record.firmwareVersion) << ", status " << record.status
              << ", printed length " << record.printedLength << "\n";
    return true;
}

bool text(const std::string& label, int width, int height) {
    std::string crlf;
    for (char c : label) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::u16string text = widen(crlf);
    std::vector<std::uint8_t> storage(2 + (text.size() + 1) * 2);
    auto* param = reinterpret_cast<HXTextTestParam*>(storage.data());
    param->labelWidth = static_cast<std::uint8_t>(width);
    param->labelHeight = static_cast<std::uint8_t>(height);
    std::memcpy(param->text, text.c_str(), (text.size() + 1) * 2);
    return HXTextTestPrint(param) == 1;
}

bool firmware(const std::string& path) {
    const std::u16string wide = widen(path);
    return BaseDownloadFirmware(reinterpret_cast<const std::uint16_t*>(wide.c_str())) == 1;
}

std::string makeDemoFirmware() {
    const auto path = std::filesystem::temp_directory_path() / "hx352ctl-demo-firmware.bin";
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(static_cast<char>(i * 7));
    return path.string();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    int width = 60, height = 40;
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("-"); ++i) {
        const std::string& option = args[i];
        if (option == "-h" || option == "--help") {
            std::cout << kUsage;
            return kExitOk;
        }
        if ((option == "--width" || option == "--height") && i + 1 < args.size()) {
            const int value = std::atoi(args[++i].c_str());
            if (value < 0 || value > 255) {
                std::cerr << "hx352ctl: " << option << " takes 0 to 255\n";
                return kExitUsage;
            }
            (option == "--width" ? width : height) = value;
            continue;
        }
        std::cerr << "hx352ctl: unknown option " << option << "\n" << kUsage;
        return kExitUsage;
    }
    if (i >= args.size()) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const std::string command = args[i];
    const std::string argument = i + 1 < args.size() ? args[i + 1] : "";

    Session session;
    if (command == "check") {
        session.step("connection check", check);
    } else if (command == "info") {
        session.step("printer information", info);
    } else if (command == "text" && !argument.empty()) {
        session.step("text test print", [&] { return text(argument, width, height); });
    } else if (command == "selftest") {
        session.step("self-test print", [] { return HXSelfTestPrint() == 1; });
    } else if (command == "firmware" && !argument.empty()) {
        if (session.step("firmware download", [&] { return firmware(argument); })) session.acknowledgement();
    } else if (command == "install" || command == "uninstall") {
        session.step(command == "install" ? "driver installation" : "driver removal", [&] {
            const int32_t result = command == "install" ? HX352InstallDriver(nullptr) : uninstall();
            std::cout << "  result " << result << (result == 0 ? " (success)" : "") << "\n";
            return result == 0;
        }, false);
    } else if (command == "demo") {
        const std::string label = argument.empty() ? "HX-352\nHello, label" : argument;
        session.step("connection check", check);
        session.step("printer information", info);
        session.step("text test print", [&] { return text(label, width, height); });
        session.step("self-test print", [] { return HXSelfTestPrint() == 1; });
        const std::string image = makeDemoFirmware();
        if (session.step("firmware download", [&] { return firmware(image); })) session.acknowledgement();
        std::filesystem::remove(image);
    } else {
        std::cerr << "hx352ctl: unknown command or missing argument: " << command << "\n" << kUsage;
        return kExitUsage;
    }
    return session.exitCode();
}
