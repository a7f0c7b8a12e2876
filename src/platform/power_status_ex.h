// The handheld's extended power status record, which the desktop's headers do not have: both
// seams declare it from here, after their BYTE and DWORD.
#pragma once

struct SYSTEM_POWER_STATUS_EX {
    BYTE ACLineStatus;
    BYTE BatteryFlag;
    BYTE BatteryLifePercent;
    BYTE Reserved1;
    DWORD BatteryLifeTime;
    DWORD BatteryFullLifeTime;
    BYTE Reserved2;
    BYTE BackupBatteryFlag;
    BYTE BackupBatteryLifePercent;
    BYTE Reserved3;
    DWORD BackupBatteryLifeTime;
    DWORD BackupBatteryFullLifeTime;
};
typedef SYSTEM_POWER_STATUS_EX* PSYSTEM_POWER_STATUS_EX;
static_assert(sizeof(SYSTEM_POWER_STATUS_EX) == 24, "the extended power status is 24 bytes");

BOOL GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX pstatus, BOOL fUpdate);
