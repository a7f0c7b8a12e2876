// `handheld profile`: the two power profiles by their registry names, and a change of them that a
// running Pelorn applies at its next tick.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/device_view.h"
#include "common/device_words.h"
#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/power.h"
#include "platform/host/reg_data.h"
#include "platform/host/registry_store.h"
#include "settings/settings.h"

namespace handheld {
namespace {

const char kUsage[] =
    "usage: handheld profile [--help] [GPS|STD [backlight=SECONDS|never] [suspend=SECONDS|never] "
    "[brightness=N]]\n";

// The platform counts a time-out's milliseconds in 32 bits: more seconds than this cannot be waited.
constexpr unsigned long kMaxSeconds = 0xFFFFFFFFul / 1000;

struct Setting {
    std::optional<DWORD> seconds;  // a time-out; 0: never
    std::optional<DWORD> level;    // brightness
};

// SECONDS or never (0 is never too, as the platform takes a time-out of 0).
std::optional<DWORD> TimeoutValue(const std::string& text, std::string* problem, const std::string& what) {
    if (text == "never") return 0;
    if (!text.empty() && text.size() <= 10 && std::all_of(text.begin(), text.end(), ::isdigit)) {
        unsigned long long v = std::stoull(text);
        if (v <= kMaxSeconds) return static_cast<DWORD>(v);
    }
    *problem = what + " is a number of seconds from 1 to " + std::to_string(kMaxSeconds) +
               " (the platform counts a time-out's milliseconds in 32 bits) or never, not '" + text + "'";
    return std::nullopt;
}

std::optional<DWORD> LevelValue(const std::string& text, std::string* problem) {
    if (text.size() <= 2 && !text.empty() && std::all_of(text.begin(), text.end(), ::isdigit) &&
        std::stoul(text) <= host::PowerDevices::kBacklightLevels)
        return static_cast<DWORD>(std::stoul(text));
    *problem = "brightness is a backlight level from 0 (dark) to " +
               std::to_string(host::PowerDevices::kBacklightLevels) +
               " (brightest), the levels of the handheld's backlight driver, not '" + text + "'";
    return std::nullopt;
}

std::string Name(LPCTSTR name) { return Utf8(name); }

std::string Row(LPCTSTR name, std::optional<DWORD> value, const std::string& meaning) {
    std::string v = value ? std::to_string(*value) : "missing";
    std::string row = "  " + Name(name);
    row.resize(std::max<std::size_t>(row.size() + 1, 18), ' ');
    row += v;
    row.resize(std::max<std::size_t>(row.size() + 1, 30), ' ');
    return row + meaning + "\n";
}

std::string Listing(const char* label, const char* when, const PowerProfile& names,
                    const tools::DeviceView::Profile& p) {
    return std::string(label) + " profile, " + when + ": " + tools::ProfileWords(p) + "\n" +
           Row(names.blTimeOut, p.bl_timeout, "backlight time-out on battery, seconds") +
           Row(names.backlight, p.backlight, "0: no backlight time-out (never)") +
           Row(names.powerTimeOut, p.power_timeout, "suspend time-out on battery, seconds") +
           Row(names.power, p.power, "0: no suspend time-out (never)") +
           Row(names.slide, p.slide,
               std::string("brightness level 0-10") +
                   (label[0] == 'G' ? ", while powered on battery" : ", in every other case"));
}

host::RegChange Dword(LPCTSTR name, DWORD value) {
    host::RegChange c;
    c.kind = host::RegChange::Kind::kSetValue;
    c.base = host::RegistryStore::Root(HKEY_CURRENT_USER);
    c.path = PROFILE_KEY_PATH;
    c.name = name;
    c.type = REG_DWORD;
    c.data = host::DwordData(value);
    return c;
}

void Usage() {
    std::cout << kUsage
              << "Without arguments, lists both power profiles of the device in PELORN_DEVICE by their values in\n"
                 "HKCU\\Software\\MicroSoft\\Shell: the GPS profile (GPS_BlTimeOut, GPS_Backlight, GPS_PwrTimeOut,\n"
                 "GPS_Power, GPS_Slide) holds while the receiver is powered (pin 38 high), the STD profile (the\n"
                 "same names with STD_) otherwise. The brightness comes from GPS_Slide only while the receiver\n"
                 "is powered on battery, and from STD_Slide in every other case, on external power too.\n"
                 "With GPS or STD, sets that profile's values by name and sets State_Chg, so that a running\n"
                 "Pelorn applies them at its next tick (within 1.5 s):\n"
                 "  backlight=SECONDS   the backlight time-out on battery: BlTimeOut = SECONDS, Backlight = 1\n"
                 "  backlight=never     no backlight time-out: Backlight = 0 (BlTimeOut is kept); 0 is never too\n"
                 "  suspend=SECONDS     the suspend time-out on battery: PwrTimeOut = SECONDS, Power = 1\n"
                 "  suspend=never       no suspend time-out: Power = 0 (PwrTimeOut is kept); 0 is never too\n"
                 "  brightness=N        Slide = N, a backlight level from 0 (dark) to 10 (brightest)\n"
                 "Time-outs run to 4294967 s: the platform counts a time-out's milliseconds in 32 bits. Values\n"
                 "out of range are refused and nothing is written.\n";
}

}  // namespace

int ProfileMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        Usage();
        return 0;
    }
    const PowerProfile* names = nullptr;
    std::optional<DWORD> backlight, suspend, brightness;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i], problem;
        std::size_t eq = a.find('=');
        std::string key = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
        if (i == 1) {
            std::string upper = a;
            for (char& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (upper == "GPS" || upper == "STD") {
                names = upper == "GPS" ? &GPS_PROFILE : &STD_PROFILE;
                continue;
            }
            problem = "the profile is GPS or STD, not '" + a + "'";
        } else if (eq == std::string::npos) {
            problem = "unknown setting '" + a + "'";
        } else if (key == "backlight" && !backlight) {
            backlight = TimeoutValue(value, &problem, key);
        } else if (key == "suspend" && !suspend) {
            suspend = TimeoutValue(value, &problem, key);
        } else if (key == "brightness" && !brightness) {
            brightness = LevelValue(value, &problem);
        } else if (key == "backlight" || key == "suspend" || key == "brightness") {
            problem = key + " given twice";
        } else {
            problem = "unknown setting '" + a + "'";
        }
        if (!problem.empty()) {
            std::cerr << "handheld profile: " << problem << "\n" << kUsage;
            return 2;
        }
    }
    if (names && !backlight && !suspend && !brightness) {
        std::cerr << "handheld profile: say what to set: backlight=, suspend= or brightness=\n" << kUsage;
        return 2;
    }
    try {
        OnDevice on;
        host::Handheld& device = host::Handheld::Current();
        if (names) {
            std::vector<host::RegChange> changes;
            if (backlight) {
                if (*backlight) changes.push_back(Dword(names->blTimeOut, *backlight));
                changes.push_back(Dword(names->backlight, *backlight ? 1 : 0));
            }
            if (suspend) {
                if (*suspend) changes.push_back(Dword(names->powerTimeOut, *suspend));
                changes.push_back(Dword(names->power, *suspend ? 1 : 0));
            }
            if (brightness) changes.push_back(Dword(names->slide, *brightness));
            // In the same transaction: no tick sees the flag without the values.
            changes.push_back(Dword(STATE_CHG_VALUE, 1));
            std::size_t failed = 0;
            if (LONG r = device.registry().Apply(changes, &failed)) {
                std::cerr << "handheld profile: cannot write " << Utf8(changes[failed].name)
                          << (r == ERROR_FILE_NOT_FOUND ? ": the device has no key HKCU\\Software\\MicroSoft\\Shell"
                                                        : " (error " + std::to_string(r) + ")")
                          << "\n";
                return 1;
            }
        }
        tools::DeviceView view = tools::Look(device);
        if (!names || names == &GPS_PROFILE)
            std::cout << Listing("GPS", "while the receiver is powered", GPS_PROFILE, view.gps);
        if (!names || names == &STD_PROFILE)
            std::cout << Listing("STD", "while it is off", STD_PROFILE, view.std_profile);
        if (names) std::cout << "State_Chg set: a running Pelorn applies it at its next tick\n";
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld profile: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
