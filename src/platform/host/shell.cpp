#include "platform/host/shell.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "platform/host/handheld.h"
#include "platform/host/resources.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"

namespace host {
namespace {

// Icons and menus get handles of their own ranges, so that one passed for the other is caught.
constexpr std::uint32_t kFirstIcon = 0x00C00000;
constexpr std::uint32_t kFirstMenu = 0x00D00000;
constexpr DWORD kErrorInvalidData = 13;                             // ERROR_INVALID_DATA
constexpr DWORD kErrorPopupAlreadyActive = 1446;                    // ERROR_POPUP_ALREADY_ACTIVE
constexpr UINT kUnsupportedItemTypes = 0x0004 | 0x0100 | MF_POPUP;  // MF_BITMAP, MF_OWNERDRAW
constexpr int kTrayIconSize = 16;
constexpr int kTrayRightMargin = 4;

std::uint32_t Value(const void* h) { return static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(h)); }
template <class H>
H As(std::uint32_t v) {
    return reinterpret_cast<H>(static_cast<ULONG_PTR>(v));
}

// Where the module's icons are depends on how the resources were built: the contents of the
// .ico files compiled in (`icons`), or their paths, read on every load (`icon_files`).
template <class T, class = void>
struct HasIconData : std::false_type {};
template <class T>
struct HasIconData<T, std::void_t<decltype(std::declval<const T&>().icons)>> : std::true_type {};
template <class T, class = void>
struct HasIconFiles : std::false_type {};
template <class T>
struct HasIconFiles<T, std::void_t<decltype(std::declval<const T&>().icon_files)>> : std::true_type {};

enum class Found { kNo, kYes, kUnreadable };

template <class Table>
Found IconFileOf(const Table& table, UINT id, std::vector<std::uint8_t>* bytes) {
    if constexpr (HasIconData<Table>::value) {
        auto it = table.icons.find(id);
        if (it != table.icons.end()) {
            bytes->assign(std::begin(it->second), std::end(it->second));
            return Found::kYes;
        }
    }
    if constexpr (HasIconFiles<Table>::value) {
        auto it = table.icon_files.find(id);
        if (it != table.icon_files.end()) {
            std::ifstream in(it->second, std::ios::binary);
            if (!in) return Found::kUnreadable;
            bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return Found::kYes;
        }
    }
    return Found::kNo;
}

// Characters a menu text shows: a single '&' only underlines the next one.
int ShownLength(const std::u16string& text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size() && text[i + 1] != u'&') continue;
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        ++n;
    }
    return n;
}

int ItemHeight(const MenuItem& item) { return item.separator ? kMenuSeparatorHeight : kMenuItemHeight; }

}  // namespace

struct Shell::Impl {
    struct Menu {
        std::vector<MenuItem> items;
    };
    struct Icon {
        UINT resource;
        IconImage image;
    };
    struct Tracking {
        OpenMenu menu;
        std::optional<UINT> chosen;
    };

    explicit Impl(Handheld& device) : dev(device) {}

    Handheld& dev;
    std::vector<TrayIcon> tray;
    std::map<std::uint32_t, Menu> menus;
    std::map<std::uint32_t, Icon> icons;
    std::uint32_t next_menu = kFirstMenu;
    std::uint32_t next_icon = kFirstIcon;
    POINT cursor{0, 0};
    std::optional<Tracking> tracking;

    Menu* GetMenu(HMENU h) {
        auto it = menus.find(Value(h));
        return h && it != menus.end() ? &it->second : nullptr;
    }
    const Icon* GetIcon(HICON h) const {
        auto it = icons.find(Value(h));
        return h && it != icons.end() ? &it->second : nullptr;
    }
    std::vector<TrayIcon>::iterator FindTray(HWND window, UINT id) {
        return std::find_if(tray.begin(), tray.end(),
                            [&](const TrayIcon& t) { return t.window == window && t.id == id; });
    }

    std::optional<RECT> TrayRect(HWND window, UINT id) const {
        for (std::size_t i = 0; i < tray.size(); ++i) {
            if (tray[i].window != window || tray[i].id != id) continue;
            LONG left = kScreenWidth - kTrayRightMargin - static_cast<LONG>(tray.size() - i) * kTraySlot +
                        (kTraySlot - kTrayIconSize) / 2;
            LONG top = kScreenHeight - kTaskbarHeight + (kTaskbarHeight - kTrayIconSize) / 2;
            return RECT{left, top, left + kTrayIconSize, top + kTrayIconSize};
        }
        return std::nullopt;
    }

