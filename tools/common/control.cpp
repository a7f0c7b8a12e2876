#include "common/control.h"

#include <cstdio>

#include "frame/main_frame.h"
#include "platform/host/hardware_settings.h"
#include "res/resource.h"
#include "settings/settings.h"

namespace tools {

const std::vector<ControlMessage>& ControlMessages() {
    static const std::vector<ControlMessage> messages = {
        {"show", WM_SHOW_TRAY_ICON, 0, "show the tray icon and follow the receiver again"},
        {"hide", WM_HIDE_TRAY_ICON, 0, "hide the tray icon and leave the receiver alone"},
        {"reset", WM_RESET_GPS, 0, "send the reset sentence on COM1: (answers after about 5 s)"},
        {"close", WM_CLOSE, 0, "close the system"},
        {"about", WM_COMMAND, ID_APP_ABOUT, "the About box (answers when it is closed)"},
    };
    return messages;
}

const ControlMessage* FindControlMessage(std::string_view name) {
    for (const ControlMessage& m : ControlMessages())
        if (name == m.name) return &m;
    return nullptr;
}

std::string ControlMessageNames() {
    std::string names;
    for (const ControlMessage& m : ControlMessages())
        names += (names.empty() ? "" : "|") + std::string(m.name);
    return names;
}

std::string Spelled(const ControlMessage& message) {
    if (message.msg == WM_CLOSE) return "WM_CLOSE";
    if (message.msg == WM_COMMAND) return "WM_COMMAND " + std::to_string(message.wparam);
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", message.msg);
    return text;
}

std::optional<std::uint32_t> StateChgRead(std::u16string_view name, const BYTE* data, DWORD size) {
    static constexpr std::u16string_view kName = STATE_CHG_VALUE;
    if (size != 4 || name != kName) return std::nullopt;
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

std::string ReceivedWords(const host::PeerRequest& request, pid_t sender) {
    std::string what;
    for (const ControlMessage& m : ControlMessages())
        if (m.msg == request.msg && (m.msg != WM_COMMAND || m.wparam == request.wparam))
            what = std::string(m.name) + " (" + Spelled(m) + ")";
    if (what.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, "message 0x%04X (%llu, %lld)", request.msg,
                      static_cast<unsigned long long>(request.wparam), static_cast<long long>(request.lparam));
        what = text;
    }
    return (request.kind == host::kWirePost ? "posted: " : "sent: ") + what + " from pid " + std::to_string(sender);
}

std::optional<DWORD> PublishedWindow(host::Handheld& device) {
    return host::StoredDword(device.registry(), HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH],
                             AppKeyStrings[GPSHDL_VALUE]);
}

}  // namespace tools
