// The window layer the libraries reach: a caller's modal dialog from the
// program's own resources.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace hx::platform {

// The signature of a dialog procedure (hwnd, message, wParam, lParam).
using DialogProc = std::intptr_t (*)(Handle, std::uint32_t, std::uintptr_t, std::intptr_t);

namespace win {
inline constexpr std::uint32_t kWmInitDialog = 0x110;
inline constexpr std::uint32_t kWmCommand = 0x111;
}  // namespace win

class WindowsUi {
public:
    virtual ~WindowsUi() = default;
    // DialogBoxParamW: runs the modal dialog of template `templateId` from
    // module `instance` (null: the program's executable), hands `param` to the
    // procedure with WM_INITDIALOG and returns the EndDialog result; -1 on failure.
    virtual std::intptr_t dialogBoxParam(Handle instance, std::uint16_t templateId, Handle owner, DialogProc proc,
                                         std::intptr_t param) = 0;
};

}  // namespace hx::platform
