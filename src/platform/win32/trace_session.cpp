// The trace and faults of a Win32 run, switched on from outside the program before it starts:
//   PELORN_TRACE=FILE            every platform call the system makes, as JSON Lines, to FILE
//   PELORN_FAIL=F[:N[:E]],...    the next N calls (1) of F fail with error E (ERROR_GEN_FAILURE)
// or, for a variable not set, the REG_SZ values File and Fail of HKCU\Software\Handheld\Trace.
// Both are read once, before the system starts. A fault list that cannot be understood arms
// nothing and says why on stderr. A player that arms faults while the program runs names an
// event in PELORN_FAIL_EVENT: each time it is set, Trace\Fail is armed too, and taken away so
// that the next start does not arm it again.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/win32/traced.h"

namespace win32trace {
bool g_on = false;
}  // namespace win32trace

namespace {

// A REG_SZ value of HKCU\Software\Handheld\Trace; taken away when consume is set.
std::wstring TraceSetting(const wchar_t* value, bool consume = false) {
    wchar_t buf[1024];
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Handheld\\Trace", 0, KEY_READ | (consume ? KEY_WRITE : 0), &key) !=
        ERROR_SUCCESS)
        return {};
    DWORD type = 0, size = sizeof buf - sizeof buf[0];
    std::wstring text;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        buf[size / sizeof buf[0]] = 0;
        text = buf;
    }
    if (consume) RegDeleteValueW(key, value);
    RegCloseKey(key);
    return text;
}

std::wstring Setting(const wchar_t* variable, const wchar_t* value) {
    wchar_t buf[1024];
    DWORD n = GetEnvironmentVariableW(variable, buf, sizeof buf / sizeof buf[0]);
    if (n > 0 && n < sizeof buf / sizeof buf[0]) return std::wstring(buf, n);
    return TraceSetting(value);
}

struct Session {
    tracing::Trace trace;
    tracing::Faults faults;
    bool armed = false;
    std::ofstream out;
    LARGE_INTEGER start{}, frequency{};
    HANDLE rearm = nullptr;

    Session() {
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        if (std::wstring file = Setting(L"PELORN_TRACE", L"File"); !file.empty()) {
            out.open(std::filesystem::path(file), std::ios::out | std::ios::trunc | std::ios::binary);
            if (out) {
                trace.Keep(false);
                trace.StreamTo(&out);
                trace.Enable(true);
            } else {
                std::fprintf(stderr, "Pelorn: cannot write the trace to %ls\n", file.c_str());
            }
        }
        if (std::wstring spec = Setting(L"PELORN_FAIL", L"Fail"); !spec.empty()) {
            std::string problem;
            armed = faults.Arm(std::string(spec.begin(), spec.end()), &problem);
            if (!armed) std::fprintf(stderr, "Pelorn: PELORN_FAIL: %s\n", problem.c_str());
        }
        wchar_t name[256];
        DWORD n = GetEnvironmentVariableW(L"PELORN_FAIL_EVENT", name, sizeof name / sizeof name[0]);
        if (n > 0 && n < sizeof name / sizeof name[0]) rearm = CreateEventW(nullptr, FALSE, FALSE, name);
        win32trace::g_on = trace.enabled() || armed || rearm;
    }

    void Rearm() {
        if (!rearm || WaitForSingleObject(rearm, 0) != WAIT_OBJECT_0) return;
        std::wstring spec = TraceSetting(L"Fail", true);
        std::string problem;
        if (faults.Arm(std::string(spec.begin(), spec.end()), &problem))
            armed = true;
        else
            std::fprintf(stderr, "Pelorn: Trace\\Fail: %s\n", problem.c_str());
    }

    tracing::Millis Now() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        long long ticks = now.QuadPart - start.QuadPart;
        return ticks / frequency.QuadPart * 1000 + ticks % frequency.QuadPart * 1000 / frequency.QuadPart;
    }
};

Session& TheSession() {
    static Session session;
    return session;
}

// At program start, before the system runs.
const bool g_started = (TheSession(), true);

}  // namespace

namespace tracing {

Trace* RecordingTrace(const char* call, Millis* now) {
    Session& s = TheSession();
    if (!s.trace.enabled() || !s.trace.Wants(call)) return nullptr;
    *now = s.Now();
    return &s.trace;
}

Faults* ArmedFaults() {
    Session& s = TheSession();
    s.Rearm();
    return s.armed ? &s.faults : nullptr;
}

}  // namespace tracing
