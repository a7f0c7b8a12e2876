#include "common/status.h"

#include <nlohmann/json.hpp>

#include "common/control.h"
#include "platform/host/endpoint.h"

namespace tools {
namespace {

using Json = nlohmann::ordered_json;

// The endpoint's query for the status, the only one other programs ask.
constexpr UINT kStatusQuery = 1;

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

std::string StatusJson(const DeviceView& view, bool running) {
    Json out;
    out["running"] = running;
    out["window"] = Number(view.window);
    std::optional<UINT> icon = running && !view.tray.empty() ? view.tray.front().resource : std::nullopt;
    out["tray_icon"] = icon ? Json(*icon) : Json();

    Json menu = Json::array();
    if (running)
        for (const DeviceView::Item& item : view.menu)
            if (!item.separator) menu.push_back({{"id", item.id}, {"text", item.text}, {"checked", item.checked}});
    out["menu"] = std::move(menu);

    auto pin = [&](bool high) { return running ? Json(high ? 1 : 0) : Json(); };
    out["pins"] = {{"21", pin(view.pin21)},
                   {"38", pin(view.pin38)},
                   {"38_hardware", view.pin38_hardware ? Json(*view.pin38_hardware ? "high" : "low") : Json()}};

    out["ac_line"] = AcLine(view.ac_line);
    out["backlight_level"] = running ? Json(view.backlight_level) : Json();
    out["BatteryTimeout"] = Number(view.battery_timeout);
    out["BattSuspendTimeout"] = Number(view.batt_suspend_timeout);

    Json events = Json::object();
    if (running)
        for (const auto& [name, count] : view.events)
            events[name] = count;
    out["events"] = std::move(events);

    Json boxes = Json::array();
    if (running)
        for (const DeviceView::Modal& m : view.modals)
            if (m.kind == host::Modal::Kind::kMessageBox) boxes.push_back({{"caption", m.caption}, {"text", m.text}});
    out["message_boxes"] = std::move(boxes);
    return out.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void AnswerStatusQueries(host::Handheld& device) {
    if (host::Endpoint* endpoint = device.endpoint())
        endpoint->AnswerQueries([&device](UINT what) -> std::optional<std::string> {
            if (what != kStatusQuery) return std::nullopt;
            return StatusJson(Look(device), true);
        });
}

std::string DeviceStatus(host::Handheld& device) {
    if (std::optional<DWORD> window = PublishedWindow(device); window && *window)
        if (auto answer = host::QueryOtherProcess(device.folder(), WindowOf(*window), kStatusQuery)) return *answer;
    return StatusJson(Look(device), false);
}

}  // namespace tools