    static RECT MenuRect(const Menu& menu, UINT flags, int x, int y) {
        int longest = 0;
        int height = 0;
        for (const auto& item : menu.items) {
            if (!item.separator) longest = std::max(longest, ShownLength(item.text));
            height += ItemHeight(item);
        }
        int width = 2 * kMenuTextMargin + kMenuCharWidth * longest;
        int left = x, top = y;
        if (flags & TPM_RIGHTALIGN)
            left = x - width;
        else if (flags & TPM_CENTERALIGN)
            left = x - width / 2;
        if (flags & TPM_BOTTOMALIGN)
            top = y - height;
        else if (flags & TPM_VCENTERALIGN)
            top = y - height / 2;
        // A menu never leaves the screen: it is pushed back onto it.
        left = std::clamp(left, 0, std::max(0, kScreenWidth - width));
        top = std::clamp(top, 0, std::max(0, kScreenHeight - height));
        return RECT{left, top, left + width, top + height};
    }

    std::optional<RECT> OpenItemRect(std::size_t position) {
        if (!tracking) return std::nullopt;
        Menu* menu = GetMenu(tracking->menu.menu);
        if (!menu || position >= menu->items.size()) return std::nullopt;
        RECT r = tracking->menu.rect;
        LONG top = r.top;
        for (std::size_t i = 0; i < position; ++i)
            top += ItemHeight(menu->items[i]);
        return RECT{r.left, top, r.right, top + ItemHeight(menu->items[position])};
    }

    // The menu is what the person is looking at: nothing modal has opened above it.
    bool MenuOnTop() const {
        const Modal* top = dev.windows().TopModal();
        return tracking && top && top->id == tracking->menu.modal;
    }

    void CloseMenu() { dev.windows().CloseModal(tracking->menu.modal); }

    void Post(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
        QuietCalls quiet(dev);
        ::PostMessage(window, msg, wp, lp);
    }
};

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

using host::ApiCall;
using host::Handheld;
using host::TraceValue;
namespace json = host::json;

namespace {

host::Shell::Impl& ShellImpl() { return Handheld::Current().shell().impl(); }

std::u16string Tip(const NOTIFYICONDATA& d) {
    const WCHAR* end = std::find(std::begin(d.szTip), std::end(d.szTip), u'\0');
    return std::u16string(std::begin(d.szTip), end);
}

void Apply(host::TrayIcon& t, const NOTIFYICONDATA& d, const host::Shell& shell) {
    if (d.uFlags & NIF_MESSAGE) t.callback_message = d.uCallbackMessage;
    if (d.uFlags & NIF_ICON) {
        t.icon = host::As<HICON>(d.hIcon.value);
        t.icon_resource = shell.IconResourceId(t.icon);
    }
    if (d.uFlags & NIF_TIP) t.tip = Tip(d);
    t.flags |= d.uFlags & (NIF_MESSAGE | NIF_ICON | NIF_TIP);
}

}  // namespace

BOOL Shell_NotifyIcon(DWORD dwMessage, PNOTIFYICONDATA lpData) {
    ApiCall c("Shell_NotifyIcon");
    c.Arg("dwMessage", dwMessage);
    auto& s = ShellImpl();
    const host::Shell& shell = s.dev.shell();
    if (!lpData) {
        c.ArgPtr("lpData", nullptr);
    } else if (c.on()) {
        c.Arg("cbSize", lpData->cbSize).Arg("hWnd", lpData->hWnd.value).Arg("uID", lpData->uID);
        c.ArgHex("uFlags", lpData->uFlags).ArgHex("uCallbackMessage", lpData->uCallbackMessage);
        c.Arg("hIcon", lpData->hIcon.value);
        auto resource = shell.IconResourceId(host::As<HICON>(lpData->hIcon.value));
        c.Out("icon", resource ? TraceValue::Int(*resource) : TraceValue::Null());
        if (lpData->uFlags & NIF_TIP) c.Arg("szTip", TraceValue::Text(json::Utf8(Tip(*lpData))));
    }
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!lpData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    HWND window = host::As<HWND>(lpData->hWnd.value);
    auto it = s.FindTray(window, lpData->uID);
    switch (dwMessage) {
        case NIM_ADD: {
            if (it != s.tray.end()) return c.Result(FALSE);
            if (!::IsWindow(window)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return c.Result(FALSE);
            }
            host::TrayIcon t;
            t.window = window;
            t.id = lpData->uID;
            Apply(t, *lpData, shell);
            s.tray.push_back(std::move(t));
            return c.Result(TRUE);
        }
        case NIM_MODIFY:
            if (it == s.tray.end()) return c.Result(FALSE);
            Apply(*it, *lpData, shell);
            return c.Result(TRUE);
        case NIM_DELETE:
            if (it == s.tray.end()) return c.Result(FALSE);
            s.tray.erase(it);
            return c.Result(TRUE);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return c.Result(FALSE);
    }
}

