// What pelorn writes while the handheld has no face of its own: one readable line for each thing
// the screen shows (the tray icon and its picture, the menu, message boxes, dialogs) and for each
// effect on the devices (pins 21 and 38, the backlight level, time-outs written, events set).
//
// It reads the trace as the calls finish and keeps none of it, and it records only the calls it
// reads, so a run of any length costs the same memory and a steady tick next to nothing.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "platform/host/handheld.h"
#include "platform/host/icons.h"

namespace pelorn {

class Console final : public host::User {
public:
    Console(host::Handheld& device, std::FILE* out);
    ~Console() override;
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Nobody sits at the device: a menu, message box or dialog is written out, then answered.
    bool Act() override;

    // "dark green square": the picture's top-left corner, where the icons carry their colour.
    static std::string Describe(const host::IconImage* picture);

private:
    void Saw(const host::TraceEntry& e);
    void Line(const std::string& text);
    void Tray(const host::TraceEntry& e);

    host::Handheld& device_;
    std::FILE* out_;
    std::optional<unsigned> icon_;  // the resource the tray shows for us
    bool pin21_;
    bool pin38_;
    std::optional<unsigned long> level_;
};

}  // namespace pelorn
