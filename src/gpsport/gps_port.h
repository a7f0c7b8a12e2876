// The receiver's serial port for the reset command: opened, configured, written once and closed
// while one handler runs.
#pragma once

#include "framework/afx.h"

// The navigation-initialisation sentence sent by the reset command (61 bytes, no terminator sent).
extern const char GPS_NAV_INIT_SENTENCE[];

// A window object that never creates its window, so its message boxes have no owner. It lives on
// the handler's stack; destroying it leaves the port as it is.
class CGpsPort : public CWnd {
public:
    CGpsPort();
    ~CGpsPort() override;

    // TRUE when the port opened.
    BOOL Open(LPCTSTR lpszPort);
    // Sets the line; on failure shows why, closes the port and returns FALSE.
    BOOL Configure(DWORD dwBaudRate, BYTE byByteSize, DWORD dwParityCheck, BYTE byParity, BYTE byStopBits);
    // Sets the time-outs and clears DTR and RTS. FALSE without a message when they cannot be read
    // (the port stays open) or the port is closed; on a failed write shows why and closes the port.
    BOOL SetTimeouts(DWORD dwReadInterval, DWORD dwReadMultiplier, DWORD dwReadConstant, DWORD dwWriteMultiplier,
                     DWORD dwWriteConstant);
    // Writes the text without its terminator in one write; nothing on a closed port.
    void Write(const char* lpszText);
    // Closes the port; nothing when it is closed already.
    void Close();

protected:
    HANDLE m_hPort;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts;
    BOOL m_bResult;  // the last port-state or time-out call

    DECLARE_MESSAGE_MAP()
};

// WM_RESET_GPS: sends GPS_NAV_INIT_SENTENCE to "COM1:", then holds the port for 5 s. 0 when the
// port cannot be opened (after saying so), else 1. When the window that asked (pRequester, if
// any) is closed while a failure box waits, the rest of the command is skipped.
LRESULT ResetGpsReceiver(const CWnd* pRequester = nullptr);