BOOL GetCursorPos(LPPOINT lpPoint) {
    ApiCall c("GetCursorPos");
    c.ArgMem("lpPoint", lpPoint);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c.Result(FALSE);
    }
    *lpPoint = ShellImpl().cursor;
    c.Out("x", TraceValue::Int(lpPoint->x)).Out("y", TraceValue::Int(lpPoint->y));
    return c.Result(TRUE);
}

HANDLE LoadImage(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    ApiCall c("LoadImage");
    c.ArgPtr("hInst", hInst);
    if (IS_INTRESOURCE(name))
        c.Arg("name", static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(name)));
    else
        c.ArgW("name", name);
    c.Arg("type", type).Arg("cx", cx).Arg("cy", cy).ArgHex("fuLoad", fuLoad);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    auto fail = [&](DWORD error) {
        SetLastError(error);
        return c.Result<HANDLE>(nullptr);
    };
    if (type != IMAGE_ICON) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    if (cx < 0 || cy < 0) return fail(ERROR_INVALID_PARAMETER);
    // Without a module the platform looks among its own OEM images, which hold none of ours.
    if (!hInst) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (hInst != ::GetModuleHandle(nullptr)) return fail(ERROR_INVALID_HANDLE);

    UINT id = 0;
    if (IS_INTRESOURCE(name)) {
        id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
    } else if (name && name[0] == u'#') {
        for (const WCHAR* p = name + 1; *p >= u'0' && *p <= u'9' && id < 0x10000; ++p)
            id = id * 10 + static_cast<UINT>(*p - u'0');
    }
    auto& s = ShellImpl();
    const host::ResourceTable* table = s.dev.resources();
    std::vector<std::uint8_t> file;
    host::Found found = table && id ? host::IconFileOf(*table, id, &file) : host::Found::kNo;
    if (found == host::Found::kNo) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (found == host::Found::kUnreadable) return fail(ERROR_RESOURCE_DATA_NOT_FOUND);

    host::IconImage image;
    try {
        image = host::DecodeIco(file.data(), file.size(), cx, cy);
    } catch (const std::runtime_error& e) {
        c.Out("problem", TraceValue::Text(e.what()));
        return fail(host::kErrorInvalidData);
    }
    std::uint32_t handle = s.next_icon;
    s.next_icon += 4;
    s.icons[handle] = host::Shell::Impl::Icon{id, std::move(image)};
    return c.Result<HANDLE>(host::As<HANDLE>(handle));
}

HMENU CreatePopupMenu() {
    ApiCall c("CreatePopupMenu");
    if (DWORD e; c.Injected(&e)) return c.Result<HMENU>(nullptr);
    auto& s = ShellImpl();
    std::uint32_t handle = s.next_menu;
    s.next_menu += 4;
    s.menus[handle] = {};
    return c.Result(host::As<HMENU>(handle));
}

BOOL AppendMenu(HMENU hMenu, UINT uFlags, UINT_PTR uIDNewItem, LPCWSTR lpNewItem) {
    ApiCall c("AppendMenu");
    c.ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("uIDNewItem", static_cast<std::int64_t>(uIDNewItem));
    if (uFlags & MF_SEPARATOR)
        c.ArgPtr("lpNewItem", lpNewItem);
    else
        c.ArgW("lpNewItem", lpNewItem);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto* menu = ShellImpl().GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    if (uFlags & host::kUnsupportedItemTypes) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return c.Result(FALSE);
    }
    host::MenuItem item;
    item.id = static_cast<UINT>(uIDNewItem);
    item.separator = (uFlags & MF_SEPARATOR) != 0;
    if (!item.separator && lpNewItem) item.text = lpNewItem;
    item.checked = (uFlags & MF_CHECKED) != 0;
    item.grayed = (uFlags & MF_GRAYED) != 0;
    menu->items.push_back(std::move(item));
    return c.Result(TRUE);
}

