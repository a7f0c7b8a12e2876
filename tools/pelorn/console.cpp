#include "pelorn/console.h"

#include <sys/time.h>

#include <cmath>
#include <ctime>

#include "common/control.h"
#include "common/device_words.h"
#include "common/status.h"

#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/shell.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"

namespace pelorn {
namespace {

struct Named {
    const char* name;
    int r, g, b;
};

const Named kColours[] = {
    {"black", 0, 0, 0},
    {"white", 255, 255, 255},
    {"grey", 128, 128, 128},
    {"red", 220, 0, 0},
    {"dark red", 120, 0, 0},
    {"orange", 255, 140, 0},
    {"yellow", 240, 220, 0},
    {"dark green", 0, 110, 0},
    {"light green", 120, 240, 120},
    {"green", 0, 200, 0},
    {"blue", 0, 0, 220},
    {"dark blue", 0, 0, 120},
    {"light blue", 120, 170, 255},
};

std::string ColourName(std::uint32_t argb) {
    int r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
    const Named* best = &kColours[0];
    long best_d = -1;
    for (const Named& c : kColours) {
        long d = (r - c.r) * (r - c.r) + (g - c.g) * (g - c.g) + (b - c.b) * (b - c.b);
        if (best_d < 0 || d < best_d) best = &c, best_d = d;
    }
    return best->name;
}

// "GPS (backlight off never, suspend never, brightness 10): pin 38 is high: ...", or why none holds.
std::string InForceWords(const tools::DeviceView& v, bool pins_known) {
    std::optional<std::string> in_force = v.ProfileInForce();
    std::string why = tools::ProfileReason(v, pins_known).full;
    if (!in_force) return "none: " + why;
    return *in_force + " (" + tools::ProfileWords(*in_force == "GPS" ? v.gps : v.std_profile) + "): " + why;
}

}  // namespace

Console::Console(host::Handheld& device, std::FILE* out, bool verbose)
    : device_(device),
      out_(out),
      seen_(tools::Look(device)),
      registry_(device.registry().Version()),
      seen_registry_(registry_),
      verbose_(verbose) {
    host::Trace& trace = device_.trace();
    trace.Keep(false);
    trace.Only({"RegSetValueEx"});
    trace.Observe([this](const host::TraceEntry& e) { Saw(e); });
    trace.Enable(true);
    // Once when the loop's writes are first kept for another process, once when they are in.
    device_.registry().ObserveHeldWrites([this](std::size_t kept, const std::string& holder) {
        Line(kept ? "registry busy (" +
                        (holder.empty() ? std::string("another process holds it") : holder + " holds it") +
                        "): its writes are kept and committed when it is free"
                  : "registry free: the writes kept are committed");
    });
    // Read and set on every tick: watched where they happen, at the cost of a call, and not traced.
    device_.ObserveValueReads([this](std::u16string_view name, const BYTE* data, DWORD size) {
        // What another program set, as the tick reads it before clearing it.
        std::optional<std::uint32_t> v = tools::StateChgRead(name, data, size);
        if (v && *v)
            Line("State_Chg: " + std::to_string(*v) + " (set by another program): the profile is applied again");
    });
    device_.power().ObserveBacklightLevels([this](DWORD level) {
        // The level the system sets, whether or not it changes what the screen shows.
        // The level, and why it comes from where it does: pin 38 and the AC line.
        const int why = (device_.gpio().PinLevel(38) ? 0x100 : 0) | device_.power().ac_line();
        if (device_.quiet() || (backlight_ == level && backlight_why_ == why)) return;
        backlight_ = level;
        backlight_why_ = why;
        tools::DeviceView now = tools::Look(device_);
        now.backlight_level = level;
        Line("backlight: level " + std::to_string(level) + ", " + tools::BrightnessReason(now).full);
    });
    if (host::Endpoint* endpoint = device_.endpoint())
        endpoint->ObserveRequests([this](const host::PeerRequest& r, pid_t sender) { Sent(r, sender); });
    Line(seen_.firmware ? "firmware: \"" + *seen_.firmware + "\" (recorded at the first run)"
                        : std::string("firmware: not recorded yet (this is the first run)"));
    if (seen_.ProfileInForce()) Line("profile in force: " + InForceWords(seen_, false));
}

Console::~Console() {
    LookNow();
    Changes(next_);  // what the close did after the loop last waited
    if (host::Endpoint* endpoint = device_.endpoint()) endpoint->ObserveRequests(nullptr);
    device_.power().ObserveBacklightLevels(nullptr);
    device_.ObserveValueReads(nullptr);
    device_.registry().ObserveHeldWrites(nullptr);
    host::Trace& trace = device_.trace();
    trace.Enable(false);
    trace.Observe(nullptr);
    trace.Only({});
}

std::string Console::Describe(const host::IconImage* picture) {
    if (!picture || picture->width < 5 || picture->height < 5) return "no picture";
    std::uint32_t corner = picture->At(2, 2);
    if ((corner >> 24) == 0) return "no mark";
    bool square = true;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            square = square && picture->At(x, y) == corner;
    return ColourName(corner) + (square ? " square" : " mark");
}

void Console::Line(const std::string& text) {
    double t = static_cast<double>(device_.clock().Now()) / 1000.0;
    if (!device_.clock().IsVirtual()) {
        // When it happened, for whoever reads the log beside others.
        timeval now{};
        gettimeofday(&now, nullptr);
        tm local{};
        localtime_r(&now.tv_sec, &local);
        char stamp[40], zone[8];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
        std::strftime(zone, sizeof zone, "%z", &local);
        std::fprintf(out_, "%s.%03ld%.3s:%s ", stamp, static_cast<long>(now.tv_usec / 1000), zone, zone + 3);
    }
    std::fprintf(out_, "%10.3f  %s\n", t, text.c_str());
    std::fflush(out_);
}

void Console::Sent(const host::PeerRequest& request, pid_t sender) { Line(tools::ReceivedWords(request, sender)); }

void Console::Saw(const host::TraceEntry& e) {
    std::string name = e.Str("name");
    if (name != "BatteryTimeout" && name != "BattSuspendTimeout") return;
    Line("time-out written: " + name + " = " + tools::Seconds(static_cast<DWORD>(e.Num("data"))) +
         (e.Num("result") ? " (failed)" : ""));
}

void Console::Changes(const tools::DeviceView& now) {
    const tools::DeviceView::TrayIcon* was = seen_.tray.empty() ? nullptr : &seen_.tray.front();
    const tools::DeviceView::TrayIcon* is = now.tray.empty() ? nullptr : &now.tray.front();
    if (was && !is) {
        Line("tray: icon removed");
        blinking_ = false;
        icon_before_.reset();
    } else if (is && (!was || was->resource != is->resource)) {
        auto id = [](const std::optional<UINT>& r) { return r ? std::to_string(*r) : std::string("?"); };
        // Back to the icon before the last: a frame of a blinking icon, worth a line once.
        const bool frame = was && is->resource == icon_before_ && !verbose_;
        if (!frame)
            Line("tray: icon " + id(is->resource) + (was ? "" : " added") + " (" + Describe(&is->picture) + ")");
        else if (!blinking_)
            Line("tray: blinking, icons " + id(was->resource) + " and " + id(is->resource) + " in turn");
        blinking_ = frame;
        icon_before_ = was ? was->resource : std::nullopt;
    }
    if (now.firmware != seen_.firmware && now.firmware) Line("firmware recorded: \"" + *now.firmware + "\"");
    if (now.ProfileInForce() != seen_.ProfileInForce() && now.battery_timeout)
        Line("profile in force: " + InForceWords(now, true));
    else if ((now.gps != seen_.gps || now.std_profile != seen_.std_profile) && now.battery_timeout)
        Line(now.ProfileInForce() ? "profile " + *now.ProfileInForce() + " in force, now " +
                                        tools::ProfileWords(*now.ProfileInForce() == "GPS" ? now.gps : now.std_profile)
                                  : "profile in force: " + InForceWords(now, true));
    auto level = [](bool high) { return high ? " high" : " low"; };
    if (now.pin38 != seen_.pin38) Line(std::string("pin 38") + level(now.pin38));
    if (now.pin21 != seen_.pin21) Line(std::string("pin 21") + level(now.pin21));
    for (const auto& [name, count] : now.events) {
        auto before = seen_.events.find(name);
        for (int n = before == seen_.events.end() ? 0 : before->second; n < count; ++n)
            Line("event set: " + name);
    }
}

bool Console::Glance::operator==(const Glance& o) const {
    return icons == o.icons && icon == o.icon && pin21 == o.pin21 && pin38 == o.pin38 && sets == o.sets &&
           modals == o.modals && registry == o.registry;
}

Console::Glance Console::GlanceNow() {
    Glance g;
    const auto& tray = device_.shell().TrayIcons();
    g.icons = tray.size();
    if (!tray.empty()) g.icon = tray.front().icon_resource;
    g.pin21 = device_.gpio().PinLevel(21);
    g.pin38 = device_.gpio().PinLevel(38);
    for (const auto& [name, count] : device_.power().events().set_counts())
        g.sets += count;
    g.modals = device_.windows().modals().size();
    g.registry = device_.registry().Version();
    return g;
}

void Console::LookNow() {
    // The registry's settings are read again only when somebody changed the registry.
    std::optional<std::uint64_t> version = device_.registry().Version();
    if (!version || version != registry_) {
        registry_ = version;
        next_ = tools::Look(device_);
    } else {
        if (next_registry_ != registry_) next_ = seen_;
        tools::LookQuickly(device_, &next_);
    }
    next_registry_ = registry_;
}

bool Console::Act() {
    // A steady tick changes none of it: no look, no line.
    Glance glance = GlanceNow();
    if (glance.modals == 0 && glance_ == glance) return false;
    glance_ = glance;
    LookNow();
    Changes(next_);
    std::swap(seen_, next_);
    std::swap(seen_registry_, next_registry_);
    if (seen_.modals.empty()) return false;
    const tools::DeviceView::Modal& top = seen_.modals.back();
    switch (top.kind) {
        case host::Modal::Kind::kMessageBox:
            Line("message box \"" + top.caption + "\": " + top.text + " [OK]");
            break;
        case host::Modal::Kind::kDialog:
            Line("dialog \"" + top.caption + "\" [OK]");
            break;
        case host::Modal::Kind::kMenu: {
            std::string items;
            for (const tools::DeviceView::Item& item : top.items) {
                if (!items.empty()) items += ", ";
                items += item.separator ? "----" : (item.checked ? "[x] " : "[ ] ") + item.text;
            }
            Line("menu at (" + std::to_string(top.rect.left) + ", " + std::to_string(top.rect.top) + "): " + items +
                 " [dismissed]");
            break;
        }
    }
    return device_.windows().AcknowledgeTopModal();
}

}  // namespace pelorn
