#include "handheld/simulate/day_checker.h"

#include <algorithm>
#include <sstream>

#include "handheld/simulate/day_generator.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

const std::u16string kProfilePath = u"Software\\MicroSoft\\Shell";
const std::u16string kAppPath = u"SOFTWARE\\Apps\\Tavro SW";
const char kTrayFailure[] = "Shell_NotifyIcon Failure";
constexpr UINT kIdGpsOn = 65008;
constexpr UINT kIdGpsOff = 65009;
constexpr UINT kTrayId = 5000;
// Idle turns in a row on one millisecond before the clock counts as stuck.
constexpr long kStuckTurns = 1000000;

// What ReadRegDword makes of stored data: its first four bytes, the missing ones zero.
DWORD FirstFour(const std::string& bytes) {
    DWORD v = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        v |= static_cast<DWORD>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return v;
}

DWORD FirstFour(const std::vector<BYTE>& bytes) { return FirstFour(std::string(bytes.begin(), bytes.end())); }

std::string Hex(std::int64_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

}  // namespace

struct DayChecker::State {
    State(host::Handheld& d, Player& p) : device(d), player(p) {}

    // One monitor tick, from its first call to the close of the profile key, at one depth of
    // modal loops (a tick served inside another tick's box is deeper).
    struct Tick {
        bool enabled = false;  // it read pin 38
        DWORD pin = 0;
        bool faulted = false;  // an injected fault fired in it
        bool nested = false;   // something ran inside a box it opened
        bool opened = false;   // the profile key
        std::int64_t key = 0;
        bool ac_failed = false;
        std::optional<DWORD> state_chg;  // as read
        std::string slide;               // the brightness value read, and what it held
        DWORD slide_value = 0;
        std::optional<DWORD> level;  // sent to the backlight driver
        std::string profile;         // "GPS_" or "STD_" when it refreshed
        std::vector<std::string> events;
        std::vector<std::string> failed_reads;
        std::vector<std::string> bad_writes;
        bool mode_changed = false;
        int timeouts_written = 0;
    };
    // A step being carried out, begun with `depth` modal things open.
    struct Run {
        StepKind kind;
        std::string what;
        std::size_t depth;
        bool faulted = false;
        bool tray_failed = false;
        bool tray_injected = false;
        bool box_seen = false;
        bool box_injected = false;
        bool overlapped = false;  // another show or hide ran inside its box
        bool reached = false;     // a message sent went to the running system's window
        bool bare = false;        // a start that stopped at the backlight driver: no icon, menu or timer
    };

    host::Handheld& device;
    Player& player;
    std::optional<Violation> violation;
    int step = 0;
    std::vector<Run> runs;
    std::map<std::size_t, Tick> ticks;

    // What the running system should show, from what it did and what was done to it.
    HWND system = nullptr;
    HMENU menu = nullptr;
    int mode = 1;
    int phase = 0;
    DWORD last_gps = 0;
    bool refresh_due = true;
    bool resync = false;
    bool menu_tainted = false;
    bool icons_tainted = false;
    bool disabled = false;
    bool disabled_known = false;
    bool hidden = false;
    bool presence_known = false;
    bool state_chg_pending = false;
    std::optional<DWORD> gpshdl;
    host::Millis last_now = -1;
    long long ticks_seen = 0;
    std::size_t end_depth = 0;
    host::Millis deadline = 0;  // how long the system may hold the device between two steps
    host::Millis last_idle = 0;
    std::function<void(const Violation&)> stuck;  // modal things open at the last step: the end unwinds them unseen
    long same_now = 0;

    std::size_t Depth() const { return device.windows().modals().size(); }

    void Fail(const std::string& invariant, const std::string& detail) {
        if (violation) return;
        violation = Violation{invariant, detail, step, device.clock().Now()};
    }

    Run* RunAt(std::size_t depth) {
        for (Run& r : runs)
            if (r.depth == depth) return &r;
        return nullptr;
    }

    DWORD Profile(const std::string& name) {
        std::optional<host::RegValue> v =
            StoredValue(device, HKEY_CURRENT_USER, kProfilePath, std::u16string(name.begin(), name.end()));
        return v ? FirstFour(v->data) : 0;
    }

    std::optional<DWORD> Stored(HKEY root, const std::u16string& path, const std::u16string& name) {
        std::optional<host::RegValue> v = StoredValue(device, root, path, name);
        if (!v) return std::nullopt;
        return FirstFour(v->data);
    }

