// What pelorn writes while the handheld has no face of its own: one readable line for each thing
// the screen shows (the tray icon and its picture, the menu, message boxes, dialogs) and for each
// effect on the devices (pins 21 and 38, the backlight level, time-outs written, events set), the
// firmware recorded and the profile in force, a State_Chg another program set, and what other
// programs sent the system. Each line starts with the device's time in seconds, and on the real
// clock with the wall-clock time before it.
//
// Whenever the loop is idle it looks at the device (the view `handheld status` and the face read)
// and writes what changed since it last looked. What the system sets whether or not anything
// changes it hears as it happens: the time-outs (failed writes too) from the trace, which records
// just those calls and keeps nothing; the backlight levels from the driver, and State_Chg from
// the system's registry reads, since the tick does both every time. A run of any length costs the
// same memory, and a steady tick one glance at what the process holds and no record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "common/device_view.h"
#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"

namespace pelorn {

class Console final : public host::User {
public:
    // `verbose`: every frame of a blinking icon too, not only the start of the blinking.
    Console(host::Handheld& device, std::FILE* out, bool verbose = false);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Nobody sits at the device: a menu, message box or dialog is written out, then answered.
    bool Act() override;

    // "dark green square": the picture's top-left corner, where the icons carry their colour.
    static std::string Describe(const host::IconImage* picture);

private:
    void Saw(const host::TraceEntry& e);
    void Sent(const host::PeerRequest& request, pid_t sender);
    void Line(const std::string& text);
    // Looks into next_.
    void LookNow();
    // What the lines and the answers depend on, in a few numbers: while it stands, there is
    // nothing new to write or answer.
    struct Glance {
        std::size_t icons = 0;
        std::optional<UINT> icon;
        bool pin21 = false, pin38 = false;
        long long sets = 0;
        std::size_t modals = 0;
        std::optional<std::uint64_t> registry;
        bool operator==(const Glance& o) const;
    };
    Glance GlanceNow();
    // Writes what differs between the last look and `now`.
    void Changes(const tools::DeviceView& now);

    host::Handheld& device_;
    std::FILE* out_;
    tools::DeviceView seen_;
    std::optional<std::uint64_t> registry_;  // the registry's version at the last full look
    // The view before seen_, refilled at the next look: a steady tick allocates nothing. Its
    // registry settings are those of the registry's version `next_registry_`.
    tools::DeviceView next_;
    std::optional<std::uint64_t> next_registry_, seen_registry_;
    std::optional<DWORD> backlight_;  // the level last set
    int backlight_why_ = -1;          // ... pin 38 and the AC line then, which say where it came from
    bool verbose_;
    std::optional<UINT> icon_before_;  // the tray's icon before the one shown now
    bool blinking_ = false;            // its last changes went back and forth between two icons
    std::optional<Glance> glance_;     // at the last look
};

}  // namespace pelorn
