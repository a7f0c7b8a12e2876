// The backlight driver "BKL1:": keeps the level it is given and, when the registry names one,
// drives a Linux backlight with it.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/objects.h"
#include "platform/host/power.h"

namespace host {
namespace {

// Whatever goes wrong on the Linux side, the handheld's driver has taken the level.
void DriveSysfsBacklight(const std::u16string* setting, DWORD level) {
    if (!setting || setting->empty()) return;
    std::string folder = SysfsFolder(*setting, "/sys/class/backlight");
    auto max = ReadSysfsNumber(folder + "/max_brightness");
    if (!max || *max <= 0) return;
    DWORD clamped = level > PowerDevices::kBacklightLevels ? PowerDevices::kBacklightLevels : level;
    long long brightness = static_cast<long long>(clamped) * *max / PowerDevices::kBacklightLevels;
    std::string text = std::to_string(brightness) + "\n";
    int fd = open((folder + "/brightness").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return;
    ssize_t written = write(fd, text.data(), text.size());
    (void)written;
    close(fd);
}

// Device names are case-insensitive; only the first instance is fitted.
bool IsFirstBacklight(const std::u16string& name) {
    static const char16_t kName[] = u"BKL1:";
    if (name.size() != 5) return false;
    for (std::size_t i = 0; i < 5; ++i) {
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != kName[i]) return false;
    }
    return true;
}

class BacklightDevice final : public FileDevice {
public:
    BacklightDevice(PowerDevices& power, RegistryStore& registry) : power_(power), registry_(registry) {}

    BOOL IoControl(DWORD code, void* in, DWORD in_size, void*, DWORD, DWORD* returned) override {
        *returned = 0;
        if (!power_.backlight_present()) {
            SetLastError(ERROR_DEV_NOT_EXIST);
            return FALSE;
        }
        if (code != kIoctlBklSetLevel) {
            SetLastError(kInvalidFunction);
            return FALSE;
        }
        DWORD request[2] = {0, 0};
        if (!in || in_size != sizeof request) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::memcpy(request, in, sizeof request);
        if (request[0] != kBklSetLevelTag) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        power_.BacklightLevelSet(request[1]);
        DriveSysfsBacklight(sysfs_.Text(registry_), request[1]);
        return TRUE;
    }

private:
    PowerDevices& power_;
    RegistryStore& registry_;
    HardwareSetting sysfs_{u"Backlight", u"Sysfs"};
};

}  // namespace

std::shared_ptr<FileDevice> OpenBacklightDevice(const std::u16string& name, DWORD, DWORD* error) {
    Handheld& device = Handheld::Current();
    PowerDevices& power = device.power();
    if (!IsFirstBacklight(name) || !power.backlight_present()) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return std::make_shared<BacklightDevice>(power, device.registry());
}

}  // namespace host
