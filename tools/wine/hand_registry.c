// The hand's registry requests: reg.exe as the scenario names it, and values set directly.
#define _WIN32_WINNT 0x0601
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "hand.h"

// reg.exe takes Wine half a second to start: the requests run one after another on a thread of
// their own, so that the scenario's next steps need not wait for them.
#define MAX_REG_JOBS 256
struct RegJob {
    wchar_t line[4096];
    char* out;
    DWORD code;
};
static struct RegJob g_jobs[MAX_REG_JOBS];
static int g_queued, g_done, g_reported;
static HANDLE g_job_ready, g_job_done;

static void RunReg(struct RegJob* job) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE read, write;
    CreatePipe(&read, &write, &sa, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = write;
    si.hStdInput = NULL;
    PROCESS_INFORMATION pi;
    job->out = calloc(65536, 1);
    job->code = 1;
    // Under load Wine now and then fails to start a process at all (ERROR_INTERNAL_ERROR): that
    // is the harness's trouble, not the scenario's, so it tries again before it gives up.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt) Sleep(500);
        started = CreateProcessW(NULL, job->line, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi);
    }
    if (!started) {
        CloseHandle(read), CloseHandle(write);
        snprintf(job->out, 65536, "reg.exe cannot start: %lu\n", GetLastError());
        return;
    }
    CloseHandle(write);
    DWORD size = 0, got;
    while (size < 65535 && ReadFile(read, job->out + size, 65535 - size, &got, NULL) && got)
        size += got;
    // reg.exe writes in the OEM code page (a text outside it comes as "?"); passed
    // on in UTF-8, as the requests come.
    wchar_t* wide = calloc(size + 1, sizeof(wchar_t));
    int chars = MultiByteToWideChar(CP_OEMCP, 0, job->out, (int)size, wide, (int)size);
    WideCharToMultiByte(CP_UTF8, 0, wide, chars, job->out, 65535, NULL, NULL);
    free(wide);
    WaitForSingleObject(pi.hProcess, WAIT_LIMIT_MS);
    GetExitCodeProcess(pi.hProcess, &job->code);
    CloseHandle(pi.hProcess), CloseHandle(pi.hThread), CloseHandle(read);
}

static DWORD WINAPI RegThread(LPVOID unused) {
    (void)unused;
    for (;;) {
        WaitForSingleObject(g_job_ready, INFINITE);
        while (g_done < g_queued) {
            RunReg(&g_jobs[g_done % MAX_REG_JOBS]);
            InterlockedIncrement((LONG*)&g_done);
            SetEvent(g_job_done);
        }
    }
    return 0;
}

