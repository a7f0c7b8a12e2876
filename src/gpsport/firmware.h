// The GPS receiver's firmware version, read once from its NMEA output on the first run.
//
// The port handle and the 256-byte text belong to the main frame; these functions work on them.
#pragma once

#include "platform/win32api.h"

// The firmware text: 255 characters and a terminator.
#define FW_TEXT_SIZE 256
#define FW_TEXT_MAX (FW_TEXT_SIZE - 1)

// Recorded whenever no version can be obtained.
extern const char FW_FALLBACK[];

// Opens the receiver's port, reads one sentence and cuts the version out of it into text; the
// fallback when the port cannot be opened or configured. Closes the port again; FALSE only when
// that close fails, and port then keeps its value.
BOOL QueryFirmwareVersion(HANDLE& port, char* text);

// Opens name into port at 4800 baud, 8N1, reads returning at once, DTR and RTS cleared. FALSE
// when it cannot be opened (port is then INVALID_HANDLE_VALUE) or configured (port stays open).
BOOL OpenGpsPort(HANDLE& port, LPCTSTR name);

// Stores what the port delivers, up to but not including the second '$', into text and
// terminates it: TRUE. FALSE when it gives up first (255 bytes without a second '$', the line
// quiet for 2 s, 5 s gone, or a failed wait); text then ends after the bytes stored so far.
BOOL ReadNmeaSentence(HANDLE port, char* text);

// Replaces text by what lies between its first ':' and its first '-'. Without both in that order
// it shows "Wrong GPS firmware" and puts the fallback there instead.
BOOL ExtractFirmwareVersion(char* text);
