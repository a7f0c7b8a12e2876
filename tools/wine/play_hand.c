// The Win32 player's hands inside Wine: one process that lives as long as a scenario and does what
// the Linux side of the player (tools/wine/play.py) asks, one request a line on standard input,
// one answer a line on standard output ("ok ..." or "error ..."). It is the person at the desktop
// (real clicks on the tray and the menu, OK on boxes) and the other programs of the handheld
// (reg.exe, the stand-ins' registry keys, messages to the window GPSHDL names). Words of a
// request are separated by tabs.
//
//   start EXE TRACE FAILS EVENT   a new Pelorn process, traced to TRACE, with PELORN_FAIL=FAILS
//                                 and PELORN_FAIL_EVENT=EVENT ("-": none of it)
//   state                         "ok exited CODE", "ok modal" (a box, dialog or menu waits),
//                                 "ok running window" (GPSHDL names a window), "ok running"
//   settle                        until Pelorn's thread takes a message again
//   send MSG WPARAM               SendMessage to the window GPSHDL names, until it returns
//                                 ("ok RESULT") or a box, dialog or menu of Pelorn's waits ("ok")
//   close                         WM_CLOSE posted to Pelorn's main window, as a signal does
//   tap X Y                       a click at X, Y of the desktop; "icon" for X: on Pelorn's icon
//   pick INDEX COUNT | pick       a click on item INDEX of the open menu's COUNT, or beside it
//   ok                            OK on the box Pelorn shows, or a click on the close box of a
//                                 dialog without an OK button (an error when it is off the screen):
//                                 "ok CAPTION<TAB>TEXT<TAB>ICON" as the box showed them
//   (tap answers "ok LEFT TOP RIGHT BOTTOM" when a menu opened: its rectangle on the desktop)
//   get KEY NAME                  a REG_DWORD or REG_SZ under HKCU\KEY: "ok VALUE"
//   tray                          "ok 1" when the tray holds Pelorn's icon, "ok 0"
//   show                          shows and activates Pelorn's main window, as a task switcher
//                                 does: "ok 1" while it is still visible after, "ok 0"
//   reg ARGS...                   reg.exe ARGS, queued: the requests run in turn on their own
//                                 (the usual add and delete at once, as the registry API)
//   regwait                       until all have run: "ok N", then per request "CODE LINES" and
//                                 its LINES lines of output
//   dword KEY NAME VALUE          a REG_DWORD under HKCU\KEY; VALUE "-" deletes it
//   text KEY NAME VALUE           a REG_SZ under HKCU\KEY
//   event NAME                    sets the named event
//   end                           ends Pelorn's process, if it still runs
#define _WIN32_WINNT 0x0601
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#include "hand.h"

#define TRAY_ICON_UID 5000

static PROCESS_INFORMATION g_pelorn;

void Answer(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
    putchar('\n');
    fflush(stdout);
}

static BOOL Running(void) { return g_pelorn.hProcess && WaitForSingleObject(g_pelorn.hProcess, 0) == WAIT_TIMEOUT; }

static HWND Published(void) {
    HKEY key;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Apps\\Tavro SW", 0, KEY_READ, &key) != ERROR_SUCCESS) return NULL;
    if (RegQueryValueExW(key, L"GPSHDL", NULL, NULL, (BYTE*)&value, &size) != ERROR_SUCCESS) value = 0;
    RegCloseKey(key);
    return (HWND)(ULONG_PTR)value;
}

// What of Pelorn's waits for the person: a box or dialog (#32770), a menu (#32768), or its main
// window (the first top-level window titled Pelorn).
struct Find {
    const wchar_t* cls;
    const wchar_t* title;
    HWND found;
};

static BOOL CALLBACK FindWindowOf(HWND hwnd, LPARAM lp) {
    struct Find* f = (struct Find*)lp;
    wchar_t cls[64] = L"", title[64] = L"";
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != g_pelorn.dwProcessId) return TRUE;
    GetClassNameW(hwnd, cls, 64);
    GetWindowTextW(hwnd, title, 64);
    if (f->cls && (wcscmp(cls, f->cls) != 0 || !IsWindowVisible(hwnd))) return TRUE;
    if (f->title && wcscmp(title, f->title) != 0) return TRUE;
    if (!f->cls && !wcscmp(cls, L"#32770")) return TRUE;
    f->found = hwnd;
    return FALSE;
}

static HWND Find(const wchar_t* cls, const wchar_t* title) {
    struct Find f = {cls, title, NULL};
    if (g_pelorn.dwProcessId) EnumWindows(FindWindowOf, (LPARAM)&f);
    return f.found;
}

static HWND Modal(void) {
    HWND w = Find(L"#32770", NULL);
    return w ? w : Find(L"#32768", NULL);
}