    void NewProcess() {
        system = nullptr;
        menu = nullptr;
        mode = 1;
        phase = 0;
        last_gps = 0;
        refresh_due = true;
        resync = false;
        menu_tainted = false;
        icons_tainted = false;
        disabled = false;
        disabled_known = false;
        hidden = false;
        presence_known = false;
        ticks.clear();
    }

    void Record(const host::TraceEntry& e) {
        if (violation || player.ended()) return;
        if (stuck && e.t - last_idle > deadline) {
            violation = Violation{"clock",
                                  "the system holds the device from " + std::to_string(last_idle) + " ms to " +
                                      std::to_string(e.t) + " ms and never asks for the next step",
                                  step, e.t};
            stuck(*violation);
        }
        std::size_t depth = Depth();
        for (auto& [d, t] : ticks)
            if (d < depth) t.nested = true;
        auto found = ticks.find(depth);
        Tick* tick = found != ticks.end() ? &found->second : nullptr;
        Run* run = RunAt(depth);
        std::string_view call = e.call;

        if (e.Has("injected")) {
            // A failed status query is a battery reading the tick's checks allow for; it neither
            // faults the tick nor forgets a fault that fired in it before.
            if (tick && call != "GetSystemPowerStatusEx") tick->faulted = true;
            if (run) run->faulted = true;
            if (call == "CheckMenuItem" || call == "AppendMenu" || call == "CreatePopupMenu" || call == "DestroyMenu")
                menu_tainted = true;
            if (call == "LoadImage") icons_tainted = true;
            if (call == "Shell_NotifyIcon") {
                presence_known = false;
                if (run) run->tray_injected = true;
            }
            if (call == "MessageBox" && run) run->box_injected = true;
            if (call == "GetSystemPowerStatusEx" && tick) tick->ac_failed = true;
        }

        if (call == "CreateFile" && run && run->kind == StepKind::kStart && e.Num("result") == -1 &&
            e.Text("lpFileName") == "BKL1:")
            run->bare = true;
        if (call == "CreatePopupMenu") {
            if (e.Num("result")) menu = reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(e.Num("result")));
        } else if (call == "DestroyWindow") {
            if (system && e.Num("hWnd") == static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(system)))
                ticks.clear();
        } else if (call == "GpioRead") {
            if (e.Num("offset") != 0x4) return;
            Tick t;
            t.enabled = true;
            t.pin = static_cast<DWORD>(e.Num("value"));
            ticks[depth] = t;
            if (disabled_known && disabled) Fail("icon", "a disabled system read pin 38 on a tick");
            if (t.pin & 0x40) phase ^= 1;
        } else if (call == "GpioWrite") {
            std::int64_t offset = e.Num("offset");
            if (offset == 0x1C) mode = 0;
            if (offset == 0x24) mode = 1;
            if (tick) {
                tick->mode_changed = true;
                if (!tick->enabled) Fail("icon", "a disabled system's tick drove a pin");
            }
        } else if (call == "RegOpenKeyEx") {
            if (player.starting() || e.Text("hKey") != "HKEY_CURRENT_USER" ||
                e.Text("lpSubKey") != "Software\\MicroSoft\\Shell")
                return;
            if (!tick || tick->opened) {
                ticks[depth] = Tick();
                tick = &ticks[depth];
                if (disabled_known && !disabled) Fail("icon", "an enabled system's tick did not read pin 38");
            }
            tick->opened = e.Num("result") == 0;
            tick->key = e.Num("phkResult");
            if (!tick->opened) EndTick(depth);
        } else if (tick && tick->opened) {
            InTick(*tick, e, depth);
        } else if (call == "Shell_NotifyIcon") {
            if (run && e.Num("result") == 0) run->tray_failed = true;
        } else if (call == "RegSetValueEx") {
            if (e.Text("name") == "GPSHDL" && e.Num("result") == 0) {
                DWORD v = static_cast<DWORD>(e.Num("data"));
                gpshdl = v;
                HWND h = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(v));
                const host::WindowInfo* w = v ? device.windows().Find(h) : nullptr;
                if (v && (!w || w->dialog || w->owner))
                    Fail("gpshdl", "GPSHDL written as " + Hex(v) + ", which names no window of the system");
            }
        }
    }

    void InTick(Tick& t, const host::TraceEntry& e, std::size_t depth) {
        std::string_view call = e.call;
        if (call == "RegQueryValueEx") {
            std::string_view name = e.Text("lpValueName");
            bool ok = e.Num("result") == 0;
            DWORD value = ok ? FirstFour(e.Value("lpData").text) : 0;
            if (!ok) t.failed_reads.emplace_back(name);
            if (name == "State_Chg") t.state_chg = value;
            if (name == "GPS_Slide" || name == "STD_Slide") {
                t.slide = std::string(name);
                t.slide_value = value;
            }
            if (name.size() > 4 && name.substr(4) == "BlTimeOut") t.profile = std::string(name.substr(0, 4));
        } else if (call == "RegSetValueEx") {
            std::string_view name = e.Text("name");
            bool allowed = (name == "State_Chg" && t.state_chg && *t.state_chg != 0 && e.Num("data") == 0) ||
                           ((name == "BatteryTimeout" || name == "BattSuspendTimeout") && !t.profile.empty()) ||
                           (std::find(t.failed_reads.begin(), t.failed_reads.end(), name) != t.failed_reads.end() &&
                            e.Num("data") == 0);
            if (name == "BatteryTimeout" || name == "BattSuspendTimeout") ++t.timeouts_written;
            if (!allowed) t.bad_writes.push_back(std::string(name) + "=" + e.Raw("data"));
        } else if (call == "DeviceIoControl") {
            if (e.Num("code") == 100) {
                const auto& words = e.Value("in").list;
                if (words.size() == 2 && words[0] == 12)
                    t.level = static_cast<DWORD>(words[1]);
                else
                    Fail("brightness", "the backlight request is not {12, level}: " + e.Raw("in"));
            }
        } else if (call == "GetSystemPowerStatusEx") {
        } else if (call == "SetEvent") {
            t.events.emplace_back(e.Text("name"));
            if (t.timeouts_written < 2 && !t.faulted)
                Fail("refresh", "an event was set before both time-outs were written");
        } else if (call == "RegCloseKey") {
            if (e.Num("hKey") == t.key) EndTick(depth);
        }
    }

    void EndTick(std::size_t depth) {
        Tick t = std::move(ticks[depth]);
        ticks.erase(depth);
        ++ticks_seen;
        DWORD gps = t.enabled ? (t.pin & 0x40) : 0;
        bool refreshed = !t.profile.empty();
        bool due = refresh_due || gps != last_gps || (t.state_chg && *t.state_chg != 0);
        if (!t.faulted && !resync) Check(t, gps, refreshed, due);
        if (t.faulted) {
            resync = true;
        } else if (resync && t.opened) {
            resync = false;
        }
        refresh_due = t.opened ? false : (due || refresh_due);
        last_gps = gps;
        if (t.opened) state_chg_pending = false;
    }

    void Check(const Tick& t, DWORD gps, bool refreshed, bool due) {
        if (t.opened) {
            if (due && !refreshed) return Fail("refresh", "a refresh was due but the tick did not refresh");
            if (!due && refreshed) return Fail("refresh", "the tick refreshed without cause");
            if (refreshed) {
                std::string want = gps ? "GPS_" : "STD_";
                if (t.profile != want)
                    return Fail("refresh", "refreshed from " + t.profile + " with the GPS state " + Hex(gps));
                DWORD bl = Profile(want + "Backlight") ? Profile(want + "BlTimeOut") : 0;
                DWORD sus = Profile(want + "Power") ? Profile(want + "PwrTimeOut") : 0;
                std::optional<DWORD> bt = Stored(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", u"BatteryTimeout");
                std::optional<DWORD> st = Stored(
                    HKEY_LOCAL_MACHINE, u"System\\CurrentControlSet\\Control\\Power\\Timeouts", u"BattSuspendTimeout");
                if (bt != bl || st != sus)
                    return Fail("refresh", "time-outs in force " + std::to_string(bt.value_or(-1)) + "/" +
                                               std::to_string(st.value_or(-1)) + ", the " + want +
                                               "profile calls for " + std::to_string(bl) + "/" + std::to_string(sus));
                std::vector<std::string> want_events = {"BackLightChangeEvent", "PowerManager/ReloadActivityTimeouts"};
                if (t.events != want_events) {
                    std::string seen;
                    for (const auto& n : t.events)
                        seen += " " + n;
                    return Fail("refresh", "events set:" + (seen.empty() ? std::string(" none") : seen));
                }
            } else if (!t.events.empty()) {
                return Fail("refresh", "events set without a refresh");
            }
            if (t.state_chg && *t.state_chg != 0 && Stored(HKEY_CURRENT_USER, kProfilePath, u"State_Chg") != 0u)
                return Fail("state_chg", "State_Chg seen as " + std::to_string(*t.state_chg) + " is not cleared");
            if (state_chg_pending && (!t.state_chg || *t.state_chg == 0))
                return Fail("state_chg", "a State_Chg another program set was not seen by the next tick");
            std::string slide =
                gps && (t.ac_failed ? 0 : device.power().ac_line()) == AC_LINE_OFFLINE ? "GPS_Slide" : "STD_Slide";
            if (!t.level) return Fail("brightness", "the tick sent no brightness");
            if (t.slide != slide) return Fail("brightness", "the level came from " + t.slide + ", not " + slide);
            if (*t.level != t.slide_value)
                return Fail("brightness", "sent " + std::to_string(*t.level) + ", " + slide + " holds " +
                                              std::to_string(t.slide_value));
            if (!t.bad_writes.empty()) return Fail("steady", "the tick wrote " + t.bad_writes.front());
        }
        // A tick that served others inside its boxes read the pin before they did: the newest
        // reading is theirs.
        if (!t.enabled || t.nested) return;
        if (std::optional<UINT> checked = CheckedItem(); checked && *checked != (gps ? kIdGpsOn : kIdGpsOff))
            return Fail("follow", std::string("pin 38 reads ") + (gps ? "high" : "low") + " but the menu checks " +
                                      std::to_string(*checked));
        if (icons_tainted || !system) return;
        const host::TrayIcon* icon = device.shell().FindTrayIcon(system, kTrayId);
        if (!icon || !icon->icon_resource) return;
        // A tick that switches the mode ends on icons[mode]: 130 switching on, 131 switching off.
        UINT want = t.mode_changed ? (gps ? 130 : 131) : gps ? (phase == 0 ? 130 : 131) : 132;
        if (*icon->icon_resource != want)
            Fail("icon", "the tray shows " + std::to_string(*icon->icon_resource) + ", the tick calls for " +
                             std::to_string(want));
    }

    // The one item the menu checks; empty when the menu cannot be trusted to show the mode.
    std::optional<UINT> CheckedItem() {
        if (!menu || menu_tainted) return std::nullopt;
        const auto* items = device.shell().MenuItems(menu);
        if (!items) return std::nullopt;
        std::optional<UINT> checked;
        for (const host::MenuItem& item : *items)
            if (item.checked) checked = item.id;
        return checked;
    }

    void Idle() {
        // Stopped here, between turns, rather than inside the platform call that showed it.
        if (violation) return player.Stop();
        host::Millis now = device.clock().Now();
        last_idle = now;
        if (now == last_now) {
            if (++same_now > kStuckTurns) return Fail("clock", "the clock has not moved for a million turns");
        } else {
            last_now = now;
            same_now = 0;
        }
        const std::vector<host::Modal>& modals = device.windows().modals();
        end_depth = modals.size();
        bool box_open = false;
        int tick_boxes = 0;
        for (std::size_t i = 0; i < modals.size(); ++i) {
            const host::Modal& m = modals[i];
            if (m.kind != host::Modal::Kind::kMessageBox) continue;
            box_open = true;
            if (m.text != u"Shell_NotifyIcon Failure") continue;
            if (Run* r = RunAt(i)) {
                r->box_seen = true;
            } else if (ticks.count(i)) {
                ++tick_boxes;
            }
        }
        if (tick_boxes > 1) return Fail("boxes", std::to_string(tick_boxes) + " tray-failure boxes of ticks are open");
        if (!system || !player.running() || box_open) return;
        if (menu && !menu_tainted) {
            if (const auto* items = device.shell().MenuItems(menu)) {
                int checked = 0;
                UINT id = 0;
                for (const host::MenuItem& item : *items)
                    if (item.checked) {
                        ++checked;
                        id = item.id;
                    }
                UINT want = mode == 0 ? kIdGpsOn : kIdGpsOff;
                if (checked != 1 || id != want)
                    return Fail("menu", std::to_string(checked) + " items checked (" + std::to_string(id) +
                                            "), the mode calls for " + std::to_string(want));
            }
        }
        if (presence_known) {
            bool present = device.shell().FindTrayIcon(system, kTrayId) != nullptr;
            if (hidden && present) return Fail("hidden", "the icon is in the tray after hide");
            if (!hidden && !present) return Fail("hidden", "no icon in the tray after show");
        }
    }

    void CheckGpshdl() {
        if (!gpshdl) return;
        std::optional<DWORD> v = Stored(HKEY_LOCAL_MACHINE, kAppPath, u"GPSHDL");
        if (v != gpshdl)
            Fail("gpshdl",
                 "GPSHDL holds " + (v ? Hex(*v) : std::string("nothing")) + ", the system last wrote " + Hex(*gpshdl));
    }

    static bool ShowOrHide(const Run& r) { return r.kind == StepKind::kSend && (r.what == "show" || r.what == "hide"); }

    static bool Has(const Step& s, const std::string& word) {
        for (std::size_t i = 1; i < s.words.size(); ++i)
            if (s.Arg(i) == word) return true;
        return false;
    }
    static std::string After(const Step& s, const std::string& word) {
        for (std::size_t i = 1; i + 1 < s.words.size(); ++i)
            if (s.Arg(i) == word) return s.Arg(i + 1);
        return "";
    }

    void StepStarts(const Step& s) {
        step = s.line;
        Run run{s.kind, s.words.size() > 1 ? s.Arg(1) : "", Depth()};
        if (s.kind == StepKind::kSend && system && player.running())
            run.reached = Stored(HKEY_LOCAL_MACHINE, kAppPath, u"GPSHDL") ==
                          static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(system));
        if (ShowOrHide(run))
            for (Run& r : runs)
                r.overlapped = r.overlapped || ShowOrHide(r);
        runs.push_back(run);
        if (s.kind == StepKind::kStart) NewProcess();
        if (s.kind == StepKind::kReg && s.words.size() > 2) {
            std::string key = s.Arg(2);
            bool profile = key == "HKCU\\Software\\MicroSoft\\Shell";
            if (!profile) return;
            if (s.Arg(1) == "add" && After(s, "/v") == "State_Chg") state_chg_pending = After(s, "/d") != "0";
            if (s.Arg(1) == "delete" && (!Has(s, "/v") || After(s, "/v") == "State_Chg")) state_chg_pending = false;
        }
    }

    void StepEnds(const Step& s) {
        if (runs.empty()) return;
        Run r = runs.back();
        runs.pop_back();
        // After the last step the system only unwinds, unseen.
        if (violation || player.ended()) return;
        if (s.kind == StepKind::kStart) {
            system = player.system();
            if (!system) return;
            disabled = Stored(HKEY_LOCAL_MACHINE, kAppPath, u"DisableApp").value_or(0) != 0;
            disabled_known = !r.faulted;
            presence_known = !r.faulted && !r.tray_failed && !r.bare;
            hidden = false;
            return CheckGpshdl();
        }
        if (s.kind == StepKind::kSend && r.reached && player.running()) {
            if (r.what == "show" || r.what == "hide") {
                disabled = r.what == "hide";
                disabled_known = true;
                hidden = r.what == "hide";
                // The tray is as the last tray operation left it, which is not this one's when
                // another show or hide ran while its box was open.
                presence_known = !r.tray_injected && !r.overlapped;
            }
            if ((r.what == "show" || r.what == "hide") && r.tray_failed && !r.box_seen && !r.box_injected)
                Fail("boxes", "the tray failure of " + r.what + " was shown in no box");
        }
        if (s.kind == StepKind::kSend && r.what == "close") CheckGpshdl();
    }
};

DayChecker::DayChecker(host::Handheld& device, Player& player) : state_(std::make_unique<State>(device, player)) {}
DayChecker::~DayChecker() = default;
void DayChecker::Record(const host::TraceEntry& e) { state_->Record(e); }
void DayChecker::SetDeadline(host::Millis deadline, std::function<void(const Violation&)> stuck) {
    state_->deadline = deadline;
    state_->stuck = std::move(stuck);
}
void DayChecker::Idle() { state_->Idle(); }
void DayChecker::StepStarts(const Step& step) { state_->StepStarts(step); }
void DayChecker::StepEnds(const Step& step) { state_->StepEnds(step); }
const std::optional<Violation>& DayChecker::violation() const { return state_->violation; }
long long DayChecker::ticks() const { return state_->ticks_seen; }

void DayChecker::Finish(const std::optional<std::string>& deadlock) {
    State& s = *state_;
    if (deadlock) s.Fail("clock", *deadlock);
    if (s.violation) return;
    if (s.end_depth == 0) s.CheckGpshdl();
    std::string damage = s.device.registry().CheckWhole();
    if (!damage.empty()) s.Fail("registry", damage);
}

}  // namespace handheld
