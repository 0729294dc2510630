// Label jobs in the printer's text command language, one command per CR LF line.
#include "settingtool/test_prints.h"

#include <span>
#include <vector>

#include "settingtool/frames.h"
#include "settingtool/queries.h"

namespace hx::settingtool {

std::optional<std::string> buildTextTestJob(std::uint8_t widthMm, std::uint8_t heightMm, std::string_view text) {
    static constexpr std::string_view kFixedLines =
        "GAP 3 mm,0 mm\r\nREFERENCE 0,0\r\nSPEED 5\r\nDENSITY 8\r\nSET PEEL OFF\r\nSET CUTTER OFF\r\n"
        "SET PARTIAL_CUTTER OFF\r\nSET TEAR ON\r\nDIRECTION 0\r\nSHIFT 0\r\nOFFSET 0 mm\r\nCLS\r\n";
    std::string job = "SIZE " + std::to_string(widthMm) + "mm," + std::to_string(heightMm) + "mm\r\n";
    job += kFixedLines;

    // Lines go out as they are: no escaping, a lone CR or LF stays in its line.
    int y = 10;
    std::string_view rest = text;
    for (;;) {
        const auto lineEnd = rest.find("\r\n");
        job += "TEXT 10," + std::to_string(y) + ",\"TSS24.BF2\",0,1,1,\"";
        job += rest.substr(0, lineEnd);
        job += "\"\r\n";
        if (lineEnd == std::string_view::npos) break;
        rest.remove_prefix(lineEnd + 2);
        if (rest.empty()) break;
        y += 30;
        if (job.size() > kTextTestMaxJobBytes) return std::nullopt;  // no need to build on
    }
    job += "PRINT 1,1\r\n";
    if (job.size() > kTextTestMaxJobBytes) return std::nullopt;
    return job;
}

bool selfTestPrint(Session& session) {
    if (!statusGate(session) || !session.transport.ensurePrinter()) return false;
    const auto job = session.platform.resources.findModuleResource(kSettingToolModule, u"BIN", kSelfTestResourceId);
    if (job.empty()) return false;
    auto& transport = session.transport;
    if (!transport.usbWrite(commandFrame(command::kGroupTest, {0x01}))) return false;
    // The lock taken by the command stays held through the pause, so nobody
    // comes between the command and its job.
    session.platform.clock.sleep(kSelfTestPauseMs);
    return transport.usbWrite(job);
}

bool textTestPrint(Session& session, const HXTextTestParam* param) {
    if (!statusGate(session)) return false;
    if (param == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    if (!session.transport.ensurePrinter()) return false;

    auto& codePages = session.platform.codePages;
    const auto* text = reinterpret_cast<const char16_t*>(param->text);
    const int needed = codePages.wideCharToMultiByte(platform::win::kCpAcp, 0, text, -1, nullptr, 0);
    // A label too long for the printer's buffers is refused whole rather than cut.
    if (needed <= 0 || static_cast<std::size_t>(needed) > kTextTestMaxTextBytes) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    std::vector<char> ansi(static_cast<std::size_t>(needed));
    const int converted = codePages.wideCharToMultiByte(platform::win::kCpAcp, 0, text, -1, ansi.data(), needed);
    if (converted <= 0) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    const auto job = buildTextTestJob(param->labelWidth, param->labelHeight,
                                      std::string_view(ansi.data()));  // up to the terminator
    if (!job) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    return session.transport.usbWrite(std::span(reinterpret_cast<const std::uint8_t*>(job->data()), job->size()));
}

bool badPointCheck(Session& session, std::int32_t* count) {
    if (count == nullptr) {
        session.errors.set(HX_ERR_INVALID_PARAM);
        return false;
    }
    return queryNumber(session, command::kGroupTest, command::kQueryBadDots, *count);
}

}  // namespace hx::settingtool
