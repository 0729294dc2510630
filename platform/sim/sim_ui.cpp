// The window layer of the simulated machine: a modal dialog from the program's
// templates that initialises through the caller's procedure and ends as the
// test decided (Machine::dialogResult).
#include <algorithm>

#include "platform/sim/machine_impl.h"

namespace hx::sim::detail {
namespace {

constexpr std::uint32_t kErrorResourceDataNotFound = 1812;
// Dialog windows are not counted resources: each lives only inside its call.
constexpr std::uintptr_t kDialogWindowBase = 0x30000;

}  // namespace

std::intptr_t SimWindowsUi::dialogBoxParam(platform::Handle instance, std::uint16_t templateId,
                                           platform::Handle /*owner*/, platform::DialogProc proc,
                                           std::intptr_t param) {
    std::string line = "DialogBoxParamW " + std::to_string(templateId);
    auto failWith = [&](std::uint32_t error) {
        m_.fail(error);
        m_.log(line + " -> " + std::to_string(error));
        return std::intptr_t{-1};
    };
    if (auto fault = m_.injectedFault("DialogBoxParamW")) return failWith(*fault);
    // Only the program's own module (a null instance) carries dialog templates.
    const auto& templates = m_.dialogTemplates;
    if (instance || std::find(templates.begin(), templates.end(), templateId) == templates.end()) {
        return failWith(kErrorResourceDataNotFound);
    }
    m_.log(line);
    auto* window = reinterpret_cast<platform::Handle>(kDialogWindowBase + templateId);
    if (proc) proc(window, platform::win::kWmInitDialog, 0, param);
    return m_.owner ? m_.owner->dialogResult : 1;
}

}  // namespace hx::sim::detail

namespace hx::sim {

std::vector<std::uint16_t>& Machine::programDialogTemplates() { return impl_->dialogTemplates; }

}  // namespace hx::sim
