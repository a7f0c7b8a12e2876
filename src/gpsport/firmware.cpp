#include "gpsport/firmware.h"

#include <string.h>

#include "framework/afx.h"
#include "settings/settings.h"

const char FW_FALLBACK[] = " 00.00.00.00";

// How long the read may wait: a receiver that says nothing must not hold start-up.
#define NMEA_QUIET_LIMIT 2000  // ms without a byte
#define NMEA_READ_LIMIT 5000   // ms in all

#define NMEA_WAIT_EVENTS (EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING)
#define NMEA_NEXT_EVENTS (EV_RXCHAR | EV_CTS | EV_DSR | EV_RING)

BOOL QueryFirmwareVersion(HANDLE& port, char* text) {
    if (!OpenGpsPort(port, AppKeyStrings[PORT_NAME])) {
        strcpy(text, FW_FALLBACK);
    } else {
        ReadNmeaSentence(port, text);
        ExtractFirmwareVersion(text);
    }
    if (port != INVALID_HANDLE_VALUE) {
        if (!CloseHandle(port)) return FALSE;
        port = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}

BOOL OpenGpsPort(HANDLE& port, LPCTSTR name) {
    port = CreateFile(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (port == INVALID_HANDLE_VALUE) return FALSE;

    DCB dcb;
    memset(&dcb, 0, sizeof(dcb));
    dcb.DCBlength = sizeof(DCB);
    GetCommState(port, &dcb);
    dcb.BaudRate = CBR_4800;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb)) {
        GetLastError();
        return FALSE;
    }

    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 10;
    timeouts.WriteTotalTimeoutConstant = 1000;
    if (!SetCommTimeouts(port, &timeouts)) {
        GetLastError();
        return FALSE;
    }

    EscapeCommFunction(port, CLRDTR);
    EscapeCommFunction(port, CLRRTS);
    return TRUE;
}

// WaitCommEvent has no time-out of its own, and reads set to return at once cannot wait either,
// so the bound rests on one rule of the platform's serial ports: a wait that sees no event for a
// while (the port's wait limit, half a second) ends successfully reporting no event, as a wait
// does when its event mask is set anew. The virtual handheld's ports end such waits themselves;
// on Win32 a watchdog sets the mask again. Each time a wait returns the elapsed time is checked,
// so a quiet line ends the read about 2 s after its last byte, a trickle 5 s after it began, and
// a failed wait at once instead of being retried.
BOOL ReadNmeaSentence(HANDLE port, char* text) {
    int count = 0;
    BOOL seenDollar = FALSE;
    SetCommMask(port, NMEA_WAIT_EVENTS);

    DWORD start = GetTickCount();
    DWORD lastByte = start;
    while (port != INVALID_HANDLE_VALUE && count < FW_TEXT_MAX) {
        DWORD events = 0;
        if (!WaitCommEvent(port, &events, NULL)) break;
        SetCommMask(port, NMEA_NEXT_EVENTS);

        if (events & EV_RXCHAR) {
            int before = count;
            while (count < FW_TEXT_MAX) {
                char c = 0;
                DWORD read = 0;
                if (!ReadFile(port, &c, 1, &read, NULL) || read == 0) break;
                if (c == '$') {
                    if (seenDollar) {
                        text[count] = '\0';
                        return TRUE;
                    }
                    seenDollar = TRUE;
                }
                text[count++] = c;
            }
            if (count > before) lastByte = GetTickCount();
        }
        if (count >= FW_TEXT_MAX) text[FW_TEXT_MAX] = '\0';

        DWORD modemStatus = 0;
        GetCommModemStatus(port, &modemStatus);

        DWORD now = GetTickCount();
        if (now - lastByte >= NMEA_QUIET_LIMIT || now - start >= NMEA_READ_LIMIT) break;
    }
    text[count] = '\0';
    return FALSE;
}

BOOL ExtractFirmwareVersion(char* text) {
    char* colon = strchr(text, ':');
    char* dash = strchr(text, '-');
    if (colon == NULL || dash == NULL || dash < colon) {
        AfxMessageBox(_T("Wrong GPS firmware"));
        strcpy(text, FW_FALLBACK);
    } else {
        size_t length = static_cast<size_t>(dash - colon - 1);
        memmove(text, colon + 1, length);
        text[length] = '\0';
    }
    return TRUE;
}
