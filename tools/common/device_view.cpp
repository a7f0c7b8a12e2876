#include "common/device_view.h"

#include "common/control.h"
#include "platform/host/gpio.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/power.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "platform/host/resources.h"
#include "platform/host/serial.h"
#include "platform/host/shell.h"
#include "platform/host/trace.h"
#include "settings/settings.h"

namespace tools {

bool DeviceView::TrayIcon::operator==(const TrayIcon& o) const {
    return window == o.window && id == o.id && rect.left == o.rect.left && rect.top == o.rect.top &&
           resource == o.resource && picture.argb == o.picture.argb;
}

bool DeviceView::Item::operator==(const Item& o) const {
    return id == o.id && text == o.text && checked == o.checked && grayed == o.grayed && separator == o.separator &&
           rect.top == o.rect.top && rect.left == o.rect.left;
}

bool DeviceView::Control::operator==(const Control& o) const {
    return rect.left == o.rect.left && rect.top == o.rect.top && text == o.text && icon.argb == o.icon.argb;
}

bool DeviceView::Modal::operator==(const Modal& o) const {
    return kind == o.kind && id == o.id && rect.left == o.rect.left && rect.top == o.rect.top &&
           rect.right == o.rect.right && rect.bottom == o.rect.bottom && caption == o.caption && text == o.text &&
           items == o.items && controls == o.controls;
}

bool DeviceView::operator==(const DeviceView& o) const {
    return window == o.window && tray == o.tray && menu == o.menu && modals == o.modals && pin21 == o.pin21 &&
           pin38 == o.pin38 && pin38_hardware == o.pin38_hardware && ac_line == o.ac_line &&
           backlight_present == o.backlight_present && backlight_level == o.backlight_level &&
           battery_timeout == o.battery_timeout && batt_suspend_timeout == o.batt_suspend_timeout &&
           events == o.events && com1 == o.com1 && com1_open == o.com1_open && gps == o.gps &&
           std_profile == o.std_profile && temp_ac_timeout == o.temp_ac_timeout && state_chg == o.state_chg &&
           firmware == o.firmware;
}

bool DeviceView::Profile::operator==(const Profile& o) const {
    return power_timeout == o.power_timeout && bl_timeout == o.bl_timeout && slide == o.slide &&
           backlight == o.backlight && power == o.power;
}

std::optional<DWORD> DeviceView::Profile::BacklightTimeout() const {
    // The monitor reads a missing value as 0.
    return backlight.value_or(0) ? bl_timeout.value_or(0) : 0;
}

std::optional<DWORD> DeviceView::Profile::SuspendTimeout() const {
    return power.value_or(0) ? power_timeout.value_or(0) : 0;
}

std::optional<std::string> DeviceView::ProfileInForce() const {
    auto holds = [this](const Profile& p) {
        return battery_timeout == p.BacklightTimeout() && batt_suspend_timeout == p.SuspendTimeout();
    };
    const bool by_gps = holds(gps), by_std = holds(std_profile);
    if (by_gps && by_std) return std::string(pin38 ? "GPS" : "STD");
    if (by_gps) return std::string("GPS");
    if (by_std) return std::string("STD");
    return std::nullopt;
}

std::string Shown(std::u16string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return host::json::Utf8(out);
}

namespace {

// "#130", the text of a static icon control: the icon resource it shows.
std::optional<std::uint32_t> IconResource(const std::u16string& text) {
    if (text.size() < 2 || text[0] != u'#') return std::nullopt;
    std::uint32_t id = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return std::nullopt;
        id = id * 10 + (text[i] - u'0');
    }
    return id;
}

std::optional<std::string> StoredText(host::RegistryStore& registry, HKEY root, std::u16string_view path,
                                      std::u16string_view name) {
    host::RegKeyId key = 0;
    host::RegValue value;
    if (registry.OpenKey(host::RegistryStore::Root(root), path, &key) != ERROR_SUCCESS ||
        registry.GetValue(key, name, &value) != ERROR_SUCCESS || value.type != REG_SZ)
        return std::nullopt;
    return host::json::Utf8(host::StringOf(value.data));
}

// A DWORD of the profile key, opened once for all of them (0: it is missing).
std::optional<DWORD> ProfileDword(host::RegistryStore& registry, host::RegKeyId key, LPCTSTR name) {
    host::RegValue value;
    if (!key || registry.GetValue(key, name, &value) != ERROR_SUCCESS || value.type != REG_DWORD) return std::nullopt;
    return host::DwordOf(value.data);
}

DeviceView::Profile ProfileOf(host::RegistryStore& registry, host::RegKeyId key, const PowerProfile& names) {
    auto value = [&](LPCTSTR name) { return ProfileDword(registry, key, name); };
    return DeviceView::Profile{value(names.powerTimeOut), value(names.blTimeOut), value(names.slide),
                               value(names.backlight), value(names.power)};
}

DeviceView::Item ItemOf(const host::MenuItem& item) {
    return DeviceView::Item{item.id, Shown(item.text), item.checked, item.grayed, item.separator, {}};
}

std::vector<DeviceView::Control> Controls(host::Handheld& device, HWND dialog) {
    std::vector<DeviceView::Control> controls;
    for (const host::WindowInfo* w : device.windows().Windows()) {
        if (w->owner != dialog || w->dialog || !w->visible) continue;
        DeviceView::Control c;
        c.rect = w->rect;
        std::optional<std::uint32_t> icon = (w->style & 0xF) == 3 ? IconResource(w->title) : std::nullopt;
        const host::ResourceTable* res = device.resources();
        if (icon && res && res->icons.count(*icon)) {
            const std::vector<BYTE>& file = res->icons.at(*icon);
            try {
                c.icon = host::DecodeIco(file.data(), file.size(), 0, 0);
            } catch (const std::exception&) {
                c.text = "?";
            }
        } else {
            c.text = Shown(w->title);
        }
        controls.push_back(std::move(c));
    }
    return controls;
}

}  // namespace

