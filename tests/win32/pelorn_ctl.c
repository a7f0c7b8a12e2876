// Another program on the same desktop, as the Wine tests need one: finds Pelorn's window through
// GPSHDL, sends it messages, answers its message boxes and asks the tray about its icon. Prints
// "name=value" lines; the exit code is 0 when the command itself could be carried out.
//
//   pelorn_ctl bits                      prints bits=, its own pointer width: proof that it ran
//   pelorn_ctl wait-window               until GPSHDL names a live window
//   pelorn_ctl send MSG                  SendMessage(MSG) to it; prints result=
//   pelorn_ctl close                     WM_CLOSE, then until the window is gone
//   pelorn_ctl send-answer MSG TEXT      SendMessage(MSG) while answering the message box that
//                                        shows TEXT with OK; prints box=, result=
//   pelorn_ctl tray                      prints icon=1 when the tray holds Pelorn's icon
//   pelorn_ctl boxes                     prints boxes= and one box= line per message box or
//                                        dialog Pelorn shows: caption|text
//   pelorn_ctl probe-port PORT           opens PORT itself; prints open=, error=
//   pelorn_ctl answer TEXT               presses OK on the message box showing TEXT, whoever shows
//                                        it (before GPSHDL names a window); prints box=, caption=
//   pelorn_ctl post MSG [WPARAM]         PostMessage(MSG, WPARAM) to the window GPSHDL names; prints
//                                        posted=
//   pelorn_ctl close-box CAPTION         waits for the dialog captioned CAPTION; prints close=x,y, a
//                                        point on its caption's close box, or close=none
//   pelorn_ctl show-window               shows and activates the window GPSHDL names, as a task
//                                        switcher would; after a moment prints visible=
//   pelorn_ctl close-under TEXT          WM_CLOSE to the owner of the message box showing TEXT,
//                                        left unanswered, then until the owner is gone, pressing
//                                        OK on any other box showing TEXT (the close's own);
//                                        prints box=, answered=, closed=
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

#define TRAY_ICON_UID 5000
#define MSGBOX_TEXT_ID 0xFFFF
#define WAIT_LIMIT_MS 20000

static HWND PelornWindow(void) {
    HKEY key;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Apps\\Tavro SW", 0, KEY_READ, &key) != ERROR_SUCCESS) return NULL;
    if (RegQueryValueExW(key, L"GPSHDL", NULL, NULL, (BYTE*)&value, &size) != ERROR_SUCCESS) value = 0;
    RegCloseKey(key);
    return (HWND)(ULONG_PTR)value;
}

static HWND WaitForWindow(void) {
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS; waited += 50) {
        HWND hwnd = PelornWindow();
        if (hwnd && IsWindow(hwnd)) return hwnd;
        Sleep(50);
    }
    return NULL;
}

struct Send {
    HWND hwnd;
    UINT msg;
    LRESULT result;
};

static DWORD WINAPI SendThread(LPVOID p) {
    struct Send* s = p;
    s->result = SendMessageW(s->hwnd, s->msg, 0, 0);
    return 0;
}

// Message boxes and dialogs of one process; with text set, the first message box showing it.
struct Find {
    DWORD pid;
    const wchar_t* text;
    HWND box;
    int count;
    HWND skip;  // a box not to find
};

static BOOL CALLBACK FindBox(HWND hwnd, LPARAM lp) {
    struct Find* f = (struct Find*)lp;
    wchar_t cls[64] = L"", text[256] = L"";
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if ((f->pid && pid != f->pid) || !GetClassNameW(hwnd, cls, 64) || wcscmp(cls, L"#32770") != 0) return TRUE;
    GetDlgItemTextW(hwnd, MSGBOX_TEXT_ID, text, 256);
    if (!f->text) {
        wchar_t caption[64] = L"";
        GetWindowTextW(hwnd, caption, 64);
        printf("box=%ls|%ls\n", caption, text);
        ++f->count;
        return TRUE;
    }
    if (wcscmp(text, f->text) != 0 || hwnd == f->skip) return TRUE;
    f->box = hwnd;
    return FALSE;
}

// Sends msg while a message box with text may come up in Pelorn's process; presses its OK.
static int SendAnswering(HWND hwnd, UINT msg, const wchar_t* text) {
    struct Send s = {hwnd, msg, -1};
    struct Find f = {0, text, NULL, 0, NULL};
    GetWindowThreadProcessId(hwnd, &f.pid);
    HANDLE thread = CreateThread(NULL, 0, SendThread, &s, 0, NULL);
    if (!thread) return 1;
    wchar_t caption[64] = L"";
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS && !f.box; waited += 50) {
        if (WaitForSingleObject(thread, 50) == WAIT_OBJECT_0) break;
        EnumWindows(FindBox, (LPARAM)&f);
    }
    if (f.box) {
        GetWindowTextW(f.box, caption, 64);
        // WM_CLOSE would answer IDCANCEL; the user presses OK.
        PostMessageW(f.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(f.box, IDOK));
    }
    DWORD done = WaitForSingleObject(thread, WAIT_LIMIT_MS);
    CloseHandle(thread);
    printf("box=%d\n", f.box != NULL);
    printf("caption=%ls\n", caption);
    if (done != WAIT_OBJECT_0) return 1;
    printf("result=%lld\n", (long long)s.result);
    return 0;
}

