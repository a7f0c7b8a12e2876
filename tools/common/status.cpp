#include "common/status.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "common/control.h"
#include "common/device_words.h"
#include "platform/host/device_folder.h"
#include "platform/host/endpoint.h"
#include "platform/host/serial.h"

namespace tools {
namespace {

using Json = nlohmann::ordered_json;

// The endpoint's query for the status, the only one other programs ask.
constexpr UINT kStatusQuery = 1;
// A loop that is free answers at once; one held by a handler is waited for that long, which
// outlasts the reset's 5 s and the first run's firmware read.
constexpr int kSlowMs = 500;
constexpr int kPatienceMs = 6000;

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

Json ProfileJson(const DeviceView::Profile& p) {
    return {{"PwrTimeOut", Number(p.power_timeout)},
            {"BlTimeOut", Number(p.bl_timeout)},
            {"Slide", Number(p.slide)},
            {"Backlight", Number(p.backlight)},
            {"Power", Number(p.power)}};
}

std::string Hex8(long long v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08llX", v);
    return text;
}

// What a process that does not answer holds open of what the status can name: COM1, whatever it
// is mapped to (the device knows who has a port open).
std::string Holding(host::Handheld& device, long pid) {
    if (device.serial().OpenElsewhere(1) != pid) return "";
    return "; it holds COM1 (" + device.serial().Mapping(1) + ") open, as the reset and the firmware read do";
}

}  // namespace

Json StatusObject(const DeviceView& view, const SystemState& system, bool own) {
    Json out;
    out["running"] = system.Running();
    out["window"] = Number(view.window);
    std::optional<UINT> icon = own && !view.tray.empty() ? view.tray.front().resource : std::nullopt;
    out["tray_icon"] = icon ? Json(*icon) : Json();

    Json menu = Json::array();
    if (own)
        for (const DeviceView::Item& item : view.menu)
            if (!item.separator) menu.push_back({{"id", item.id}, {"text", item.text}, {"checked", item.checked}});
    out["menu"] = std::move(menu);

    auto pin = [&](bool high) { return own ? Json(high ? 1 : 0) : Json(); };
    out["pins"] = {{"21", pin(view.pin21)},
                   {"38", pin(view.pin38)},
                   {"38_hardware", view.pin38_hardware ? Json(*view.pin38_hardware ? "high" : "low") : Json()}};

    out["ac_line"] = AcLine(view.ac_line);
    out["backlight_level"] = own ? Json(view.backlight_level) : Json();
    out["backlight_from"] = own ? Json(BrightnessReason(view).full) : Json();
    out["BatteryTimeout"] = Number(view.battery_timeout);
    out["BattSuspendTimeout"] = Number(view.batt_suspend_timeout);

    Json events = Json::object();
    if (own)
        for (const auto& [name, count] : view.events)
            events[name] = count;
    out["events"] = std::move(events);

    Json boxes = Json::array();
    if (own)
        for (const DeviceView::Modal& m : view.modals)
            if (m.kind == host::Modal::Kind::kMessageBox) boxes.push_back({{"caption", m.caption}, {"text", m.text}});
    out["message_boxes"] = std::move(boxes);
    // The other modal waits: the About dialog, the popup menu.
    Json others = Json::array();
    if (own)
        for (const DeviceView::Modal& m : view.modals)
            if (m.kind != host::Modal::Kind::kMessageBox)
                others.push_back(m.kind == host::Modal::Kind::kDialog ? "dialog \"" + m.caption + "\"" : "the menu");
    out["open"] = std::move(others);

    std::optional<std::string> in_force = view.ProfileInForce();
    out["profile"] = {{"in_force", in_force ? Json(*in_force) : Json()},
                      {"why", ProfileReason(view, own).full},
                      {"GPS", ProfileJson(view.gps)},
                      {"STD", ProfileJson(view.std_profile)},
                      {"Temp_ACTimeOut", Number(view.temp_ac_timeout)}};
    out["State_Chg"] = Number(view.state_chg);
    out["firmware"] = view.firmware ? Json(*view.firmware) : Json();
    out["com1"] = {{"mapping", view.com1.empty() ? Json() : Json(view.com1)},
                   {"open", own ? Json(view.com1_open) : Json()}};
    out["system"] = {{"state", system.state}, {"pid", system.pid ? Json(system.pid) : Json()}};
    return out;
}

void AnswerStatusQueries(host::Handheld& device) {
    if (host::Endpoint* endpoint = device.endpoint())
        endpoint->AnswerQueries([&device](UINT what) -> std::optional<std::string> {
            if (what != kStatusQuery) return std::nullopt;
            DeviceView view = Look(device);
            // Running once the window it published is there: before, start-up is still under way.
            const bool published = view.window && *view.window && ::IsWindow(WindowOf(*view.window));
            SystemState system{published ? "running" : "starting", static_cast<long>(getpid())};
            return StatusObject(view, system, true).dump(-1, ' ', false, Json::error_handler_t::replace);
        });
}

Json DeviceStatus(host::Handheld& device, const std::function<void(const std::string&)>& say) {
    const std::string& folder = device.folder();
    std::vector<pid_t> pelorns = host::AnsweringProcesses(folder);
    std::optional<DWORD> window = PublishedWindow(device);
    pid_t owner = window && *window ? host::WindowOwner(folder, WindowOf(*window)) : 0;
    pid_t pid = owner ? owner : pelorns.empty() ? 0 : pelorns.back();
    if (!pid) return StatusObject(Look(device), SystemState{}, false);

    std::string who = "Pelorn (pid " + std::to_string(pid) + ")";
    std::string doing = owner ? "busy: its window " + Hex8(*window) + " is handling a message, which holds its loop"
                              : "starting: it has not published its window in GPSHDL yet, and its start-up holds "
                                "its loop (the first run reads the receiver's firmware on COM1 for up to 5 s)";
    std::optional<std::string> answer = host::QueryProcess(folder, pid, kStatusQuery, kSlowMs / 2, [&](int waited) {
        if (waited == kSlowMs)
            say(who + " is " + doing + Holding(device, pid) + "; waiting up to " + std::to_string(kPatienceMs / 1000) +
                " s for its answer");
        return waited < kPatienceMs;
    });
    if (answer) {
        Json parsed = Json::parse(*answer, nullptr, false);
        if (!parsed.is_discarded()) return parsed;
    }
    if (!host::ProcessAlive(pid)) return StatusObject(Look(device), SystemState{}, false);
    say(who + " did not answer within " + std::to_string(kPatienceMs / 1000) +
        " s; what the device folder shows follows, and what only it knows is null");
    return StatusObject(Look(device), SystemState{owner ? "busy" : "starting", static_cast<long>(pid)}, false);
}

namespace {

std::string Text(const Json& v, const std::string& unknown) {
    if (v.is_null()) return unknown;
    if (v.is_string()) return v.get<std::string>();
    return v.dump();
}

std::optional<DWORD> Dword(const Json& v) {
    return v.is_number_unsigned() ? std::optional<DWORD>(v.get<DWORD>()) : std::nullopt;
}

std::string ProfileLine(const Json& p) {
    DeviceView::Profile profile{Dword(p["PwrTimeOut"]), Dword(p["BlTimeOut"]), Dword(p["Slide"]), Dword(p["Backlight"]),
                                Dword(p["Power"])};
    return ProfileWords(profile);
}

}  // namespace

std::string StatusSummary(const Json& status) {
    // Every field, null where a Pelorn of another build left it out.
    Json s = StatusObject(DeviceView{}, SystemState{}, false);
    for (auto& [key, value] : status.items())
        s[key] = value;
    std::ostringstream out;
    auto line = [&](const char* label, const std::string& value) {
        char head[24];
        std::snprintf(head, sizeof head, "%-15s", label);
        out << head << "= " << value << "\n";
    };
    const Json& system = s["system"];
    const std::string state = system.value("state", "running");
    const bool own = !s["pins"]["38"].is_null();
    std::string running = state;
    if (!system["pid"].is_null()) running += " (pid " + system["pid"].dump();
    if (!system["pid"].is_null() && !s["window"].is_null() && state == "running")
        running += ", window " + Hex8(s["window"].get<long long>());
    if (!system["pid"].is_null()) running += ")";
    line("Pelorn", running);

    const Json& pins = s["pins"];
    std::string hardware = pins["38_hardware"].is_null()
                               ? "the hardware leaves pin 38 alone"
                               : "the hardware holds pin 38 " + pins["38_hardware"].get<std::string>();
    if (own)
        line("Receiver", std::string(pins["38"] == 1 ? "on" : "off") + " (pin 38 " +
                             (pins["38"] == 1 ? "high" : "low") + ", pin 21 " + (pins["21"] == 1 ? "high" : "low") +
                             "; " + hardware + ")");
    else
        line("Receiver", std::string(state == "not running" ? "unknown: Pelorn is not running"
                                                            : "unknown while Pelorn does not answer") +
                             " (" + hardware + ")");

    const Json& profile = s["profile"];
    const std::string why = profile["why"].is_string() ? ": " + profile["why"].get<std::string>() : "";
    line("Profile", profile["in_force"].is_null() ? "none in force" + why
                                                  : profile["in_force"].get<std::string>() + " in force" + why);
    line("  GPS", ProfileLine(profile["GPS"]));
    line("  STD", ProfileLine(profile["STD"]));
    line("AC line", Text(s["ac_line"], "unknown"));
    line("Backlight", s["backlight_level"].is_null()
                          ? "unknown"
                          : "level " + s["backlight_level"].dump() +
                                (s["backlight_from"].is_string() ? ", " + s["backlight_from"].get<std::string>() : ""));
    line("Time-outs", "BatteryTimeout " + Seconds(Dword(s["BatteryTimeout"])) + ", BattSuspendTimeout " +
                          Seconds(Dword(s["BattSuspendTimeout"])));
    line("State_Chg", Text(s["State_Chg"], "not set"));
    line("Firmware",
         s["firmware"].is_null() ? "not recorded (no first run yet)" : "\"" + s["firmware"].get<std::string>() + "\"");
    const Json& com1 = s["com1"];
    line("COM1", com1["mapping"].is_null()
                     ? "not mapped"
                     : com1["mapping"].get<std::string>() + (com1["open"].is_null() ? ""
                                                             : com1["open"] == true ? " (open)"
                                                                                    : " (closed)"));
    if (own) {
        line("Tray icon", s["tray_icon"].is_null() ? "none" : IconWords(Dword(s["tray_icon"])));
        for (const Json& box : s["message_boxes"])
            line("Message box", "\"" + box["caption"].get<std::string>() + "\": " + box["text"].get<std::string>());
        for (const Json& open : s["open"])
            line("Open", open.get<std::string>());
    }
    return out.str();
}

}  // namespace tools