// Until Pelorn's thread takes a message again: it finished what it was doing, or a modal loop
// of its waits.
static void Settle(void) {
    HWND main = Find(NULL, L"Pelorn");
    DWORD_PTR result;
    if (main && Running()) SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, WAIT_LIMIT_MS, &result);
}

static void Start(wchar_t** w) {
    SetEnvironmentVariableW(L"PELORN_TRACE", wcscmp(w[2], L"-") ? w[2] : NULL);
    // Untraced, Wine's own log of dialogs tells how each ended.
    SetEnvironmentVariableW(L"WINEDEBUG", wcscmp(w[2], L"-") ? L"-all" : L"-all,+dialog");
    SetEnvironmentVariableW(L"PELORN_FAIL", wcscmp(w[3], L"-") ? w[3] : NULL);
    SetEnvironmentVariableW(L"PELORN_FAIL_EVENT", wcscmp(w[4], L"-") ? w[4] : NULL);
    STARTUPINFOW si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (g_pelorn.hProcess) CloseHandle(g_pelorn.hProcess), CloseHandle(g_pelorn.hThread);
    memset(&g_pelorn, 0, sizeof g_pelorn);
    wchar_t line[MAX_PATH + 2];
    swprintf(line, MAX_PATH + 2, L"\"%ls\"", w[1]);
    if (!CreateProcessW(w[1], line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &g_pelorn)) {
        Answer("error CreateProcess %lu", GetLastError());
        return;
    }
    Answer("ok %lu", g_pelorn.dwProcessId);
}

struct Sent {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
};

static DWORD WINAPI SendThread(LPVOID p) {
    struct Sent* s = p;
    return (DWORD)SendMessageW(s->hwnd, s->msg, s->wparam, 0);
}

// Until the thread ends or Pelorn waits in a box or menu.
static BOOL CALLBACK CountModal(HWND hwnd, LPARAM lp) {
    wchar_t cls[16] = L"";
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == g_pelorn.dwProcessId && IsWindowVisible(hwnd) && GetClassNameW(hwnd, cls, 16) &&
        (!wcscmp(cls, L"#32770") || !wcscmp(cls, L"#32768")))
        ++*(int*)lp;
    return TRUE;
}

// Boxes, dialogs and menus of Pelorn's that wait for the person.
static int Modals(void) {
    int n = 0;
    if (g_pelorn.dwProcessId) EnumWindows(CountModal, (LPARAM)&n);
    return n;
}

// Until the thread ends, or a new box or menu waits (one already waiting does not count, nor one
// that goes away under a close).
static void Await(HANDLE thread, int before) {
    int low = before;
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS; waited += 5) {
        if (WaitForSingleObject(thread, 5) == WAIT_OBJECT_0) break;
        int now = Modals();
        if (now < low) low = now;
        if (now > low || !Running()) break;
    }
}

static void Send(wchar_t** w) {
    static struct Sent s;
    s.hwnd = Published();
    s.msg = (UINT)wcstoul(w[1], NULL, 0);
    s.wparam = (WPARAM)wcstoul(w[2], NULL, 0);
    int before = Modals();
    HANDLE thread = CreateThread(NULL, 0, SendThread, &s, 0, NULL);
    Await(thread, before);
    DWORD result = 0;
    if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &result))
        Answer("ok %lu", result);
    else
        Answer("ok");
    CloseHandle(thread);
}

