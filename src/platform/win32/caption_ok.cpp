// The handheld draws an OK button in the caption of a dialog whose template has
// WS_EX_CAPTIONOKBTN, and a tap on it sends the dialog IDOK. The desktop knows no such style: the
// dialog would have no button at all. Such a dialog gets the desktop's close box instead, and the
// close box (or Alt+F4) answers as the caption's OK would. The desktop's dialog font is wider than
// the handheld's, so such a dialog is also kept within the screen's work area, as it fits there on
// the handheld, close box and all.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/win32/desktop.h"

namespace {

const wchar_t kProcProperty[] = L"Pelorn.CaptionOk";

struct Caller {
    DLGPROC proc;
    LPARAM param;
};

void FitWorkArea(HWND hDlg) {
    RECT area, box;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0) || !GetWindowRect(hDlg, &box)) return;
    LONG width = std::min(box.right - box.left, area.right - area.left);
    LONG height = std::min(box.bottom - box.top, area.bottom - area.top);
    LONG left = std::clamp(box.left, area.left, area.right - width);
    LONG top = std::clamp(box.top, area.top, area.bottom - height);
    if (left != box.left || top != box.top || width != box.right - box.left || height != box.bottom - box.top)
        SetWindowPos(hDlg, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CaptionOkProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* caller = reinterpret_cast<Caller*>(lParam);
        SetPropW(hDlg, kProcProperty, caller);
        INT_PTR focus = caller->proc(hDlg, message, wParam, caller->param);
        FitWorkArea(hDlg);
        return focus;
    }
    auto* caller = static_cast<Caller*>(GetPropW(hDlg, kProcProperty));
    if (!caller) return FALSE;
    if (message == WM_NCDESTROY) RemovePropW(hDlg, kProcProperty);
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
        SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return TRUE;
    }
    return caller->proc(hDlg, message, wParam, lParam);
}

// The template's style and extended style, in either form of dialog template; null when it has
// neither form.
bool Styles(std::vector<DWORD>* words, DWORD** style, DWORD** exStyle) {
    auto* bytes = reinterpret_cast<WORD*>(words->data());
    if (words->size() >= 4 && bytes[0] == 1 && bytes[1] == 0xFFFF) {  // DLGTEMPLATEEX
        *exStyle = &(*words)[2];
        *style = &(*words)[3];
        return true;
    }
    if (words->size() >= 2) {  // DLGTEMPLATE
        *style = &(*words)[0];
        *exStyle = &(*words)[1];
        return true;
    }
    return false;
}

}  // namespace

namespace desktop {

INT_PTR RunDialog(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                  LPARAM dwInitParam) {
    HRSRC found = FindResourceW(hInstance, lpTemplateName, MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL loaded = found ? LoadResource(hInstance, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = found ? SizeofResource(hInstance, found) : 0;
    if (!data || !lpDialogFunc)
        return DialogBoxParamW(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);

    // A copy, DWORD-aligned as a template must be, to change the styles in.
    std::vector<DWORD> words((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    std::memcpy(words.data(), data, size);
    DWORD *style = nullptr, *exStyle = nullptr;
    if (!Styles(&words, &style, &exStyle) || !(*exStyle & WS_EX_CAPTIONOKBTN))
        return DialogBoxParamW(hInstance, lpTemplateName, hWndParent, lpDialogFunc, dwInitParam);
    *exStyle &= ~static_cast<DWORD>(WS_EX_CAPTIONOKBTN);
    *style |= WS_SYSMENU;
    Caller caller{lpDialogFunc, dwInitParam};
    return DialogBoxIndirectParamW(hInstance, reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), hWndParent,
                                   CaptionOkProc, reinterpret_cast<LPARAM>(&caller));
}

}  // namespace desktop
