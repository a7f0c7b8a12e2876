#include "gpsport/gps_port.h"

#include <string.h>

#include "res/resource.h"

const char GPS_NAV_INIT_SENTENCE[] = "$PSRF101,-2686700,-4304200,3851624,75000,497260,921,12,8*29\r\n";

BEGIN_MESSAGE_MAP(CGpsPort, CWnd)
END_MESSAGE_MAP()

CGpsPort::CGpsPort() : m_hPort(INVALID_HANDLE_VALUE), m_bResult(FALSE) {
    memset(&m_dcb, 0, sizeof(m_dcb));
    memset(&m_timeouts, 0, sizeof(m_timeouts));
}

CGpsPort::~CGpsPort() {}

BOOL CGpsPort::Open(LPCTSTR lpszPort) {
    m_hPort = CreateFile(lpszPort, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    return m_hPort != INVALID_HANDLE_VALUE;
}

BOOL CGpsPort::Configure(DWORD dwBaudRate, BYTE byByteSize, DWORD dwParityCheck, BYTE byParity, BYTE byStopBits) {
    m_bResult = GetCommState(m_hPort, &m_dcb);
    if (!m_bResult) {
        MessageBox(_T("GetCommState Error"), _T("Error"), MB_ICONSTOP);
        Close();
        return FALSE;
    }
    m_dcb.Parity = byParity;
    m_dcb.StopBits = byStopBits;
    m_dcb.ByteSize = byByteSize;
    m_dcb.BaudRate = dwBaudRate;
    m_dcb.fBinary = TRUE;
    m_dcb.fParity = dwParityCheck & 1;
    m_dcb.fOutxCtsFlow = FALSE;
    m_dcb.fOutxDsrFlow = FALSE;
    m_dcb.fDtrControl = DTR_CONTROL_ENABLE;
    m_dcb.fDsrSensitivity = FALSE;
    m_dcb.fTXContinueOnXoff = TRUE;
    m_dcb.fOutX = FALSE;
    m_dcb.fInX = FALSE;
    m_dcb.fErrorChar = FALSE;
    m_dcb.fNull = FALSE;
    m_dcb.fRtsControl = RTS_CONTROL_DISABLE;
    m_dcb.fAbortOnError = FALSE;
    m_bResult = SetCommState(m_hPort, &m_dcb);
    if (!m_bResult) {
        MessageBox(_T("SetCommState Error"), _T("Error"), MB_ICONSTOP);
        Close();
        return FALSE;
    }
    return TRUE;
}

BOOL CGpsPort::SetTimeouts(DWORD dwReadInterval, DWORD dwReadMultiplier, DWORD dwReadConstant, DWORD dwWriteMultiplier,
                           DWORD dwWriteConstant) {
    if (m_hPort == INVALID_HANDLE_VALUE) return FALSE;
    m_bResult = GetCommTimeouts(m_hPort, &m_timeouts);
    if (!m_bResult) return FALSE;
    m_timeouts.ReadIntervalTimeout = dwReadInterval;
    m_timeouts.ReadTotalTimeoutMultiplier = dwReadMultiplier;
    m_timeouts.ReadTotalTimeoutConstant = dwReadConstant;
    m_timeouts.WriteTotalTimeoutMultiplier = dwWriteMultiplier;
    m_timeouts.WriteTotalTimeoutConstant = dwWriteConstant;
    m_bResult = SetCommTimeouts(m_hPort, &m_timeouts);
    if (!m_bResult) {
        MessageBox(_T("StCommTimeouts function failed"), _T("Com Port Error"), MB_ICONSTOP);
        Close();
        return FALSE;
    }
    EscapeCommFunction(m_hPort, CLRDTR);
    EscapeCommFunction(m_hPort, CLRRTS);
    return TRUE;
}

void CGpsPort::Write(const char* lpszText) {
    if (m_hPort == INVALID_HANDLE_VALUE) return;
    DWORD dwWritten = 0;
    if (!WriteFile(m_hPort, lpszText, static_cast<DWORD>(strlen(lpszText)), &dwWritten, NULL)) GetLastError();
}

void CGpsPort::Close() {
    if (m_hPort == INVALID_HANDLE_VALUE) return;
    CloseHandle(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
}

LRESULT ResetGpsReceiver(const CWnd* pRequester) {
    CGpsPort port;
    if (!port.Open(_T("COM1:"))) {
        CString strError;
        strError.LoadString(IDS_COM_OPEN_ERROR);
        AfxMessageBox(strError);
        return 0;
    }
    port.Configure(CBR_4800, 8, 1, NOPARITY, ONESTOPBIT);
    port.SetTimeouts(250, 100, 10, 0, 0);
    // Closed while a failure box waited: the port is closed already and nobody waits for the rest.
    if (pRequester && pRequester->IsWindowGone()) {
        port.Close();
        return 1;
    }
    Sleep(100);
    port.Write(GPS_NAV_INIT_SENTENCE);
    Sleep(5000);
    port.Close();
    return 1;
}
