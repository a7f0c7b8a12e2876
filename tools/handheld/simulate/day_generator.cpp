#include "handheld/simulate/day_generator.h"

#include <algorithm>
#include <cstdio>

#include "common/control.h"
#include "common/device_view.h"
#include "platform/host/shell.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

const char kProfileKey[] = "\"HKCU\\Software\\MicroSoft\\Shell\"";
const char kAppKey[] = "\"HKLM\\SOFTWARE\\Apps\\Tavro SW\"";
const std::u16string kProfilePath = u"Software\\MicroSoft\\Shell";
const std::u16string kAppPath = u"SOFTWARE\\Apps\\Tavro SW";

const char* const kProfileValues[] = {"GPS_PwrTimeOut", "GPS_BlTimeOut",  "GPS_Slide",     "GPS_Backlight",
                                      "GPS_Power",      "STD_PwrTimeOut", "STD_BlTimeOut", "STD_Slide",
                                      "STD_Backlight",  "STD_Power",      "Temp_ACTimeOut"};

template <std::size_t N>
const char* Pick(SeededRandom& random, const char* const (&names)[N]) {
    return names[random.Below(N)];
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

std::uint64_t SeededRandom::Next() {
    // splitmix64: the same numbers from the same seed on every platform and build.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::optional<host::RegValue> StoredValue(host::Handheld& device, HKEY root, const std::u16string& path,
                                          const std::u16string& name) {
    host::RegistryStore& registry = device.registry();
    host::RegKeyId key = 0;
    if (registry.OpenKey(host::RegistryStore::Root(root), path, &key) != ERROR_SUCCESS) return std::nullopt;
    host::RegValue value;
    if (registry.GetValue(key, name, &value) != ERROR_SUCCESS) return std::nullopt;
    return value;
}

bool KeyExists(host::Handheld& device, HKEY root, const std::u16string& path) {
    host::RegKeyId key = 0;
    return device.registry().OpenKey(host::RegistryStore::Root(root), path, &key) == ERROR_SUCCESS;
}

std::string EscapedForScript(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u >= 0x7F || c == '"' || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

DayGenerator::DayGenerator(const DayOptions& options, host::Handheld& device)
    : options_(options), device_(device), random_(options.seed) {
    if (random_.Chance(25)) {
        absent_ = random_.Chance(50) ? "COM1:" : "BKL1:";
        absent_at_ = random_.Chance(30) ? 0 : random_.Between(0, std::max<host::Millis>(0, options.length - 1));
    }
}

const Step* DayGenerator::Next() {
    if (device_.clock().Now() >= options_.length) return nullptr;
    std::string line = Choose();
    lines_.push_back(line);
    std::vector<Step> steps = ParseScript(line);
    step_ = steps.at(0);
    step_.line = static_cast<int>(lines_.size());
    return &step_;
}

std::string DayGenerator::Choose() {
    if (absent_at_ && device_.clock().Now() >= *absent_at_) {
        absent_at_.reset();
        return "absent " + absent_;
    }
    const host::Modal* top = device_.windows().TopModal();
    if (top && top->kind == host::Modal::Kind::kMenu && random_.Chance(70)) {
        // Any item the menu shows, the checked one too, or beside the menu.
        std::vector<std::string> items;
        if (const auto* shown = device_.shell().MenuItems(top->menu))
            for (const host::MenuItem& item : *shown)
                if (!item.separator && !item.grayed) items.push_back(tools::Shown(item.text));
        std::size_t choice = random_.Below(items.size() + 1);
        return choice < items.size() ? "pick \"" + items[choice] + "\"" : "pick none";
    }
    // Boxes are answered late, or not for a while.
    if (top && top->kind != host::Modal::Kind::kMenu && random_.Chance(35)) return "ok";
    bool stopped = player_ && !player_->running() && !player_->starting();
    if (stopped && random_.Chance(20)) return "start";

    std::uint64_t roll = random_.Below(1000);
    if (roll < 380) return Wait();
    if (roll < 470) return Tap();
    if (roll < 560) {
        static const char* const kSent[] = {"show", "show", "hide", "hide", "reset", "about", "close"};
        return std::string("send ") + Pick(random_, kSent);
    }
    if (roll < 570) {
        static const char* const kSignals[] = {"INT", "TERM", "HUP"};
        return std::string("signal ") + Pick(random_, kSignals);
    }
    if (roll < 720) return Registry();
    if (roll < 790) {
        static const char* const kLevels[] = {"high", "low", "released"};
        return std::string("pin38 ") + Pick(random_, kLevels);
    }
    if (roll < 850) {
        static const char* const kLines[] = {"battery", "online", "unknown"};
        return std::string("power ") + Pick(random_, kLines);
    }
    if (roll < 920) return Receiver();
    if (roll < 960) return Fault();
    return Wait();
}

std::string DayGenerator::Wait() {
    std::uint64_t roll = random_.Below(100);
    std::int64_t ms = roll < 50   ? random_.Between(0, 3000)
                      : roll < 80 ? random_.Between(3000, 90000)
                      : roll < 95 ? random_.Between(90000, 1200000)
                                  : random_.Between(1200000, 7200000);
    return "wait " + std::to_string(ms);
}

std::string DayGenerator::Tap() {
    // Mostly on the system's icon; now and then anywhere on the taskbar.
    if (random_.Chance(75))
        for (const host::TrayIcon& icon : device_.shell().TrayIcons()) {
            if (icon.id != 5000) continue;
            if (std::optional<RECT> r = device_.shell().TrayIconRect(icon.window, icon.id))
                return "tap " + std::to_string(random_.Between(r->left, r->right - 1));
        }
    return "tap " + std::to_string(random_.Between(0, 239));
}

std::string DayGenerator::Registry() {
    std::uint64_t roll = random_.Below(100);
    if (roll < 35) {
        static const std::int64_t kFlags[] = {0, 1, 5, 255, 0x10000};
        std::int64_t v = random_.Chance(80) ? kFlags[random_.Below(5)] : random_.Between(0, 0x7FFFFFFF);
        return std::string("reg add ") + kProfileKey + " /v State_Chg /t REG_DWORD /d " + std::to_string(v) + " /f";
    }
    if (roll < 75) {
        std::string name = Pick(random_, kProfileValues);
        if (random_.Chance(20) && ProfileValueExists(name))
            return std::string("reg delete ") + kProfileKey + " /v " + name + " /f";
        if (random_.Chance(8))
            return std::string("reg add ") + kProfileKey + " /v " + name + " /t REG_SZ /d " +
                   std::to_string(random_.Between(0, 999)) + " /f";
        std::int64_t v = random_.Chance(85) ? random_.Between(0, 300) : random_.Between(0, 0x7FFFFFFF);
        return std::string("reg add ") + kProfileKey + " /v " + name + " /t REG_DWORD /d " + std::to_string(v) + " /f";
    }
    if (roll < 80) {
        if (ProfileKeyExists()) {
            if (random_.Chance(30)) return std::string("reg delete ") + kProfileKey + " /f";
        } else {
            return std::string("reg add ") + kProfileKey + " /f";
        }
    }
    if (roll < 93) {
        if (random_.Chance(15) && AppValueExists("DisableApp"))
            return std::string("reg delete ") + kAppKey + " /v DisableApp /f";
        return std::string("reg add ") + kAppKey + " /v DisableApp /t REG_DWORD /d " +
               std::to_string(random_.Chance(60) ? 0 : 1) + " /f";
    }
    if (AppValueExists("AppReg") && random_.Chance(40)) return std::string("reg delete ") + kAppKey + " /v AppReg /f";
    return std::string("reg add ") + kProfileKey + " /v State_Chg /t REG_DWORD /d 1 /f";
}

std::string DayGenerator::Receiver() {
    std::uint64_t roll = random_.Below(100);
    if (roll < 15) return "com1 silent";
    std::string bytes;
    if (roll < 60 && !options_.logs.empty()) {
        const std::string& log = options_.logs[random_.Below(options_.logs.size())];
        std::size_t length = static_cast<std::size_t>(random_.Between(20, 400));
        std::size_t at = log.size() > length ? random_.Below(log.size() - length) : 0;
        bytes = log.substr(at, length);
    } else if (roll < 80) {
        static const char* const kFirmware[] = {"$PSRFTXT,Version: 03.01.00.12-HH01*3C\r\n$",
                                                "$PSRFTXT,Version:2.3.2-GSW2*51\r\n$", "noise$GPTXT,-:x*00\r\n$"};
        bytes = Pick(random_, kFirmware);
    } else {
        std::size_t n = static_cast<std::size_t>(random_.Between(1, 120));
        for (std::size_t i = 0; i < n; ++i)
            bytes += static_cast<char>(random_.Below(256));
    }
    return "com1 send \"" + EscapedForScript(bytes) + "\"";
}

std::string DayGenerator::Fault() {
    const auto& failable = host::Faults::Failable();
    std::string name(failable[random_.Below(failable.size())]);
    return "fail " + name + (random_.Chance(25) ? " " + std::to_string(random_.Between(2, 4)) : "");
}

bool DayGenerator::ProfileKeyExists() const { return KeyExists(device_, HKEY_CURRENT_USER, kProfilePath); }

bool DayGenerator::ProfileValueExists(const std::string& name) const {
    return StoredValue(device_, HKEY_CURRENT_USER, kProfilePath, Wide(name)).has_value();
}

bool DayGenerator::AppValueExists(const std::string& name) const {
    return StoredValue(device_, HKEY_LOCAL_MACHINE, kAppPath, Wide(name)).has_value();
}

}  // namespace handheld
