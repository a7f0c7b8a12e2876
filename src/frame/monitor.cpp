// The monitor: every 1.5 s, follow the receiver's power pin and the battery, and apply the
// matching power profile.
#include <cstring>

#include "frame/main_frame.h"
#include "frame/process_state.h"

namespace {

const DWORD IOCTL_BKL_SET_LEVEL = 100;
const DWORD kBacklightRequestTag = 12;

// Tells the event's owner to reload what was just written.
void SignalNamedEvent(LPCTSTR name) {
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, name);
    if (!event) return;
    SetEvent(event);
    CloseHandle(event);
}

}  // namespace

void CMainFrame::OnTimer(UINT_PTR nIDEvent) {
    ++m_tickDepth;
    Tick();
    --m_tickDepth;
    if (!IsWindowGone()) CFrameWnd::OnTimer(nIDEvent);
}

void CMainFrame::Tick() {
    DWORD gpsState = 0;
    if (m_disabled == 0) {
        gpsState = ReadGpsPowerPin();
        if (gpsState) {
            g_process.blinkPhase ^= 1;
            NotifyTrayIcon(NIM_MODIFY, m_hIcons[g_process.blinkPhase]);
            if (!IsWindowGone()) SetGpsMode(GPS_MODE_ON);
        } else {
            NotifyTrayIcon(NIM_MODIFY, m_hIcons[2]);
            if (!IsWindowGone()) SetGpsMode(GPS_MODE_OFF);
        }
        // Closed inside a failure box: the tick has nothing left to apply.
        if (IsWindowGone()) return;
    }

    DWORD stateChanged = 0;
    HKEY profileKey = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, PROFILE_KEY_PATH, 0, 0, &profileKey) != ERROR_SUCCESS) profileKey = nullptr;
    if (profileKey) {
        stateChanged = ReadRegDword(profileKey, STATE_CHG_VALUE);
        // Only a flag that was seen is cleared, so one set meanwhile is not lost.
        if (stateChanged != 0) WriteRegDword(profileKey, STATE_CHG_VALUE, 0);

        SYSTEM_POWER_STATUS_EX status;
        std::memset(&status, 0, sizeof status);
        GetSystemPowerStatusEx(&status, TRUE);

        LPCTSTR slide = (gpsState && status.ACLineStatus == AC_LINE_OFFLINE) ? GPS_PROFILE.slide : STD_PROFILE.slide;
        g_process.backlightRequest[0] = kBacklightRequestTag;
        g_process.backlightRequest[1] = ReadRegDword(profileKey, slide);
        DeviceIoControl(g_process.backlight, IOCTL_BKL_SET_LEVEL, g_process.backlightRequest,
                        sizeof g_process.backlightRequest, nullptr, 0, nullptr, nullptr);
    }

    if (gpsState != g_process.lastGpsState || stateChanged != 0 || g_process.refreshPending != 0) {
        // Without the profile there is nothing sound to apply: writing zeros would switch both
        // time-outs off. The refresh waits for a tick that can read the profile.
        if (profileKey) {
            g_process.refreshPending = 0;
            RefreshTimeouts(profileKey, gpsState ? GPS_PROFILE : STD_PROFILE);
        } else {
            g_process.refreshPending = 1;
        }
    }

    if (profileKey) RegCloseKey(profileKey);
    g_process.lastGpsState = gpsState;
}

void CMainFrame::RefreshTimeouts(HKEY profileKey, const PowerProfile& profile) {
    DWORD backlightTimeout = ReadRegDword(profileKey, profile.blTimeOut);
    DWORD suspendTimeout = ReadRegDword(profileKey, profile.powerTimeOut);
    DWORD backlightEnabled = ReadRegDword(profileKey, profile.backlight);
    DWORD suspendEnabled = ReadRegDword(profileKey, profile.power);
    if (backlightEnabled == 0) backlightTimeout = 0;
    if (suspendEnabled == 0) suspendTimeout = 0;

    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CURRENT_USER, BACKLIGHT_KEY_PATH, 0, 0, &key) == ERROR_SUCCESS) {
        WriteRegDword(key, BATTERY_TIMEOUT_VALUE, backlightTimeout);
        RegCloseKey(key);
    }
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, POWER_TIMEOUTS_KEY_PATH, 0, 0, &key) == ERROR_SUCCESS) {
        WriteRegDword(key, BATT_SUSPEND_TIMEOUT_VALUE, suspendTimeout);
        RegCloseKey(key);
    }

    SignalNamedEvent(_T("BackLightChangeEvent"));
    SignalNamedEvent(_T("PowerManager/ReloadActivityTimeouts"));
}
