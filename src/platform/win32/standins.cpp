// The handheld-only pieces on a desktop: their state lives in the registry, so that other
// programs can watch and drive them as the hardware would.
#include <cwchar>
#include <optional>
#include <string>

// Below, the names mean the desktop's own calls; the handheld-only calls record themselves.
#include "platform/win32/traced.h"


namespace {

const ULONG_PTR kGpioBase = 0xA7000000u;
const ULONG_PTR kGpioSize = 0x6C;  // GPLR0 .. GAFR1_U
const DWORD kBacklightSetLevel = 100;
const DWORD kPortWaitLimitMs = 500;

HANDLE g_backlight = nullptr;

// Opened per access: another process may change the values between two calls.
class StateKey {
public:
    explicit StateKey(const wchar_t* device, HKEY root = HKEY_CURRENT_USER) {
        std::wstring path = L"Software\\Handheld\\";
        path += device;
        if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                            nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~StateKey() {
        if (key_) RegCloseKey(key_);
    }
    StateKey(const StateKey&) = delete;
    StateKey& operator=(const StateKey&) = delete;

    DWORD Get(const wchar_t* name, DWORD fallback = 0) const {
        DWORD value = 0, type = 0, size = sizeof value;
        if (!key_ || RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != 0 ||
            type != REG_DWORD)
            return fallback;
        return value;
    }
    bool Has(const wchar_t* name) const {
        return key_ && RegQueryValueExW(key_, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
    void Set(const wchar_t* name, DWORD value) const {
        if (key_) RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void Append(const wchar_t* name, const std::wstring& entry) const {
        if (!key_) return;
        wchar_t old[4096] = {};
        DWORD type = 0, size = sizeof old - sizeof(wchar_t);
        std::wstring text;
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS &&
            type == REG_SZ)
            text = old;
        if (!text.empty()) text += L' ';
        text += entry;
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

private:
    HKEY key_ = nullptr;
};

bool IsGpio(volatile ULONG* reg, ULONG_PTR* offset) {
    ULONG_PTR address = reinterpret_cast<ULONG_PTR>(reg);
    if (address < kGpioBase || address >= kGpioBase + kGpioSize) return false;
    *offset = address - kGpioBase;
    return true;
}

// "COM1:" -> "\\.\COM1": the handheld's device names end in a colon.
std::wstring DesktopDeviceName(const wchar_t* name) {
    size_t n = std::wcslen(name);
    if (n >= 5 && n <= 6 && _wcsnicmp(name, L"COM", 3) == 0 && name[n - 1] == L':')
        return L"\\\\.\\" + std::wstring(name, n - 1);
    return name;
}

void CALLBACK EndPortWait(PVOID port, BOOLEAN) {
    // Setting the mask anew ends a pending wait with no event, as the handheld's own limit does.
    DWORD mask = 0;
    if (GetCommMask(port, &mask)) SetCommMask(port, mask);
}

}  // namespace

ULONG READ_REGISTER_ULONG(volatile ULONG* Register) {
    ULONG_PTR offset = 0;
    if (!IsGpio(Register, &offset)) return *Register;
    StateKey gpio(L"Gpio");
    ULONG value = offset == 0x00 ? gpio.Get(L"GPLR0") : offset == 0x04 ? gpio.Get(L"GPLR1") : 0;
    if (!win32trace::On()) return value;
    tracing::GpioReadCall c;
    c.Read(offset, value);
    return c.Result(value);
}

void WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) {
    ULONG_PTR offset = 0;
    if (!IsGpio(Register, &offset)) {
        *Register = Value;
        return;
    }
    if (win32trace::On()) tracing::GpioWriteCall{offset, Value};
    StateKey gpio(L"Gpio");
    wchar_t entry[32];
    swprintf(entry, sizeof entry / sizeof entry[0], L"%02X=%08lX", static_cast<unsigned>(offset), Value);
    gpio.Append(L"Writes", entry);
    // Set and clear registers drive only the pins whose bits are written; the level reads back.
    switch (offset) {
        case 0x18:
            gpio.Set(L"GPLR0", gpio.Get(L"GPLR0") | Value);
            break;
        case 0x1C:
            gpio.Set(L"GPLR1", gpio.Get(L"GPLR1") | Value);
            break;
        case 0x24:
            gpio.Set(L"GPLR0", gpio.Get(L"GPLR0") & ~Value);
            break;
        case 0x28:
            gpio.Set(L"GPLR1", gpio.Get(L"GPLR1") & ~Value);
            break;
        default:
            break;
    }
}

BOOL KernelIoControl(DWORD dwIoControlCode, LPVOID lpInBuf, DWORD nInBufSize, LPVOID lpOutBuf, DWORD nOutBufSize,
                     LPDWORD lpBytesReturned) {
    std::optional<tracing::KernelIoControlCall> c;
    if (win32trace::On()) {
        c.emplace(dwIoControlCode, lpInBuf, nInBufSize, lpOutBuf, nOutBufSize, lpBytesReturned);
        if (DWORD e; c->Injected(&e)) return c->Result(FALSE);
    }
    StateKey hal(L"Hal");
    hal.Set(L"IoControlCode", dwIoControlCode);
    hal.Set(L"Input", static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(lpInBuf)));
    hal.Set(L"Calls", hal.Get(L"Calls") + 1);
    if (lpBytesReturned) *lpBytesReturned = 0;
    return c ? c->Result(TRUE) : TRUE;
}

BOOL GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX pstatus, BOOL fUpdate) {
    std::optional<tracing::GetSystemPowerStatusExCall> c;
    if (win32trace::On()) {
        c.emplace(pstatus, fUpdate);
        if (DWORD e; c->Injected(&e)) return c->Result(FALSE);
    }
    if (!pstatus) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return c ? c->Result(FALSE) : FALSE;
    }
    SYSTEM_POWER_STATUS real{};
    if (!GetSystemPowerStatus(&real)) real.ACLineStatus = AC_LINE_UNKNOWN;
    *pstatus = SYSTEM_POWER_STATUS_EX{};
    // Where the virtual handheld keeps its AC line.
    StateKey power(L"Power", HKEY_LOCAL_MACHINE);
    pstatus->ACLineStatus = power.Has(L"ACLine") ? static_cast<BYTE>(power.Get(L"ACLine")) : real.ACLineStatus;
    pstatus->BatteryFlag = real.BatteryFlag;
    pstatus->BatteryLifePercent = real.BatteryLifePercent;
    pstatus->BatteryLifeTime = real.BatteryLifeTime;
    pstatus->BatteryFullLifeTime = real.BatteryFullLifeTime;
    if (!c) return TRUE;
    c->Status(pstatus->ACLineStatus, pstatus->BatteryFlag, pstatus->BatteryLifePercent);
    return c->Result(TRUE);
}