static HKEY Root(const wchar_t* key, const wchar_t** rest) {
    static const struct {
        const wchar_t* name;
        HKEY root;
    } roots[] = {{L"HKLM\\", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
                 {L"HKCU\\", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER}};
    for (size_t i = 0; i < sizeof roots / sizeof roots[0]; ++i) {
        size_t len = wcslen(roots[i].name);
        if (!_wcsnicmp(key, roots[i].name, len)) {
            *rest = key + len;
            return roots[i].root;
        }
    }
    return NULL;
}

// The forms the scenarios use to change the registry, done here at once: reg.exe takes Wine half
// a second, in which the program's timer may fire, while the virtual handheld's step takes none.
//   add KEY /v NAME /t REG_DWORD|REG_SZ /d DATA /f      delete KEY [/v NAME] /f
// Answers whether the request was one of them; the job then holds its exit code.
static BOOL RegAtOnce(wchar_t** w, int n, struct RegJob* job) {
    const wchar_t* sub;
    HKEY root = n >= 3 ? Root(w[2], &sub) : NULL;
    if (!root || wcscmp(w[n - 1], L"/f")) return FALSE;
    HKEY key;
    job->out = calloc(1, 1);
    if (!wcscmp(w[1], L"add") && n == 10 && !wcscmp(w[3], L"/v") && !wcscmp(w[5], L"/t") && !wcscmp(w[7], L"/d")) {
        BOOL dword = !wcscmp(w[6], L"REG_DWORD");
        if (!dword && wcscmp(w[6], L"REG_SZ")) return free(job->out), FALSE;
        DWORD v = (DWORD)wcstoul(w[8], NULL, 0);
        job->code = RegCreateKeyExW(root, sub, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS;
        if (!job->code) {
            job->code = (dword ? RegSetValueExW(key, w[4], 0, REG_DWORD, (const BYTE*)&v, sizeof v)
                               : RegSetValueExW(key, w[4], 0, REG_SZ, (const BYTE*)w[8],
                                                (DWORD)((wcslen(w[8]) + 1) * sizeof(wchar_t)))) != ERROR_SUCCESS;
            RegCloseKey(key);
        }
    } else if (!wcscmp(w[1], L"delete") && (n == 4 || (n == 6 && !wcscmp(w[3], L"/v")))) {
        if (n == 4) {
            job->code = RegDeleteTreeW(root, sub) != ERROR_SUCCESS;
        } else {
            job->code = RegOpenKeyExW(root, sub, 0, KEY_WRITE, &key) != ERROR_SUCCESS;
            if (!job->code) job->code = RegDeleteValueW(key, w[4]) != ERROR_SUCCESS, RegCloseKey(key);
        }
    } else {
        return free(job->out), FALSE;
    }
    if (job->code) strcpy(job->out = realloc(job->out, 80), "ERROR: The system was unable to find the specified registry key or value.\n");
    return TRUE;
}

void Reg(wchar_t** w, int n) {
    if (g_done == g_queued && RegAtOnce(w, n, &g_jobs[g_queued % MAX_REG_JOBS])) {
        // Nothing queued before it: done now, in turn.
        ++g_queued, ++g_done;
        Answer("ok");
        return;
    }
    if (!g_job_ready) {
        g_job_ready = CreateEventW(NULL, FALSE, FALSE, NULL);
        g_job_done = CreateEventW(NULL, FALSE, FALSE, NULL);
        CloseHandle(CreateThread(NULL, 0, RegThread, NULL, 0, NULL));
    }
    if (g_queued - g_reported >= MAX_REG_JOBS) {
        Answer("error too many reg requests at once");
        return;
    }
    wchar_t* line = g_jobs[g_queued % MAX_REG_JOBS].line;
    wcscpy(line, L"reg.exe");
    for (int i = 1; i < n; ++i) {
        wcscat(line, L" \"");
        for (const wchar_t* c = w[i]; *c; ++c) {
            // A quote inside the word, and the backslashes before a quote or the end, are escaped.
            size_t slashes = 0;
            while (c[slashes] == L'\\')
                ++slashes;
            if (slashes && (c[slashes] == L'"' || !c[slashes])) {
                for (size_t k = 0; k < 2 * slashes; ++k)
                    wcscat(line, L"\\");
                c += slashes - 1;
                continue;
            }
            if (*c == L'"') wcscat(line, L"\\");
            wcsncat(line, c, 1);
        }
        wcscat(line, L"\"");
    }
    InterlockedIncrement((LONG*)&g_queued);
    SetEvent(g_job_ready);
    Answer("ok");
}

// Until every reg request has run; answers "ok N", then per request "CODE LINES" and its lines.
void RegWait(void) {
    while (g_done < g_queued)
        WaitForSingleObject(g_job_done, 50);
    Answer("ok %d", g_done - g_reported);
    for (; g_reported < g_done; ++g_reported) {
        struct RegJob* job = &g_jobs[g_reported % MAX_REG_JOBS];
        int lines = 0;
        for (char* c = job->out; *c; ++c)
            if (*c == '\n') ++lines;
        printf("%lu %d\n", job->code, lines);
        for (char* c = job->out; *c; ++c)
            if (*c != '\r') putchar(*c);
        free(job->out);
    }
    fflush(stdout);
}

void Value(wchar_t** w, DWORD type) {
    HKEY key;
    // Under HKCU, unless the path says HKLM\ (where the AC line's stand-in lives, as on the host).
    HKEY root = wcsncmp(w[1], L"HKLM\\", 5) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const wchar_t* path = root == HKEY_LOCAL_MACHINE ? w[1] + 5 : w[1];
    if (RegCreateKeyExW(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS) {
        Answer("error %ls", w[1]);
        return;
    }
    if (!wcscmp(w[3], L"-")) {
        RegDeleteValueW(key, w[2]);
    } else if (type == REG_DWORD) {
        DWORD v = (DWORD)wcstoul(w[3], NULL, 0);
        RegSetValueExW(key, w[2], 0, REG_DWORD, (const BYTE*)&v, sizeof v);
    } else {
        RegSetValueExW(key, w[2], 0, REG_SZ, (const BYTE*)w[3], (DWORD)((wcslen(w[3]) + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
    Answer("ok");
}


// A value under HKCU\KEY as text: a REG_DWORD in decimal (0 when absent), a REG_SZ as it is.
void Get(wchar_t** w) {
    wchar_t text[4096] = L"";
    DWORD size = sizeof text - sizeof text[0], type = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, w[1], w[2], RRF_RT_REG_DWORD | RRF_RT_REG_SZ, &type, text, &size) !=
            ERROR_SUCCESS || type == REG_DWORD) {
        DWORD value = 0;
        if (type == REG_DWORD) memcpy(&value, text, sizeof value);
        Answer("ok %lu", value);
        return;
    }
    char out[8192];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL);
    Answer("ok %s", out);
}
