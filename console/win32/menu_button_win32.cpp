// SPDX-License-Identifier: MIT
// CMenuButton on Win32. The items live with the button's window, so a
// dialog may set them whenever it likes and they go with the window.
#include "menu_button_win32.h"

#include "dialog_base.h"
#include "menu_button.h"
#include "win32_backend.h"

#include <vector>

namespace {

struct ButtonMenu {
    std::vector<MenuItem> items;
    int chosen = -1;
};

constexpr UINT_PTR kSubclassId = 1;
// The button's menu is found through a window property (mingw's comctl32
// has no GetWindowSubclass); the subclass is there to free it.
constexpr wchar_t kMenuProp[] = L"MarbrixButtonMenu";

LRESULT CALLBACK ButtonMenuProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data)
{
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, ButtonMenuProc, kSubclassId);
        RemovePropW(hWnd, kMenuProp);
        delete reinterpret_cast<ButtonMenu*>(data);
    }
    return DefSubclassProc(hWnd, message, wParam, lParam);
}

// The button's menu, made on first use.
ButtonMenu* MenuOf(HWND button)
{
    if (!button)
        return nullptr;
    if (auto* menu = static_cast<ButtonMenu*>(GetPropW(button, kMenuProp)))
        return menu;
    auto* menu = new ButtonMenu;
    if (!SetWindowSubclass(button, ButtonMenuProc, kSubclassId, DWORD_PTR(menu))) {
        delete menu;
        return nullptr;
    }
    SetPropW(button, kMenuProp, menu);
    return menu;
}

HWND Handle(const CDlgItem& item)
{
    return item.Dialog() ? Win32Control(*item.Dialog(), item.GetDlgCtrlID()) : nullptr;
}

}  // namespace

void CMenuButton::SetItems(const std::vector<MenuItem>& items)
{
    if (ButtonMenu* menu = MenuOf(Handle(*this)))
        menu->items = items;
}

int CMenuButton::GetChosen() const
{
    ButtonMenu* menu = MenuOf(Handle(*this));
    return menu ? menu->chosen : -1;
}

void RunButtonMenu(CDialog& owner, HWND button, int id)
{
    LRESULT result = 0;
    owner.OnWndMsg(WM_COMMAND, MAKEWPARAM(unsigned(id), MBN_DROPDOWN), LPARAM(button), &result);
    ButtonMenu* state = MenuOf(button);
    if (!state || state->items.empty())
        return;
    HMENU popup = CreatePopupMenu();
    if (!popup)
        return;
    // Item ids start at 1: TrackPopupMenu's 0 is "nothing chosen".
    for (size_t i = 0; i < state->items.size(); ++i) {
        const MenuItem& item = state->items[i];
        const UINT flags =
            MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED) | (item.enabled ? MF_ENABLED : MF_GRAYED);
        AppendMenuW(popup, flags, UINT_PTR(i + 1), ToWide(item.text).c_str());
    }
    RECT rc;
    GetWindowRect(button, &rc);
    const UINT picked = UINT(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_TOPALIGN,
                                            rc.left, rc.bottom, 0, GetParent(button), nullptr));
    DestroyMenu(popup);
    // The dialog may have gone while the menu was open.
    state = IsWindow(button) ? MenuOf(button) : nullptr;
    if (picked == 0 || !state)
        return;
    state->chosen = int(picked) - 1;
    owner.OnWndMsg(WM_COMMAND, MAKEWPARAM(unsigned(id), MBN_CHOSEN), LPARAM(button), &result);
}
