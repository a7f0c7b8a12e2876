// Switching the GPS receiver's power through pins 38 and 21.
#include "frame/gpio_regs.h"
#include "frame/main_frame.h"
#include "res/resource.h"

namespace {

// The menu command of each mode.
const UINT kModeCommands[2] = {ID_GPS_ON, ID_GPS_OFF};
const DWORD kPinSettleMs = 100;

}  // namespace

void CMainFrame::SetGpsMode(GpsMode newMode) {
    if (newMode == m_mode) return;

    m_menu.CheckMenuItem(kModeCommands[m_mode], MF_UNCHECKED);
    m_menu.CheckMenuItem(kModeCommands[newMode], MF_CHECKED);
    m_mode = newMode;
    NotifyTrayIcon(NIM_MODIFY, m_hIcons[newMode]);

    // Before start-up has reached the register block there are no pins to drive, and after a
    // close served inside the failure box there is no window left to drive them for.
    if (!m_pGpioRegs || IsWindowGone()) return;
    // A switch served inside the failure box has changed the mode again and driven the pins for
    // it: driving them now for this call's mode would leave them against the mode in force.
    if (m_mode != newMode) return;
    if (newMode == GPS_MODE_OFF) {
        SetGpioBit(m_pGpioRegs, GPCR0_OFFSET, GPIO_PIN21_BIT);
        Sleep(kPinSettleMs);
        SetGpioBit(m_pGpioRegs, GPCR1_OFFSET, GPIO_PIN38_BIT);
    } else {
        SetGpioBit(m_pGpioRegs, GPSR1_OFFSET, GPIO_PIN38_BIT);
        Sleep(kPinSettleMs);
        SetGpioBit(m_pGpioRegs, GPSR0_OFFSET, GPIO_PIN21_BIT);
    }
}

void CMainFrame::OnGpsOn() { SetGpsMode(GPS_MODE_ON); }

void CMainFrame::OnGpsOff() { SetGpsMode(GPS_MODE_OFF); }

DWORD CMainFrame::ReadGpsPowerPin() const {
    if (!m_pGpioRegs) return 0;
    return READ_REGISTER_ULONG(GpioRegister(m_pGpioRegs, GPLR1_OFFSET)) & GPIO_PIN38_BIT;
}
