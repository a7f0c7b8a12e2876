#include "platform/host/status.h"

#include <map>

#include "platform/host/gpio.h"
#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/power.h"
#include "platform/host/registry_store.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace host {
namespace {

std::string Number(std::optional<DWORD> v) { return v ? std::to_string(*v) : "null"; }

std::string AcLine(BYTE status) {
    switch (status) {
        case AC_LINE_OFFLINE:
            return "\"battery\"";
        case AC_LINE_ONLINE:
            return "\"online\"";
        case AC_LINE_UNKNOWN:
            return "\"unknown\"";
        default:
            return std::to_string(status);
    }
}

}  // namespace

std::string StatusJson(Handheld& device, bool running) {
    RegistryStore& registry = device.registry();
    std::string out = "{\"running\":" + std::string(running ? "true" : "false");
    out += ",\"window\":" + Number(StoredDword(registry, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Apps\\Tavro SW", u"GPSHDL"));

    std::optional<UINT> icon;
    if (running && !device.shell().TrayIcons().empty()) icon = device.shell().TrayIcons().front().icon_resource;
    out += ",\"tray_icon\":" + (icon ? std::to_string(*icon) : std::string("null"));

    out += ",\"menu\":[";
    if (running) {
        std::vector<HMENU> menus = device.shell().Menus();
        if (!menus.empty()) {
            bool first = true;
            for (const MenuItem& item : *device.shell().MenuItems(menus.front())) {
                if (item.separator) continue;
                out += std::string(first ? "" : ",") + "{\"id\":" + std::to_string(item.id) +
                       ",\"text\":" + json::Quote(json::Utf8(item.text)) +
                       ",\"checked\":" + (item.checked ? "true" : "false") + "}";
                first = false;
            }
        }
    }
    out += "]";

    std::optional<bool> hardware = device.gpio().HardwareLevel(38);
    auto pin = [&](int n) { return running ? std::string(device.gpio().PinLevel(n) ? "1" : "0") : "null"; };
    out += ",\"pins\":{\"21\":" + pin(21) + ",\"38\":" + pin(38) +
           ",\"38_hardware\":" + (hardware ? (*hardware ? "\"high\"" : "\"low\"") : "null") + "}";

    out += ",\"ac_line\":" + AcLine(device.power().ac_line());
    out += ",\"backlight_level\":" + (running ? std::to_string(device.power().backlight_level()) : "null");
    out += ",\"BatteryTimeout\":" +
           Number(StoredDword(registry, HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"BatteryTimeout"));
    out += ",\"BattSuspendTimeout\":" +
           Number(StoredDword(registry, HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Power\\Timeouts",
                              u"BattSuspendTimeout"));

    std::map<std::u16string, int> counts;
    if (running)
        for (const EventSignal& s : device.power().events().signals())
            ++counts[s.name];
    out += ",\"events\":{";
    bool first = true;
    for (const auto& [name, count] : counts) {
        out += std::string(first ? "" : ",") + json::Quote(json::Utf8(name)) + ":" + std::to_string(count);
        first = false;
    }
    out += "}";

    out += ",\"message_boxes\":[";
    first = true;
    if (running)
        for (const Modal& m : device.windows().modals()) {
            if (m.kind != Modal::Kind::kMessageBox) continue;
            out += std::string(first ? "" : ",") + "{\"caption\":" + json::Quote(json::Utf8(m.caption)) +
                   ",\"text\":" + json::Quote(json::Utf8(m.text)) + "}";
            first = false;
        }
    out += "]}";
    return out;
}

}  // namespace host
