#include "settings/settings.h"

const LPCTSTR AppKeyStrings[APP_KEY_STRING_COUNT] = {
    _T("SOFTWARE\\Apps\\Tavro SW"),
    _T("AppReg"),
    _T("GPSHDL"),
    _T("FW"),
    _T("UserHotkey"),
    _T("EnableBySW"),
    _T("EnableIcon"),
    _T("DisableApp"),
    _T("COM1:"),
};

const PowerProfile GPS_PROFILE = {_T("GPS_PwrTimeOut"), _T("GPS_BlTimeOut"), _T("GPS_Slide"), _T("GPS_Backlight"),
                                  _T("GPS_Power")};
const PowerProfile STD_PROFILE = {_T("STD_PwrTimeOut"), _T("STD_BlTimeOut"), _T("STD_Slide"), _T("STD_Backlight"),
                                  _T("STD_Power")};

const ProfileDefault PROFILE_DEFAULTS[11] = {
    {_T("GPS_PwrTimeOut"), 180}, {_T("GPS_BlTimeOut"), 30},   {_T("GPS_Slide"), 10},      {_T("GPS_Backlight"), 0},
    {_T("GPS_Power"), 0},        {_T("STD_PwrTimeOut"), 180}, {_T("STD_BlTimeOut"), 30},  {_T("STD_Slide"), 5},
    {_T("STD_Backlight"), 1},    {_T("STD_Power"), 1},        {_T("Temp_ACTimeOut"), 60},
};

namespace {
const DWORD kReadBufferSize = 250;
const int kMaxTextLength = 255;
}  // namespace

DWORD ReadRegDword(HKEY key, LPCTSTR name) {
    BYTE data[kReadBufferSize] = {};
    DWORD type = 0;
    DWORD size = kReadBufferSize;
    if (RegQueryValueEx(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) {
        WriteRegDword(key, name, 0);
        return 0;
    }
    // Shorter data leaves the upper bytes zero.
    return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 | static_cast<DWORD>(data[2]) << 16 |
           static_cast<DWORD>(data[3]) << 24;
}

BOOL WriteRegDword(HKEY key, LPCTSTR name, DWORD value) {
    BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                    static_cast<BYTE>(value >> 24)};
    return RegSetValueEx(key, name, 0, REG_DWORD, data, sizeof data) == ERROR_SUCCESS;
}

static_assert(sizeof(WCHAR) == 2, "REG_SZ data is UTF-16 on every build");

BOOL WriteRegString(HKEY key, LPCTSTR name, const char* text) {
    WCHAR wide[kMaxTextLength + 1];
    int n = 0;
    for (; text && n < kMaxTextLength && text[n] != 0; ++n)
        wide[n] = static_cast<WCHAR>(static_cast<signed char>(text[n]));
    wide[n] = 0;
    return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide),
                         static_cast<DWORD>((n + 1) * sizeof(WCHAR))) == ERROR_SUCCESS;
}