// The close box is found as the mouse would find it: by asking the dialog what lies under each
// point of its caption's middle row.
static int CloseBox(const wchar_t* caption) {
    HWND dialog = NULL;
    for (DWORD waited = 0; waited < WAIT_LIMIT_MS && !(dialog = FindWindowW(L"#32770", caption)); waited += 50)
        Sleep(50);
    RECT r = {0, 0, 0, 0};
    GetWindowRect(dialog, &r);
    int y = r.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2, right = -1, x;
    for (x = r.right - 1; x >= r.left; --x) {
        int close = SendMessageW(dialog, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE;
        if (close && right < 0) right = x;
        if (!close && right >= 0) break;
    }
    if (right < 0)
        printf("close=none\n");
    else
        printf("close=%d,%d\n", (x + 1 + right) / 2, y);
    return dialog == NULL;
}

static int TrayHoldsIcon(HWND hwnd) {
    // The tray answers a change to an icon only while it holds one with that window and id.
    NOTIFYICONDATAW data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = hwnd;
    data.uID = TRAY_ICON_UID;
    return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const wchar_t* cmd = argv[1];
    if (!wcscmp(cmd, L"bits")) {
        printf("bits=%d\n", (int)(sizeof(void*) * 8));
        return 0;
    }
    if (!wcscmp(cmd, L"probe-port") && argc == 3) {
        HANDLE port = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        DWORD error = GetLastError();
        printf("open=%s\n", port == INVALID_HANDLE_VALUE ? "failed" : "opened");
        printf("error=%lu\n", port == INVALID_HANDLE_VALUE ? error : 0);
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        return 0;
    }
    if (!wcscmp(cmd, L"answer") && argc == 3) {
        struct Find f = {0, argv[2], NULL, 0, NULL};
        for (DWORD waited = 0; waited < WAIT_LIMIT_MS && !f.box; waited += 50) {
            EnumWindows(FindBox, (LPARAM)&f);
            if (!f.box) Sleep(50);
        }
        wchar_t caption[64] = L"";
        if (f.box) {
            GetWindowTextW(f.box, caption, 64);
            PostMessageW(f.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(f.box, IDOK));
        }
        printf("box=%d\ncaption=%ls\n", f.box != NULL, caption);
        return 0;
    }
    if (!wcscmp(cmd, L"close-box") && argc == 3) return CloseBox(argv[2]);
    if (!wcscmp(cmd, L"close-under") && argc == 3) {
        struct Find f = {0, argv[2], NULL, 0, NULL};
        for (DWORD waited = 0; waited < WAIT_LIMIT_MS && !f.box; waited += 50) {
            EnumWindows(FindBox, (LPARAM)&f);
            if (!f.box) Sleep(50);
        }
        HWND owner = f.box ? GetWindow(f.box, GW_OWNER) : NULL;
        printf("box=%d\n", owner != NULL);
        if (!owner) return 1;
        PostMessageW(owner, WM_CLOSE, 0, 0);
        DWORD waited = 0;
        int answered = 0;
        HWND last = NULL;
        while (IsWindow(owner) && waited < WAIT_LIMIT_MS) {
            struct Find other = {0, argv[2], NULL, 0, f.box};
            EnumWindows(FindBox, (LPARAM)&other);
            if (other.box && other.box != last &&
                PostMessageW(other.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(other.box, IDOK)))
                ++answered, last = other.box;
            Sleep(50);
            waited += 50;
        }
        printf("answered=%d\nclosed=%d\n", answered, !IsWindow(owner));
        return 0;
    }
    HWND hwnd = WaitForWindow();
    printf("window=%d\n", hwnd != NULL);
    if (!hwnd) return 1;

    if (!wcscmp(cmd, L"wait-window")) return 0;
    if (!wcscmp(cmd, L"send") && argc == 3) {
        printf("result=%lld\n", (long long)SendMessageW(hwnd, (UINT)wcstoul(argv[2], NULL, 0), 0, 0));
        return 0;
    }
    if (!wcscmp(cmd, L"close")) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        for (DWORD waited = 0; waited < WAIT_LIMIT_MS; waited += 50) {
            if (!IsWindow(hwnd)) {
                printf("closed=1\n");
                return 0;
            }
            Sleep(50);
        }
        printf("closed=0\n");
        return 1;
    }
    if (!wcscmp(cmd, L"post") && (argc == 3 || argc == 4)) {
        WPARAM wParam = argc == 4 ? (WPARAM)wcstoul(argv[3], NULL, 0) : 0;
        printf("posted=%d\n", PostMessageW(hwnd, (UINT)wcstoul(argv[2], NULL, 0), wParam, 0) != FALSE);
        return 0;
    }
    if (!wcscmp(cmd, L"show-window")) {
        ShowWindow(hwnd, SW_SHOWNORMAL);
        SetForegroundWindow(hwnd);
        Sleep(500);
        printf("visible=%d\n", IsWindowVisible(hwnd) != FALSE);
        return 0;
    }
    if (!wcscmp(cmd, L"send-answer") && argc == 4) return SendAnswering(hwnd, (UINT)wcstoul(argv[2], NULL, 0), argv[3]);
    if (!wcscmp(cmd, L"tray")) {
        printf("icon=%d\n", TrayHoldsIcon(hwnd));
        return 0;
    }
    if (!wcscmp(cmd, L"boxes")) {
        struct Find f = {0, NULL, NULL, 0, NULL};
        GetWindowThreadProcessId(hwnd, &f.pid);
        EnumWindows(FindBox, (LPARAM)&f);
        printf("boxes=%d\n", f.count);
        return 0;
    }
    return 2;
}