static void Click(int x, int y) {
    // Two clicks on one spot within the double-click time are a double click to the desktop; a
    // person's two taps are two taps.
    static DWORD last_time;
    static int last_x = -1, last_y = -1;
    DWORD since = GetTickCount() - last_time;
    if (abs(x - last_x) <= GetSystemMetrics(SM_CXDOUBLECLK) && abs(y - last_y) <= GetSystemMetrics(SM_CYDOUBLECLK) &&
        since <= GetDoubleClickTime())
        Sleep(GetDoubleClickTime() - since + 10);
    int cx = GetSystemMetrics(SM_CXVIRTUALSCREEN), cy = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT in[3];
    memset(in, 0, sizeof in);
    for (int i = 0; i < 3; ++i) {
        in[i].type = INPUT_MOUSE;
        in[i].mi.dx = (x * 65536 + cx / 2) / cx;
        in[i].mi.dy = (y * 65536 + cy / 2) / cy;
        in[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    }
    in[1].mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    in[2].mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    SendInput(3, in, sizeof in[0]);
    last_time = GetTickCount();
    last_x = x;
    last_y = y;
}

// Pelorn's icon in Wine's tray. Wine's shell cannot say where an icon is; its tray lays icons out
// from its right end, one small icon and a 2-pixel border each side apiece, and Pelorn's is the
// only one on this desktop.
static BOOL IconRect(RECT* r) {
    NOTIFYICONIDENTIFIER id;
    memset(&id, 0, sizeof id);
    id.cbSize = sizeof id;
    id.hWnd = Published();
    id.uID = TRAY_ICON_UID;
    if (Shell_NotifyIconGetRect(&id, r) == S_OK) return TRUE;
    HWND tray = NULL;
    for (DWORD waited = 0; waited < 2000 && !(tray = FindWindowW(L"Shell_TrayWnd", NULL)); waited += 10)
        Sleep(10);
    if (!tray || !GetWindowRect(tray, r)) return FALSE;
    r->left = r->right - (GetSystemMetrics(SM_CXSMICON) + 4);
    return TRUE;
}

static void Tap(wchar_t** w) {
    int y = _wtoi(w[2]);
    int x;
    if (!wcscmp(w[1], L"icon")) {
        RECT r;
        if (!IconRect(&r)) {
            Answer("error no icon in the tray");
            return;
        }
        // Taps a little left and right of the middle in turn: two taps in quick succession on
        // one spot would be a double click.
        static int side = 1;
        side = -side;
        x = (r.left + r.right) / 2 + side * (GetSystemMetrics(SM_CXDOUBLECLK) / 2 + 1);
        y = (r.top + r.bottom) / 2;
        // The pointer comes over the icon before it taps: hovering opens nothing.
        int cx = GetSystemMetrics(SM_CXVIRTUALSCREEN), cy = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        INPUT in[3];
        memset(in, 0, sizeof in);
        for (int i = 0; i < 3; ++i) {
            in[i].type = INPUT_MOUSE;
            in[i].mi.dx = ((x + (i - 1) * 3) * 65536 + cx / 2) / cx;
            in[i].mi.dy = ((y + 2 - i * 2) * 65536 + cy / 2) / cy;
            in[i].mi.dwFlags = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
        }
        SendInput(3, in, sizeof in[0]);
    } else {
        x = _wtoi(w[1]);
    }
    Click(x, y);
    for (DWORD waited = 0; waited < 300 && !Modal(); waited += 5)
        Sleep(5);
    Settle();
    HWND menu = Find(L"#32768", NULL);
    RECT r;
    if (menu && GetWindowRect(menu, &r))
        Answer("ok %ld %ld %ld %ld", r.left, r.top, r.right, r.bottom);
    else
        Answer("ok");
}

static void Pick(wchar_t** w, int n) {
    HWND menu = Find(L"#32768", NULL);
    if (!menu) {
        Answer("error no menu is open");
        return;
    }
    if (n < 2) {
        // Nothing chosen. Wine's menu does not close on a click elsewhere on its virtual desktop,
        // and keys go to the foreground window, which Pelorn's hidden one is not: Escape goes to
        // the menu's own loop, which closes it as such a click does.
        PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageW(menu, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    } else {
        // A menu's items belong to its process: the caller knows them from the trace, and they
        // stand one under the other, each as high as the next.
        int index = _wtoi(w[1]), count = _wtoi(w[2]);
        RECT client;
        GetClientRect(menu, &client);
        MapWindowPoints(menu, NULL, (POINT*)&client, 2);
        int height = (client.bottom - client.top) / (count > 0 ? count : 1);
        Click((client.left + client.right) / 2, client.top + index * height + height / 2);
    }
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS && IsWindowVisible(menu); waited += 5)
        Sleep(5);
    Settle();
    Answer("ok");
}

static void Ok(void) {
    HWND box = NULL;
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS && !(box = Find(L"#32770", NULL)); waited += 5)
        Sleep(5);
    if (!box) {
        Answer("error nothing is waiting for an answer");
        return;
    }
    // What the desktop shows: the caption, a message box's text and whether its icon is there.
    wchar_t caption[256] = L"", text[1024] = L"";
    GetWindowTextW(box, caption, 256);
    GetDlgItemTextW(box, 0xFFFF, text, 1024);
    HWND icon = GetDlgItem(box, 0x440);
    BOOL has_icon = icon && IsWindowVisible(icon) && SendMessageW(icon, STM_GETICON, 0, 0);
    // A box's OK button, or a click on the close box of a dialog that has none, where the
    // screen shows it.
    HWND ok = GetDlgItem(box, IDOK);
    if (ok) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)ok);
    } else {
        RECT r = {0, 0, 0, 0};
        GetWindowRect(box, &r);
        int y = r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2, x;
        int right = r.right < GetSystemMetrics(SM_CXSCREEN) ? r.right : GetSystemMetrics(SM_CXSCREEN);
        for (x = right - 1; x >= r.left; --x)
            if (SendMessageW(box, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) break;
        if (x < r.left || y < 0) {
            Answer("error the dialog's close box is not on the screen");
            return;
        }
        int left = x;
        while (left > r.left && SendMessageW(box, WM_NCHITTEST, 0, MAKELPARAM(left - 1, y)) == HTCLOSE) --left;
        Click((left + x) / 2, y);
    }
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS && IsWindow(box); waited += 5)
        Sleep(5);
    Settle();
    char out[4096];
    WideCharToMultiByte(CP_UTF8, 0, caption, -1, out, 1024, NULL, NULL);
    size_t used = strlen(out);
    out[used++] = '\t';
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out + used, 3000, NULL, NULL);
    Answer("ok %s\t%d", out, has_icon);
}

