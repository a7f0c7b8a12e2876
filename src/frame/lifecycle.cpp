// Start-up and shutdown of the main window.
#include "frame/gpio_regs.h"
#include "frame/main_frame.h"
#include "frame/process_state.h"
#include "gpsport/firmware.h"

FrameProcessState g_process;

namespace {

// The hardware layer's OEM request issued at start-up.
const DWORD IOCTL_HAL_OEM_4008 = CTL_CODE(FILE_DEVICE_HAL, 4008, METHOD_BUFFERED, FILE_ANY_ACCESS);
const UINT kMonitorPeriodMs = 1500;
const DWORD kStartupSettleMs = 100;

}  // namespace

void CMainFrame::ResetProcessState() { g_process = FrameProcessState(); }

int CMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CFrameWnd::OnCreate(lpCreateStruct) == -1) return -1;

    if (g_process.backlight == INVALID_HANDLE_VALUE)
        g_process.backlight = CreateFile(_T("BKL1:"), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_SYSTEM, nullptr);
    // Without the backlight driver the window exists but does nothing.
    if (g_process.backlight == INVALID_HANDLE_VALUE) return 0;

    m_disabled = 0;
    m_pGpioRegs = reinterpret_cast<volatile ULONG*>(static_cast<ULONG_PTR>(GPIO_REGS_BASE));
    m_mode = GPS_MODE_OFF;
    SetUpTray();
    if (IsWindowGone()) return -1;

    HKEY appKey = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], 0, 0, &appKey) != ERROR_SUCCESS) {
        DWORD disposition = 0;
        if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &appKey, &disposition) != ERROR_SUCCESS)
            appKey = nullptr;
    }

    // The request's input is the value 1 itself, not a pointer to it.
    DWORD returned = 0;
    if (!KernelIoControl(IOCTL_HAL_OEM_4008, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(1)), sizeof(DWORD),
                         nullptr, 0, &returned))
        AfxMessageBox(_T("System IO control failed!!"));
    if (IsWindowGone()) {
        if (appKey) RegCloseKey(appKey);
        return -1;
    }
    Sleep(kStartupSettleMs);

    if (ReadRegDword(appKey, AppKeyStrings[APP_REG_VALUE]) == 0) Provision(appKey);
    if (IsWindowGone()) {
        if (appKey) RegCloseKey(appKey);
        return -1;
    }

    WriteRegDword(appKey, AppKeyStrings[GPSHDL_VALUE], static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(m_hWnd)));
    m_disabled = ReadRegDword(appKey, AppKeyStrings[DISABLE_APP_VALUE]);
    if (appKey) RegCloseKey(appKey);

    g_process.refreshPending = 1;
    m_timerId = SetTimer(MONITOR_TIMER_ID, kMonitorPeriodMs, nullptr);
    return 0;
}

// First run on this device: the profile defaults, the published flags and the firmware version.
void CMainFrame::Provision(HKEY appKey) {
    HKEY profileKey = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, PROFILE_KEY_PATH, 0, 0, &profileKey) != ERROR_SUCCESS) profileKey = nullptr;
    for (const ProfileDefault& d : PROFILE_DEFAULTS)
        WriteRegDword(profileKey, d.name, d.value);
    if (profileKey) RegCloseKey(profileKey);

    WriteRegDword(appKey, AppKeyStrings[APP_REG_VALUE], 1);
    WriteRegDword(appKey, AppKeyStrings[ENABLE_ICON_VALUE], 1);
    WriteRegDword(appKey, AppKeyStrings[ENABLE_BY_SW_VALUE], 1);
    WriteRegDword(appKey, AppKeyStrings[USER_HOTKEY_VALUE], 0);

    QueryFirmwareVersion(m_hGpsPort, m_firmware);
    WriteRegString(appKey, AppKeyStrings[FW_VALUE], m_firmware);
}

void CMainFrame::OnClose() {
    // A second close while the first one's failure box waits finishes the close at once.
    if (m_closing) {
        FinishClose();
        return;
    }
    m_closing = TRUE;
    m_menu.DestroyMenu();
    NotifyTrayIcon(NIM_DELETE, m_hIcons[m_mode]);
    if (IsWindowGone()) return;
    FinishClose();
}

void CMainFrame::FinishClose() {
    HKEY appKey = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], 0, 0, &appKey) == ERROR_SUCCESS) {
        if (ReadRegDword(appKey, AppKeyStrings[APP_REG_VALUE]) == 0)
            WriteRegDword(appKey, AppKeyStrings[GPSHDL_VALUE], 0);
        RegCloseKey(appKey);
    }

    KillTimer(m_timerId);
    CFrameWnd::OnClose();
}