HANDLE PelornCreateFile(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                        DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (lpFileName && _wcsicmp(lpFileName, L"BKL1:") == 0) {
        // Backlight\Absent=1: a handheld without the driver.
        if (StateKey(L"Backlight").Get(L"Absent")) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        // A real handle, so that CloseHandle and handle checks behave as for any device.
        HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!h) return INVALID_HANDLE_VALUE;
        g_backlight = h;
        return h;
    }
    std::wstring name = lpFileName ? DesktopDeviceName(lpFileName) : std::wstring();
    return CreateFileW(lpFileName ? name.c_str() : nullptr, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL PelornDeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                           LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                           LPOVERLAPPED lpOverlapped) {
    if (!g_backlight || hDevice != g_backlight)
        return DeviceIoControl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                               lpBytesReturned, lpOverlapped);
    // The request is {12, level}.
    if (dwIoControlCode != kBacklightSetLevel || !lpInBuffer || nInBufferSize < 2 * sizeof(DWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD* request = static_cast<const DWORD*>(lpInBuffer);
    StateKey backlight(L"Backlight");
    backlight.Set(L"Level", request[1]);
    backlight.Set(L"Requests", backlight.Get(L"Requests") + 1);
    if (lpBytesReturned) *lpBytesReturned = 0;
    return TRUE;
}

BOOL PelornWaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped) return WaitCommEvent(hFile, lpEvtMask, lpOverlapped);
    HANDLE watchdog = nullptr;
    if (!CreateTimerQueueTimer(&watchdog, nullptr, EndPortWait, hFile, kPortWaitLimitMs, 0, WT_EXECUTEONLYONCE))
        watchdog = nullptr;
    BOOL ok = WaitCommEvent(hFile, lpEvtMask, nullptr);
    DWORD error = GetLastError();
    // Waits for a watchdog already running, so it never touches a port closed meanwhile.
    if (watchdog) DeleteTimerQueueTimer(nullptr, watchdog, INVALID_HANDLE_VALUE);
    SetLastError(error);
    return ok;
}

LONG PelornRegOpenKeyEx(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    return RegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired ? samDesired : KEY_READ | KEY_WRITE, phkResult);
}
