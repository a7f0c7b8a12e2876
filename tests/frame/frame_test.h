// Runs the system on a fresh virtual handheld as its process would, and reads what a person or
// another program could see: the trace, the tray and menu, the pins, the registry.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/switch_app.h"
#include "frame/main_frame.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"
#include "res/host_resources.h"
#include "support/device_test.h"

namespace pelorn_test {

class FrameTest : public DeviceTest {
protected:
    host::BootOptions Options() override;
    void SetUp() override;
    void TearDown() override;

    // InitInstance, as the process does; the window then runs on the virtual clock.
    void Start();
    // WM_CLOSE from another program; the window and its frame are gone afterwards.
    void Close();
    // A new process on the same device (whose hardware is switched on afresh).
    void Restart();
    HWND Window() const { return window_; }
    host::WindowManager& wm() { return device().windows(); }
    host::Shell& shell() { return device().shell(); }
    host::GpioBlock& gpio() { return device().gpio(); }
    host::PowerDevices& power() { return device().power(); }
    // Runs until `n` more monitor ticks have been served.
    void Ticks(int n) { wm().RunFor(1500 * n); }

    // The texts of the message boxes shown so far, in order.
    std::vector<std::string> Boxes();
    // The resource id of the tray icon the system shows; 0 when there is none.
    UINT TrayIcon();
    // The system's popup menu, and which of its items carry the check mark.
    HMENU Menu() const { return menu_; }
    std::vector<UINT> CheckedItems();
    // Register writes to the GPIO block, as "0x1C@t".
    std::vector<std::string> PinWrites();

    // Registry access from outside the system: not traced.
    std::optional<DWORD> Dword(HKEY root, LPCTSTR path, LPCTSTR name);
    void SetDword(HKEY root, LPCTSTR path, LPCTSTR name, DWORD value);
    std::optional<std::u16string> Text(HKEY root, LPCTSTR path, LPCTSTR name);
    bool Exists(HKEY root, LPCTSTR path, LPCTSTR name);
    void DeleteValue(HKEY root, LPCTSTR path, LPCTSTR name);
    // The value names of each RegSetValueEx the system made, in order.
    std::vector<std::string> ValuesWritten();

private:
    HWND window_ = nullptr;
    HMENU menu_ = nullptr;
};

}  // namespace pelorn_test
