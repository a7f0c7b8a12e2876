#include "pelorn/console.h"

#include <cmath>
#include <iterator>

#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/shell.h"
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

const char* kRecorded[] = {"Shell_NotifyIcon", "GpioWrite",  "DeviceIoControl", "RegSetValueEx",
                           "SetEvent",         "CreateFile", "CloseHandle"};

}  // namespace

Console::Console(host::Handheld& device, std::FILE* out)
    : device_(device), out_(out), pin21_(device.gpio().OutputLevel(21)), pin38_(device.gpio().OutputLevel(38)) {
    host::Trace& trace = device_.trace();
    trace.Keep(false);
    trace.Only(std::vector<std::string>(std::begin(kRecorded), std::end(kRecorded)));
    trace.Observe([this](const host::TraceEntry& e) { Saw(e); });
    trace.Enable(true);
}

Console::~Console() {
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

void Console::Tray(const host::TraceEntry& e) {
    if (e.Num("result") == 0) return;  // the failure shows as its message box
    std::string op = e.Str("op");
    if (op == "delete") {
        icon_.reset();
        Line("tray: icon removed");
        return;
    }
    host::Shell& shell = device_.shell();
    const host::TrayIcon* shown = shell.FindTrayIcon(reinterpret_cast<HWND>(static_cast<ULONG_PTR>(e.Num("hWnd"))),
                                                     static_cast<UINT>(e.Num("uID")));
    if (!shown) return;
    std::optional<unsigned> resource = shown->icon_resource;
    if (op == "modify" && resource == icon_) return;  // the same picture again: nothing to see
    icon_ = resource;
    std::string id = resource ? std::to_string(*resource) : "?";
    Line("tray: icon " + id + (op == "add" ? " added" : "") + " (" + Describe(shell.IconPixels(shown->icon)) + ")");
}

void Console::Saw(const host::TraceEntry& e) {
    if (e.call == "Shell_NotifyIcon") {
        Tray(e);
    } else if (e.call == "GpioWrite") {
        bool pin21 = device_.gpio().OutputLevel(21), pin38 = device_.gpio().OutputLevel(38);
        if (pin38 != pin38_) Line(std::string("pin 38 ") + (pin38 ? "high" : "low"));
        if (pin21 != pin21_) Line(std::string("pin 21 ") + (pin21 ? "high" : "low"));
        pin21_ = pin21;
        pin38_ = pin38;
    } else if (e.call == "DeviceIoControl") {
        if (e.Str("device") != "BKL1:" || e.Num("result") == 0) return;
        unsigned long level = device_.power().backlight_level();
        if (level_ == level) return;
        level_ = level;
        Line("backlight: level " + std::to_string(level));
    } else if (e.call == "RegSetValueEx") {
        std::string name = e.Str("name");
        if (name != "BatteryTimeout" && name != "BattSuspendTimeout") return;
        Line("time-out written: " + name + " = " + e.Raw("data") + " s" + (e.Num("result") ? " (failed)" : ""));
    } else if (e.call == "SetEvent") {
        if (e.Has("name")) Line("event set: " + e.Str("name"));
    }
}

bool Console::Act() {
    host::WindowManager& wm = device_.windows();
    const host::Modal* top = wm.TopModal();
    if (!top) return false;
    std::string caption = host::json::Utf8(top->caption);
    switch (top->kind) {
        case host::Modal::Kind::kMessageBox:
            Line("message box \"" + caption + "\": " + host::json::Utf8(top->text) + " [OK]");
            break;
        case host::Modal::Kind::kDialog:
            Line("dialog \"" + caption + "\" [OK]");
            break;
        case host::Modal::Kind::kMenu: {
            std::string items;
            if (const auto* list = device_.shell().MenuItems(top->menu))
                for (const host::MenuItem& item : *list) {
                    if (!items.empty()) items += ", ";
                    items += item.separator ? "----" : (item.checked ? "[x] " : "[ ] ") + host::json::Utf8(item.text);
                }
            Line("menu at (" + std::to_string(top->rect.left) + ", " + std::to_string(top->rect.top) + "): " + items +
                 " [dismissed]");
            break;
        }
    }
    return wm.AcknowledgeTopModal();
}

}  // namespace pelorn
