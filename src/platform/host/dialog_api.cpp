// Message boxes and dialogs: their windows, their modal loops, and dialog units.
#include "platform/host/handheld.h"
#include "platform/host/resources.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"
#include "platform/host/window_manager_impl.h"

using host::WM;

namespace {

const char16_t kDialogClass[] = u"Dialog";

LRESULT CALLBACK DialogWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    auto* w = WM().Get(h);
    DLGPROC proc = w ? w->dlgproc : nullptr;
    if (proc && proc(h, msg, wp, lp)) return TRUE;
    if (msg == WM_CLOSE) {
        ::SendMessage(h, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        return 0;
    }
    return ::DefWindowProc(h, msg, wp, lp);
}

LRESULT CALLBACK StaticProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return ::DefWindowProc(h, msg, wp, lp); }

}  // namespace

int MessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    tracing::MessageBoxCall c(owner, text, caption, type);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    auto& d = WM();
    if (owner && !d.Get(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(0);
    }
    host::Modal box;
    box.kind = host::Modal::Kind::kMessageBox;
    box.window = owner;
    box.text = text ? text : u"";
    box.caption = caption ? caption : u"Error";
    box.type = type;
    RECT work = d.WorkArea();
    box.rect = RECT{work.left + 20, work.top + 100, work.right - 20, work.top + 180};
    int id = d.OpenModal(std::move(box));
    d.RunModal([&] { return !d.IsOpen(id); });
    d.CloseModal(id);  // still open when WM_QUIT ended the loop
    return c.Result(IDOK);
}

INT_PTR DialogBoxParam(HINSTANCE, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
    tracing::DialogBoxParamCall c(name, owner);
    if (DWORD e; c.Injected(&e)) return c.Result<INT_PTR>(-1);
    auto& d = WM();
    const host::ResourceTable* res = d.dev.resources();
    const host::DialogTemplate* t = nullptr;
    UINT id = IS_INTRESOURCE(name) ? static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name)) : 0;
    if (res && id) {
        auto it = res->dialogs.find(id);
        if (it != res->dialogs.end()) t = &it->second;
    }
    if (!t) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return c.Result<INT_PTR>(-1);
    }
    if (owner && !d.Get(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result<INT_PTR>(-1);
    }
    auto px = [](int du, int base, int div) { return du * base / div; };
    RECT origin{};
    if (owner) ::GetWindowRect(owner, &origin);
    RECT r{origin.left + px(t->x, host::kDialogBaseX, 4), origin.top + px(t->y, host::kDialogBaseY, 8), 0, 0};
    r.right = r.left + px(t->cx, host::kDialogBaseX, 4);
    r.bottom = r.top + px(t->cy, host::kDialogBaseY, 8);
    HWND dlg = host::CreateWindowImpl(t->ex_style, kDialogClass, DialogWindowProc, t->caption.c_str(), t->style, r,
                                      owner, nullptr, true, static_cast<int>(id), proc);
    if (!dlg) return c.Result<INT_PTR>(-1);
    for (const auto& item : t->items) {
        RECT ir{r.left + px(item.x, host::kDialogBaseX, 4), r.top + px(item.y, host::kDialogBaseY, 8), 0, 0};
        ir.right = ir.left + px(item.cx, host::kDialogBaseX, 4);
        ir.bottom = ir.top + px(item.cy, host::kDialogBaseY, 8);
        HWND child = host::CreateWindowImpl(0, item.window_class, StaticProc, item.text.c_str(), item.style | WS_CHILD,
                                            ir, dlg, nullptr, false, 0, nullptr);
        if (auto* w = d.Get(child)) {
            w->info.dialog_id = item.id;
            w->info.visible = true;
        }
    }
    d.Deliver(dlg, WM_INITDIALOG, 0, param);
    if (auto* w = d.Get(dlg); w && !w->dialog_ended) {
        w->info.visible = true;
        host::Modal m;
        m.kind = host::Modal::Kind::kDialog;
        m.window = dlg;
        m.caption = w->info.title;
        m.rect = w->info.rect;
        int modal_id = d.OpenModal(std::move(m));
        d.RunModal([&] {
            auto* win = d.Get(dlg);
            return !win || win->dialog_ended;
        });
        d.CloseModal(modal_id);
    }
    INT_PTR result = 0;
    if (auto* w = d.Get(dlg)) {
        result = w->dialog_result;
        ::DestroyWindow(dlg);
    }
    return c.Result(result);
}

BOOL EndDialog(HWND dlg, INT_PTR result) {
    tracing::EndDialogCall c(dlg, result);
    auto* w = WM().Get(dlg);
    if (!w || !w->info.dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    w->dialog_ended = true;
    w->dialog_result = result;
    w->info.visible = false;
    return c.Result(TRUE);
}

HWND GetDlgItem(HWND dlg, int id) {
    for (const auto& [key, w] : WM().windows)
        if (w.info.owner == dlg && !w.info.dialog && w.info.dialog_id == id) return w.info.handle;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL MapDialogRect(HWND, LPRECT r) {
    if (!r) return FALSE;
    r->left = r->left * host::kDialogBaseX / 4;
    r->right = r->right * host::kDialogBaseX / 4;
    r->top = r->top * host::kDialogBaseY / 8;
    r->bottom = r->bottom * host::kDialogBaseY / 8;
    return TRUE;
}
