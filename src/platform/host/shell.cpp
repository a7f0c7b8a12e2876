// The tray and its taps, and choosing from the open menu, as the person does it.
#include "platform/host/shell.h"

#include "platform/host/shell_impl.h"

namespace host {

RECT TraySlotIcon(int from_right) {
    LONG left = kScreenWidth - kTrayRightMargin - (from_right + 1) * kTraySlot + (kTraySlot - kTrayIconSize) / 2;
    LONG top = kScreenHeight - kTaskbarHeight + (kTaskbarHeight - kTrayIconSize) / 2;
    return RECT{left, top, left + kTrayIconSize, top + kTrayIconSize};
}

int ShownLength(const std::u16string& text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size() && text[i + 1] != u'&') continue;
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        ++n;
    }
    return n;
}

Shell::Impl& ShellImpl() { return Handheld::Current().shell().impl(); }

Shell::Shell(Handheld& device) : impl_(std::make_unique<Impl>(device)) {}
Shell::~Shell() = default;

const std::vector<TrayIcon>& Shell::TrayIcons() const { return impl_->tray; }

const TrayIcon* Shell::FindTrayIcon(HWND window, UINT id) const {
    auto it = impl_->FindTray(window, id);
    return it == impl_->tray.end() ? nullptr : &*it;
}

std::optional<RECT> Shell::TrayIconRect(HWND window, UINT id) const { return impl_->TrayRect(window, id); }

std::vector<HMENU> Shell::Menus() const {
    std::vector<HMENU> out;
    for (const auto& [handle, menu] : impl_->menus)
        out.push_back(As<HMENU>(handle));
    return out;
}

const std::vector<MenuItem>* Shell::MenuItems(HMENU menu) const {
    const Impl::Menu* m = impl_->GetMenu(menu);
    return m ? &m->items : nullptr;
}

const OpenMenu* Shell::open_menu() const { return impl_->tracking ? &impl_->tracking->menu : nullptr; }

std::optional<RECT> Shell::OpenMenuItemRect(std::size_t position) const { return impl_->OpenItemRect(position); }

std::optional<UINT> Shell::IconResourceId(HICON icon) const {
    const Impl::Icon* i = impl_->GetIcon(icon);
    return i ? std::optional<UINT>(i->resource) : std::nullopt;
}

const IconImage* Shell::IconPixels(HICON icon) const {
    const Impl::Icon* i = impl_->GetIcon(icon);
    return i ? &i->image : nullptr;
}

POINT Shell::cursor() const { return impl_->cursor; }

bool Shell::TapTray(HWND window, UINT id, int x, int y) {
    Impl& d = *impl_;
    d.cursor = POINT{x, y};
    if (d.tracking) {
        d.CloseMenu();
        return false;
    }
    auto it = d.FindTray(window, id);
    if (it == d.tray.end() || !::IsWindow(it->window)) return false;
    if (it->callback_message) d.Post(it->window, it->callback_message, it->id, WM_LBUTTONDOWN);
    return true;
}

bool Shell::TapTray(UINT id, int x, int y) {
    for (const auto& t : impl_->tray)
        if (t.id == id) return TapTray(t.window, id, x, y);
    return false;
}

bool Shell::TapTray(UINT id) {
    for (const auto& t : impl_->tray) {
        if (t.id != id) continue;
        RECT r = *impl_->TrayRect(t.window, id);
        return TapTray(t.window, id, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    return false;
}

bool Shell::ChooseMenuItem(UINT id) {
    Impl& d = *impl_;
    if (!d.MenuOnTop()) return false;
    Impl::Menu* menu = d.GetMenu(d.tracking->menu.menu);
    if (!menu) return false;
    for (std::size_t i = 0; i < menu->items.size(); ++i) {
        const MenuItem& item = menu->items[i];
        if (item.separator || item.id != id) continue;
        if (item.grayed) return false;
        RECT r = *d.OpenItemRect(i);
        d.cursor = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        d.tracking->chosen = id;
        d.CloseMenu();
        return true;
    }
    return false;
}

bool Shell::DismissMenu() {
    if (!impl_->MenuOnTop()) return false;
    impl_->CloseMenu();
    return true;
}

}  // namespace host
