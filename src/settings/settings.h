// Where the system keeps its state: the registry layout, the shared key and value names, and the
// three helpers every reader and writer goes through.
#pragma once

#include "platform/win32api.h"

// Indexes into AppKeyStrings.
enum AppKeyString {
    APP_KEY_PATH,   // under HKEY_LOCAL_MACHINE
    APP_REG_VALUE,  // provisioned
    GPSHDL_VALUE,   // the main window, for other programs
    FW_VALUE,       // GPS firmware version
    USER_HOTKEY_VALUE,
    ENABLE_BY_SW_VALUE,
    ENABLE_ICON_VALUE,
    DISABLE_APP_VALUE,
    PORT_NAME,  // the GPS receiver's serial port
    APP_KEY_STRING_COUNT
};

// The names shared with other programs, built once at start.
extern const LPCTSTR AppKeyStrings[APP_KEY_STRING_COUNT];

// Keys other than the application key; the platform creates them, the system never does.
#define PROFILE_KEY_PATH _T("Software\\MicroSoft\\Shell")
#define BACKLIGHT_KEY_PATH _T("ControlPanel\\Backlight")
#define POWER_TIMEOUTS_KEY_PATH _T("System\\CurrentControlSet\\Control\\Power\\Timeouts")

#define STATE_CHG_VALUE _T("State_Chg")
#define BATTERY_TIMEOUT_VALUE _T("BatteryTimeout")
#define BATT_SUSPEND_TIMEOUT_VALUE _T("BattSuspendTimeout")

// One of the two power profiles in the profile key: the GPS_ values apply while the receiver is
// powered, the STD_ values otherwise.
struct PowerProfile {
    LPCTSTR powerTimeOut;  // suspend time-out on battery, seconds
    LPCTSTR blTimeOut;     // backlight time-out on battery, seconds
    LPCTSTR slide;         // backlight brightness level
    LPCTSTR backlight;     // 0 disables the backlight time-out
    LPCTSTR power;         // 0 disables the suspend time-out
};

extern const PowerProfile GPS_PROFILE;
extern const PowerProfile STD_PROFILE;

// A profile value and the value first-run provisioning gives it.
struct ProfileDefault {
    LPCTSTR name;
    DWORD value;
};

// The provisioning defaults, in the order they are written.
extern const ProfileDefault PROFILE_DEFAULTS[11];

// The value's first four bytes, whatever its type. A value that cannot be read (missing, over 250
// bytes, bad key) reads as 0 and is written as DWORD 0.
DWORD ReadRegDword(HKEY key, LPCTSTR name);

// Stores a 4-byte REG_DWORD. No message on failure.
BOOL WriteRegDword(HKEY key, LPCTSTR name, DWORD value);

// Stores 8-bit text (at most 255 characters) as REG_SZ, each byte widened as a signed value, so
// 0x80-0xFF become 0xFF80-0xFFFF. No message on failure.
BOOL WriteRegString(HKEY key, LPCTSTR name, const char* text);