void LookQuickly(host::Handheld& device, DeviceView* view) {
    DeviceView& v = *view;
    v.menu.clear();
    v.modals.clear();
    v.events.clear();
    host::Shell& shell = device.shell();
    // Filled in place: a view looked into again and again keeps its pictures' memory.
    const auto& icons = shell.TrayIcons();
    v.tray.resize(icons.size());
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const host::TrayIcon& icon = icons[i];
        DeviceView::TrayIcon& t = v.tray[i];
        t.window = icon.window;
        t.id = icon.id;
        t.rect = shell.TrayIconRect(icon.window, icon.id).value_or(RECT{});
        t.resource = icon.icon_resource;
        if (const host::IconImage* picture = shell.IconPixels(icon.icon))
            t.picture = *picture;
        else
            t.picture = host::IconImage{};
    }
    std::vector<HMENU> menus = shell.Menus();
    if (!menus.empty())
        for (const host::MenuItem& item : *shell.MenuItems(menus.front()))
            v.menu.push_back(ItemOf(item));

    const host::OpenMenu* open = shell.open_menu();
    for (const host::Modal& m : device.windows().modals()) {
        DeviceView::Modal shown{m.kind, m.id, m.rect, host::json::Utf8(m.caption), host::json::Utf8(m.text), {}, {}};
        if (m.kind == host::Modal::Kind::kMenu) {
            bool showing = open && open->modal == m.id;
            if (showing) shown.rect = open->rect;
            if (const auto* items = shell.MenuItems(m.menu))
                for (std::size_t i = 0; i < items->size(); ++i) {
                    shown.items.push_back(ItemOf((*items)[i]));
                    if (showing) shown.items.back().rect = shell.OpenMenuItemRect(i).value_or(RECT{});
                }
        } else if (m.kind == host::Modal::Kind::kDialog) {
            shown.controls = Controls(device, m.window);
        }
        v.modals.push_back(std::move(shown));
    }

    host::GpioBlock& gpio = device.gpio();
    v.pin21 = gpio.PinLevel(21);
    v.pin38 = gpio.PinLevel(38);
    v.pin38_hardware = gpio.HardwareLevel(38);
    host::PowerDevices& power = device.power();
    v.ac_line = power.ac_line();
    v.backlight_present = power.backlight_present();
    v.backlight_level = power.backlight_level();
    for (const auto& [name, count] : power.events().set_counts())
        v.events[host::json::Utf8(name)] = count;
}

DeviceView Look(host::Handheld& device) {
    DeviceView v;
    LookQuickly(device, &v);
    v.window = PublishedWindow(device);
    v.battery_timeout =
        host::StoredDword(device.registry(), HKEY_CURRENT_USER, BACKLIGHT_KEY_PATH, BATTERY_TIMEOUT_VALUE);
    v.batt_suspend_timeout =
        host::StoredDword(device.registry(), HKEY_LOCAL_MACHINE, POWER_TIMEOUTS_KEY_PATH, BATT_SUSPEND_TIMEOUT_VALUE);
    host::RegistryStore& registry = device.registry();
    host::RegKeyId profile = 0;
    if (registry.OpenKey(host::RegistryStore::Root(HKEY_CURRENT_USER), PROFILE_KEY_PATH, &profile) != ERROR_SUCCESS)
        profile = 0;
    v.gps = ProfileOf(registry, profile, GPS_PROFILE);
    v.std_profile = ProfileOf(registry, profile, STD_PROFILE);
    v.temp_ac_timeout = ProfileDword(registry, profile, u"Temp_ACTimeOut");
    v.state_chg = ProfileDword(registry, profile, STATE_CHG_VALUE);
    v.firmware = StoredText(registry, HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], AppKeyStrings[FW_VALUE]);
    v.com1 = device.serial().Mapping(1);
    v.com1_open = device.serial().IsOpen(1);
    return v;
}

}  // namespace tools