static BOOL TrayHoldsIcon(void) {
    // The tray answers a change to an icon only while it holds one with that window and id.
    NOTIFYICONDATAW data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = Find(NULL, L"Pelorn");
    data.uID = TRAY_ICON_UID;
    return data.hWnd && Shell_NotifyIconW(NIM_MODIFY, &data);
}

static void Show(void) {
    // From another window: one that is active already gets no activation when shown.
    HWND main = Find(NULL, L"Pelorn"), tray = FindWindowW(L"Shell_TrayWnd", NULL);
    if (tray) SetForegroundWindow(tray);
    if (main) ShowWindow(main, SW_SHOWNORMAL), SetForegroundWindow(main);
    Settle();
    Answer("ok %d", main && IsWindowVisible(main));
}

// As a signal does: WM_CLOSE to the main window, even before GPSHDL names it. Sent rather than
// posted, so that its end can be told; the window takes it in whichever loop waits.
static void Close(void) {
    static struct Sent s;
    s.hwnd = Find(NULL, L"Pelorn");
    s.msg = WM_CLOSE;
    s.wparam = 0;
    if (s.hwnd) {
        int before = Modals();
        HANDLE thread = CreateThread(NULL, 0, SendThread, &s, 0, NULL);
        Await(thread, before);
        CloseHandle(thread);
    }
    Answer("ok");
}

int wmain(void) {
    // Requests come in UTF-8, whatever Wine's code pages.
    char bytes[8192];
    wchar_t line[8192];
    while (fgets(bytes, sizeof bytes, stdin)) {
        if (!MultiByteToWideChar(CP_UTF8, 0, bytes, -1, line, 8192)) line[0] = 0;
        wchar_t* w[64];
        int n = 0;
        line[wcscspn(line, L"\r\n")] = 0;
        for (wchar_t *at = line, *tab; n < 64; at = tab + 1) {
            w[n++] = at;
            if (!(tab = wcschr(at, L'\t'))) break;
            *tab = 0;
        }
        const wchar_t* cmd = w[0];
        if (!wcscmp(cmd, L"start") && n == 5) {
            Start(w);
        } else if (!wcscmp(cmd, L"state")) {
            DWORD code = 0;
            if (!Running() && g_pelorn.hProcess) GetExitCodeProcess(g_pelorn.hProcess, &code);
            if (!Running()) Answer("ok exited %lu", code);
            else Answer(Modal() ? "ok modal" : IsWindow(Published()) ? "ok running window" : "ok running");
        } else if (!wcscmp(cmd, L"tray")) {
            Answer("ok %d", TrayHoldsIcon());
        } else if (!wcscmp(cmd, L"show")) {
            Show();
        } else if (!wcscmp(cmd, L"settle")) {
            Settle();
            Answer("ok");
        } else if (!wcscmp(cmd, L"send") && n == 3) {
            Send(w);
        } else if (!wcscmp(cmd, L"close")) {
            Close();
        } else if (!wcscmp(cmd, L"tap") && n == 3) {
            Tap(w);
        } else if (!wcscmp(cmd, L"pick")) {
            Pick(w, n);
        } else if (!wcscmp(cmd, L"ok")) {
            Ok();
        } else if (!wcscmp(cmd, L"reg")) {
            Reg(w, n);
        } else if (!wcscmp(cmd, L"regwait")) {
            RegWait();
        } else if (!wcscmp(cmd, L"dword") && n == 4) {
            Value(w, REG_DWORD);
        } else if (!wcscmp(cmd, L"get") && n == 3) {
            Get(w);
        } else if (!wcscmp(cmd, L"text") && n == 4) {
            Value(w, REG_SZ);
        } else if (!wcscmp(cmd, L"event") && n == 2) {
            HANDLE e = CreateEventW(NULL, FALSE, FALSE, w[1]);
            SetEvent(e);
            CloseHandle(e);
            Answer("ok");
        } else if (!wcscmp(cmd, L"end")) {
            if (Running())
                TerminateProcess(g_pelorn.hProcess, 0), WaitForSingleObject(g_pelorn.hProcess, WAIT_LIMIT_MS);
            Answer("ok");
        } else {
            Answer("error unknown request");
        }
    }
    return 0;
}
