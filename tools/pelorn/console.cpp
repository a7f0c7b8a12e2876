#include "pelorn/console.h"

#include <cmath>

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

}  // namespace

Console::Console(host::Handheld& device, std::FILE* out, bool verbose)
    : device_(device), out_(out), seen_(tools::QuickLook(device)), verbose_(verbose) {
    host::Trace& trace = device_.trace();
    trace.Keep(false);
    trace.Only({"RegSetValueEx", "DeviceIoControl", "CreateFile", "CloseHandle"});
    trace.Observe([this](const host::TraceEntry& e) { Saw(e); });
    trace.Enable(true);
}

Console::~Console() {
    Changes(tools::QuickLook(device_));  // what the close did after the loop last waited
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
    std::fprintf(out_, "%10.3f  %s\n", t, text.c_str());
    std::fflush(out_);
}

void Console::Saw(const host::TraceEntry& e) {
    if (e.call == "DeviceIoControl") {
        // The level the system sets, whether or not it changes what the screen shows.
        const std::vector<std::int64_t>& in = e.Value("in").list;
        if (e.Str("device") != "BKL1:" || e.Num("result") == 0 || in.size() != 2 || backlight_ == in[1]) return;
        backlight_ = in[1];
        return Line("backlight: level " + std::to_string(in[1]));
    }
    std::string name = e.Str("name");
    if (name != "BatteryTimeout" && name != "BattSuspendTimeout") return;
    Line("time-out written: " + name + " = " + e.Raw("data") + " s" + (e.Num("result") ? " (failed)" : ""));
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
    auto level = [](bool high) { return high ? " high" : " low"; };
    if (now.pin38 != seen_.pin38) Line(std::string("pin 38") + level(now.pin38));
    if (now.pin21 != seen_.pin21) Line(std::string("pin 21") + level(now.pin21));
    for (const auto& [name, count] : now.events) {
        auto before = seen_.events.find(name);
        for (int n = before == seen_.events.end() ? 0 : before->second; n < count; ++n)
            Line("event set: " + name);
    }
}

bool Console::Act() {
    tools::DeviceView now = tools::QuickLook(device_);
    Changes(now);
    seen_ = std::move(now);
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