DWORD CheckMenuItem(HMENU hMenu, UINT uIDCheckItem, UINT uCheck) {
    constexpr DWORD kNoSuchItem = 0xFFFFFFFF;
    ApiCall c("CheckMenuItem");
    c.ArgPtr("hMenu", hMenu).Arg("uIDCheckItem", uIDCheckItem).ArgHex("uCheck", uCheck);
    if (DWORD e; c.Injected(&e)) return c.Result(kNoSuchItem);
    auto* menu = ShellImpl().GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(kNoSuchItem);
    }
    host::MenuItem* item = nullptr;
    if (uCheck & MF_BYPOSITION) {
        if (uIDCheckItem < menu->items.size()) item = &menu->items[uIDCheckItem];
    } else {
        for (auto& i : menu->items)
            if (!i.separator && i.id == uIDCheckItem) {
                item = &i;
                break;
            }
    }
    if (!item) return c.Result(kNoSuchItem);
    DWORD previous = item->checked ? MF_CHECKED : MF_UNCHECKED;
    item->checked = (uCheck & MF_CHECKED) != 0;
    return c.Result(previous);
}

BOOL DestroyMenu(HMENU hMenu) {
    ApiCall c("DestroyMenu");
    c.ArgPtr("hMenu", hMenu);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& s = ShellImpl();
    if (!s.GetMenu(hMenu)) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    // A menu that is on the screen goes away with it, as if dismissed.
    if (s.tracking && s.tracking->menu.menu == hMenu) s.CloseMenu();
    s.menus.erase(host::Value(hMenu));
    return c.Result(TRUE);
}

BOOL IsMenu(HMENU hMenu) { return ShellImpl().GetMenu(hMenu) ? TRUE : FALSE; }

BOOL TrackPopupMenu(HMENU hMenu, UINT uFlags, int x, int y, int nReserved, HWND hWnd, const RECT* prcRect) {
    ApiCall c("TrackPopupMenu");
    c.ArgPtr("hMenu", hMenu).ArgHex("uFlags", uFlags).Arg("x", x).Arg("y", y).Arg("nReserved", nReserved);
    c.ArgPtr("hWnd", hWnd).ArgPtr("prcRect", prcRect);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto& s = ShellImpl();
    auto& wm = s.dev.windows();
    auto* menu = s.GetMenu(hMenu);
    if (!menu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return c.Result(FALSE);
    }
    if (!::IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return c.Result(FALSE);
    }
    if (s.tracking) {
        SetLastError(host::kErrorPopupAlreadyActive);
        return c.Result(FALSE);
    }
    host::Modal m;
    m.kind = host::Modal::Kind::kMenu;
    m.window = hWnd;
    m.menu = hMenu;
    m.rect = host::Shell::Impl::MenuRect(*menu, uFlags, x, y);
    host::OpenMenu open{hMenu, hWnd, uFlags, m.rect, 0};
    open.modal = wm.OpenModal(std::move(m));
    s.tracking = host::Shell::Impl::Tracking{open, std::nullopt};
    c.Out("rect", TraceValue::List({open.rect.left, open.rect.top, open.rect.right, open.rect.bottom}));

    wm.RunModal(open.modal);
    wm.CloseModal(open.modal);  // still open when WM_QUIT ended the loop
    std::optional<UINT> chosen = s.tracking->chosen;
    s.tracking.reset();
    c.Out("chosen", chosen ? TraceValue::Int(*chosen) : TraceValue::Null());

    if (uFlags & TPM_RETURNCMD) return c.Result(static_cast<BOOL>(chosen.value_or(0)));
    // The command arrives once the menu is gone, through the owner's queue.
    if (chosen) s.Post(hWnd, WM_COMMAND, MAKEWPARAM(*chosen, 0), 0);
    // Nothing chosen is no failure: the menu was shown and tracked.
    return c.Result(TRUE);
}
