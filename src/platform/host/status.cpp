#include "platform/host/status.h"

#include <map>

#include <nlohmann/json.hpp>

#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/power.h"
#include "platform/host/registry_store.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace host {
namespace {

using Json = nlohmann::ordered_json;

Json Number(std::optional<DWORD> v) { return v ? Json(*v) : Json(); }

Json AcLine(BYTE status) {
    switch (status) {
        case AC_LINE_OFFLINE:
            return "battery";
        case AC_LINE_ONLINE:
            return "online";
        case AC_LINE_UNKNOWN:
            return "unknown";
        default:
            return status;
    }
}

}  // namespace

std::string StatusJson(Handheld& device, bool running) {
    RegistryStore& registry = device.registry();
    Json out;
    out["running"] = running;
    out["window"] = Number(StoredDword(registry, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"GPSHDL"));

    std::optional<UINT> icon;
    if (running && !device.shell().TrayIcons().empty()) icon = device.shell().TrayIcons().front().icon_resource;
    out["tray_icon"] = icon ? Json(*icon) : Json();

    Json menu = Json::array();
    if (running) {
        std::vector<HMENU> menus = device.shell().Menus();
        if (!menus.empty())
            for (const MenuItem& item : *device.shell().MenuItems(menus.front()))
                if (!item.separator)
                    menu.push_back({{"id", item.id}, {"text", json::Utf8(item.text)}, {"checked", item.checked}});
    }
    out["menu"] = std::move(menu);

    std::optional<bool> hardware = device.gpio().HardwareLevel(38);
    auto pin = [&](int n) { return running ? Json(device.gpio().PinLevel(n) ? 1 : 0) : Json(); };
    out["pins"] = {
        {"21", pin(21)}, {"38", pin(38)}, {"38_hardware", hardware ? Json(*hardware ? "high" : "low") : Json()}};

    out["ac_line"] = AcLine(device.power().ac_line());
    out["backlight_level"] = running ? Json(device.power().backlight_level()) : Json();
    out["BatteryTimeout"] =
        Number(StoredDword(registry, HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"BatteryTimeout"));
    out["BattSuspendTimeout"] = Number(StoredDword(
        registry, HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Power\\Timeouts", u"BattSuspendTimeout"));

    std::map<std::string, int> counts;
    if (running)
        for (const EventSignal& s : device.power().events().signals())
            ++counts[json::Utf8(s.name)];
    Json events = Json::object();
    for (const auto& [name, count] : counts)
        events[name] = count;
    out["events"] = std::move(events);

    Json boxes = Json::array();
    if (running)
        for (const Modal& m : device.windows().modals())
            if (m.kind == Modal::Kind::kMessageBox)
                boxes.push_back({{"caption", json::Utf8(m.caption)}, {"text", json::Utf8(m.text)}});
    out["message_boxes"] = std::move(boxes);
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace host
