// WindowsUi over the modal dialog call of the window manager.
#include <windows.h>

#include <type_traits>

#include "platform/win32/services.h"

namespace hx::platform::win32 {
namespace {

static_assert(win::kWmInitDialog == WM_INITDIALOG && win::kWmCommand == WM_COMMAND);

// The interface's dialog procedure has DLGPROC's parameters and result, unit
// for unit, and on x64 there is a single calling convention.
static_assert(sizeof(std::uintptr_t) == sizeof(WPARAM) && std::is_unsigned_v<WPARAM>);
static_assert(sizeof(std::intptr_t) == sizeof(LPARAM) && std::is_signed_v<LPARAM>);
static_assert(sizeof(std::intptr_t) == sizeof(INT_PTR) && std::is_signed_v<INT_PTR>);
static_assert(sizeof(std::uint32_t) == sizeof(UINT));

class Win32WindowsUi final : public WindowsUi {
public:
    std::intptr_t dialogBoxParam(Handle instance, std::uint16_t templateId, Handle owner, DialogProc proc,
                                 std::intptr_t param) override {
        return ::DialogBoxParamW(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEW(templateId),
                                 static_cast<HWND>(owner), reinterpret_cast<DLGPROC>(proc), param);
    }
};

}  // namespace

WindowsUi& windowsUi() {
    static Win32WindowsUi instance;
    return instance;
}

}  // namespace hx::platform::win32
