// The one hidden main window. Every behaviour of the system is a handler of a message that
// reaches it: creation and close, the monitor timer, the tray icon and its menu, and the control
// messages other programs send.
#pragma once

#include "framework/afx.h"
#include "settings/settings.h"

// Control messages other programs send to the window named by GPSHDL.
#define WM_SHOW_TRAY_ICON (WM_USER + 1)  // 0x0401
#define WM_HIDE_TRAY_ICON (WM_USER + 2)  // 0x0402
#define WM_RESET_GPS (WM_USER + 3)       // 0x0403
// The tray icon's callback message.
#define WM_TRAY_NOTIFY (WM_USER + 2001)  // 3025

#define TRAY_ICON_UID 5000
#define MONITOR_TIMER_ID 1

// 0: receiver on ("GPS On"), 1: off ("GPS OFF").
typedef int GpsMode;
#define GPS_MODE_ON 0
#define GPS_MODE_OFF 1

// A close can arrive while a handler waits in a modal loop (a message box, the popup menu, the
// About dialog): the loop serves it, and the window is gone when the wait returns. The frame
// object itself lives on until that handler has returned. A handler that finds its window gone
// after a modal wait stops there: it drives no pin, writes nothing to the registry, changes no
// tray icon and starts no timer, and returns. The one exception is first-run provisioning, which
// belongs to the device rather than the window: once `AppReg` is written, `FW` is written too.
class CMainFrame : public CFrameWnd {
    DECLARE_DYNAMIC(CMainFrame)

public:
    CMainFrame();
    ~CMainFrame() override;

    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Shows, changes or removes the tray icon; a failure is shown to the user.
    BOOL NotifyTrayIcon(DWORD operation, HICON icon);
    // Moves the check mark, changes the icon and drives the receiver's power pins.
    void SetGpsMode(GpsMode newMode);

    // Forgets what the process-wide state of an earlier window in this process held, as a new
    // process would: the backlight driver handle, the pending refresh, the monitor's memory.
    static void ResetProcessState();

protected:
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnClose();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnTimer(UINT_PTR nIDEvent);
    void OnGpsOn();
    void OnGpsOff();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnShowTrayIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnHideTrayIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnResetGps(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

    // The rest of the close, once the tray icon is gone; the window is destroyed at its end.
    void FinishClose();
    void SetUpTray();
    void Provision(HKEY appKey);
    DWORD ReadGpsPowerPin() const;
    // One monitor tick: follow pin 38, send the brightness, apply the profile when due.
    void Tick();
    void RefreshTimeouts(HKEY profileKey, const PowerProfile& profile);

    // Construction gives every field a value that is safe before start-up has set it: no table
    // is indexed out of range, no register is written through a null block, no timer is stopped.
    volatile ULONG* m_pGpioRegs;  // the GPIO register block
    CMenu m_menu;                 // the tray icon's popup menu
    HICON m_hIcons[3];            // 130, 131 (receiver on, two blink frames), 132 (off)
    GpsMode m_mode;
    DWORD m_disabled;  // nonzero: the monitor leaves icon and mode alone
    UINT_PTR m_timerId;
    char m_firmware[256];     // the receiver's firmware version, 8-bit text
    HANDLE m_hGpsPort;        // open only during the firmware query
    int m_tickDepth;          // monitor ticks running, nested in each other's boxes, under this message
    BOOL m_tickFailureShown;  // a tick's tray failure box is open
    BOOL m_closing;           // the close has begun: its steps run once
};
