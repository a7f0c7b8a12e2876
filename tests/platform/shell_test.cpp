#include "platform/host/shell.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/handheld.h"
#include "platform/host/resources.h"
#include "platform/host/windows.h"
#include "support/device_test.h"

namespace {

constexpr UINT kTrayId = 5000;
constexpr UINT kTrayMessage = 3025;
constexpr UINT kGpsOn = 65008;
constexpr UINT kGpsOff = 65009;
constexpr UINT kSetTrayFlags = NIF_MESSAGE | NIF_ICON;

// The icon files the application is built with, straight from the source tree.
std::string IconFile(const char* name) {
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/")) + "/res/icons/" + name;
}

struct Seen {
    host::Millis t;
    HWND window;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

// Whatever the test says the person does when the loop has nothing else to do.
class Person : public host::User {
public:
    bool Act() override { return act ? act() : false; }
    std::function<bool()> act;
};

class ShellTest : public pelorn_test::DeviceTest {
protected:
    ShellTest() {
        resources.icon_files[128] = IconFile("app.ico");
        resources.icon_files[130] = IconFile("gps_on_a.ico");
        resources.icon_files[131] = IconFile("gps_on_b.ico");
        resources.icon_files[132] = IconFile("gps_off.ico");
    }
    host::BootOptions Options() override {
        host::BootOptions options;
        options.resources = &resources;
        return options;
    }
    void SetUp() override {
        DeviceTest::SetUp();
        self = this;
        device().SetUser(&person);
        WNDCLASS wc{};
        wc.lpfnWndProc = &ShellTest::Proc;
        wc.lpszClassName = _T("ShellTestWindow");
        ASSERT_NE(0, RegisterClass(&wc));
        window = Create();
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override {
        DeviceTest::TearDown();
        self = nullptr;
    }

    HWND Create() {
        return CreateWindowEx(0, _T("ShellTestWindow"), _T("test"), 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    }
    host::Shell& shell() { return device().shell(); }
    host::WindowManager& wm() { return device().windows(); }

    std::vector<Seen> Received(UINT msg) const {
        std::vector<Seen> out;
        for (const auto& s : seen)
            if (s.msg == msg) out.push_back(s);
        return out;
    }

    HICON Load(UINT id, int size = 16) {
        return static_cast<HICON>(
            LoadImage(GetModuleHandle(nullptr), MAKEINTRESOURCE(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    }

    BOOL Notify(DWORD operation, HWND owner, UINT id, HICON icon) {
        NOTIFYICONDATA d{};
        d.cbSize = sizeof d;
        d.hWnd = owner;
        d.uID = id;
        d.uFlags = kSetTrayFlags;
        d.uCallbackMessage = kTrayMessage;
        d.hIcon = icon;
        return Shell_NotifyIcon(operation, &d);
    }

    // The frame's popup menu: "GPS On", "GPS OFF", with the check mark on "GPS OFF".
    HMENU GpsMenu() {
        HMENU menu = CreatePopupMenu();
        EXPECT_TRUE(AppendMenu(menu, MF_STRING, kGpsOn, _T("GPS On")));
        EXPECT_TRUE(AppendMenu(menu, MF_STRING, kGpsOff, _T("GPS OFF")));
        CheckMenuItem(menu, kGpsOff, MF_BYCOMMAND | MF_CHECKED);
        return menu;
    }

    // Where the menu appears for these flags and this point; the person then dismisses it.
    RECT OpenedAt(HMENU menu, UINT flags, int x, int y) {
        RECT rect{-1, -1, -1, -1};
        person.act = [&] {
            if (!shell().open_menu()) return false;
            rect = shell().open_menu()->rect;
            return shell().DismissMenu();
        };
        TrackPopupMenu(menu, flags, x, y, 0, window, nullptr);
        person.act = nullptr;
        return rect;
    }

    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        self->seen.push_back({self->device().clock().Now(), h, msg, wp, lp});
        if (self->react) self->react(h, msg, wp, lp);
        return DefWindowProc(h, msg, wp, lp);
    }

    static ShellTest* self;
    host::ResourceTable resources;
    Person person;
    HWND window = nullptr;
    std::vector<Seen> seen;
    std::function<void(HWND, UINT, WPARAM, LPARAM)> react;
};
ShellTest* ShellTest::self = nullptr;

// --- the tray ------------------------------------------------------------------------------------

TEST_F(ShellTest, TrayAddsOnlyAbsentIconsAndModifiesOrDeletesOnlyPresentOnes) {
    HICON off = Load(132), on = Load(130);
    ASSERT_TRUE(off && on);

    EXPECT_TRUE(Notify(NIM_ADD, window, kTrayId, off));
    EXPECT_FALSE(Notify(NIM_ADD, window, kTrayId, on)) << "the id is present";
    ASSERT_EQ(1u, shell().TrayIcons().size());
    const host::TrayIcon& icon = shell().TrayIcons()[0];
    EXPECT_EQ(window, icon.window);
    EXPECT_EQ(kTrayMessage, icon.callback_message);
    EXPECT_EQ(off, icon.icon);
    EXPECT_EQ(132u, icon.icon_resource) << "the failed add changed nothing";

    EXPECT_TRUE(Notify(NIM_MODIFY, window, kTrayId, on));
    EXPECT_EQ(130u, shell().FindTrayIcon(window, kTrayId)->icon_resource);
    EXPECT_FALSE(Notify(NIM_MODIFY, window, kTrayId + 1, off));
    EXPECT_FALSE(Notify(NIM_DELETE, window, kTrayId + 1, off));
    EXPECT_EQ(130u, shell().FindTrayIcon(window, kTrayId)->icon_resource);

    EXPECT_TRUE(Notify(NIM_DELETE, window, kTrayId, on));
    EXPECT_TRUE(shell().TrayIcons().empty());
    EXPECT_FALSE(Notify(NIM_DELETE, window, kTrayId, on));
    EXPECT_FALSE(Notify(NIM_MODIFY, window, kTrayId, on));
    EXPECT_TRUE(Notify(NIM_ADD, window, kTrayId, on)) << "a deleted id can be added again";
}

TEST_F(ShellTest, TrayIconsAreKeyedByWindowAndId) {
    HWND other = Create();
    HICON off = Load(132);
    EXPECT_TRUE(Notify(NIM_ADD, window, kTrayId, off));
    EXPECT_TRUE(Notify(NIM_ADD, other, kTrayId, off));
    EXPECT_TRUE(Notify(NIM_DELETE, other, kTrayId, off));
    ASSERT_EQ(1u, shell().TrayIcons().size());
    EXPECT_EQ(window, shell().TrayIcons()[0].window);

    DestroyWindow(other);
    EXPECT_FALSE(Notify(NIM_ADD, other, kTrayId, off)) << "no window to report to";
    EXPECT_EQ(1u, shell().TrayIcons().size());
}

TEST_F(ShellTest, TrayCallsAreRecordedWithTheRecordsFieldsAndCanBeMadeToFail) {
    HICON off = Load(132);
    trace().Clear();
    device().faults().FailNext("Shell_NotifyIcon", 1, ERROR_OUTOFMEMORY);
    EXPECT_FALSE(Notify(NIM_ADD, window, kTrayId, off));
    EXPECT_TRUE(shell().TrayIcons().empty());
    EXPECT_TRUE(Notify(NIM_ADD, window, kTrayId, off));

    auto calls = trace().Calls("Shell_NotifyIcon");
    ASSERT_EQ(2u, calls.size());
    EXPECT_TRUE(calls[0].Has("injected"));
    const host::TraceEntry& add = calls[1];
    EXPECT_EQ(NIM_ADD, add.Num("dwMessage"));
    EXPECT_EQ(152, add.Num("cbSize"));
    EXPECT_EQ(static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(window)), add.Num("hWnd"));
    EXPECT_EQ(kTrayId, add.Num("uID"));
    EXPECT_EQ("0x3", add.Str("uFlags"));
    EXPECT_EQ("0xBD1", add.Str("uCallbackMessage"));
    EXPECT_EQ(static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(off)), add.Num("hIcon"));
    EXPECT_EQ(132, add.Num("icon"));
    EXPECT_EQ(TRUE, add.Num("result"));
}

// --- tapping the tray ------------------------------------------------------------------------------

TEST_F(ShellTest, ATapReportsThePressToTheIconsWindowAndMovesTheCursor) {
    POINT pt{-1, -1};
    ASSERT_TRUE(GetCursorPos(&pt));
    EXPECT_EQ(0, pt.x);
    EXPECT_EQ(0, pt.y);
    Notify(NIM_ADD, window, kTrayId, Load(132));
    seen.clear();
    trace().Clear();

    EXPECT_TRUE(shell().TapTray(kTrayId, 213, 301));
    wm().RunFor(0);
    auto notes = Received(kTrayMessage);
    ASSERT_EQ(1u, notes.size()) << "the press only: its release goes to whatever the press opened";
    EXPECT_EQ(window, notes[0].window);
    EXPECT_EQ(kTrayId, notes[0].wp);
    EXPECT_EQ(WM_LBUTTONDOWN, notes[0].lp);
    EXPECT_TRUE(trace().Calls("PostMessage").empty()) << "the shell's delivery is not a call of the system";

    ASSERT_TRUE(GetCursorPos(&pt));
    EXPECT_EQ(213, pt.x);
    EXPECT_EQ(301, pt.y);
    auto calls = trace().Calls("GetCursorPos");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(213, calls[0].Num("x"));
    EXPECT_EQ(301, calls[0].Num("y"));

    seen.clear();
    EXPECT_FALSE(shell().TapTray(kTrayId + 1, 100, 300));
    wm().RunFor(0);
    EXPECT_TRUE(Received(kTrayMessage).empty());
}

TEST_F(ShellTest, TrayIconsSitOnTheTaskbarAndATapWithoutPointHitsTheIcon) {
    HWND other = Create();
    Notify(NIM_ADD, other, 1, Load(131));
    Notify(NIM_ADD, window, kTrayId, Load(132));
    RECT first = *shell().TrayIconRect(other, 1);
    RECT mine = *shell().TrayIconRect(window, kTrayId);
    EXPECT_LT(first.right, mine.left) << "left to right in the order added";
    EXPECT_LE(mine.right, host::kScreenWidth);
    EXPECT_GE(mine.top, host::kScreenHeight - host::kTaskbarHeight);
    EXPECT_LE(mine.bottom, host::kScreenHeight);

    ASSERT_TRUE(shell().TapTray(kTrayId));
    POINT pt{};
    GetCursorPos(&pt);
    EXPECT_TRUE(pt.x >= mine.left && pt.x < mine.right && pt.y >= mine.top && pt.y < mine.bottom);
}

// --- popup menus ---------------------------------------------------------------------------------

TEST_F(ShellTest, AMenuAt0x28HasItsBottomRightCornerAtThePointAndAChoiceArrivesAfterItCloses) {
    HMENU menu = GpsMenu();
    std::optional<RECT> rect;
    std::optional<host::Modal> modal;
    person.act = [&] {
        if (!shell().open_menu()) return false;
        rect = shell().open_menu()->rect;
        modal = *wm().TopModal();
        return shell().ChooseMenuItem(kGpsOn);
    };
    EXPECT_EQ(TRUE, TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, 200, 319, 0, window, nullptr));
    EXPECT_TRUE(Received(WM_COMMAND).empty()) << "the command goes through the queue";
    EXPECT_EQ(nullptr, shell().open_menu());
    EXPECT_EQ(nullptr, wm().TopModal());

    ASSERT_TRUE(rect);
    EXPECT_EQ(200, rect->right);
    EXPECT_EQ(319, rect->bottom);
    EXPECT_EQ(2 * host::kMenuItemHeight, rect->bottom - rect->top);
    EXPECT_EQ(2 * host::kMenuTextMargin + 7 * host::kMenuCharWidth, rect->right - rect->left) << "\"GPS OFF\"";
    ASSERT_TRUE(modal);
    EXPECT_EQ(host::Modal::Kind::kMenu, modal->kind);
    EXPECT_EQ(menu, modal->menu);
    EXPECT_EQ(window, modal->window);

    wm().RunFor(0);
    auto commands = Received(WM_COMMAND);
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(kGpsOn, commands[0].wp);
    EXPECT_EQ(0, commands[0].lp);

    auto calls = trace().Calls("TrackPopupMenu");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("0x28", calls[0].Str("uFlags"));
    EXPECT_EQ(200, calls[0].Num("x"));
    EXPECT_EQ(319, calls[0].Num("y"));
    EXPECT_EQ(kGpsOn, calls[0].Num("chosen"));
    EXPECT_EQ(TRUE, calls[0].Num("result"));
}

TEST_F(ShellTest, TimerTicksAreServedWhileTheMenuIsOpen) {
    HMENU menu = GpsMenu();
    SetTimer(window, 1, 1500, nullptr);
    person.act = [&] { return Received(WM_TIMER).size() >= 2 && shell().ChooseMenuItem(kGpsOff); };
    EXPECT_TRUE(TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    auto ticks = Received(WM_TIMER);
    ASSERT_EQ(2u, ticks.size());
    EXPECT_EQ(1500, ticks[0].t);
    EXPECT_EQ(3000, ticks[1].t);
    EXPECT_EQ(3000, device().clock().Now()) << "chosen right after the second tick";
    wm().RunFor(0);
    ASSERT_EQ(1u, Received(WM_COMMAND).size());
    EXPECT_EQ(kGpsOff, Received(WM_COMMAND)[0].wp);
}

TEST_F(ShellTest, DismissingChoosesNothing) {
    HMENU menu = GpsMenu();
    person.act = [&] { return shell().DismissMenu(); };
    // Nothing chosen is no failure when the caller did not ask for the command.
    EXPECT_EQ(TRUE, TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    EXPECT_EQ(0, TrackPopupMenu(menu, 0x28 | TPM_RETURNCMD, 220, 319, 0, window, nullptr));

    // Nobody at the device: the menu is dismissed as soon as the loop is idle.
    device().SetUser(nullptr);
    EXPECT_EQ(TRUE, TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    wm().RunFor(10);
    EXPECT_TRUE(Received(WM_COMMAND).empty());
    auto calls = trace().Calls("TrackPopupMenu");
    ASSERT_EQ(3u, calls.size());
    for (const auto& c : calls)
        EXPECT_EQ("null", c.Raw("chosen"));
}

TEST_F(ShellTest, WithReturnCmdTheChoiceIsReturnedAndNotPosted) {
    HMENU menu = GpsMenu();
    person.act = [&] { return shell().ChooseMenuItem(kGpsOff); };
    EXPECT_EQ(static_cast<BOOL>(kGpsOff), TrackPopupMenu(menu, TPM_RETURNCMD, 10, 10, 0, window, nullptr));
    wm().RunFor(10);
    EXPECT_TRUE(Received(WM_COMMAND).empty());
}

TEST_F(ShellTest, TheMenuIsPlacedByItsAlignmentFlagsAndKeptOnTheScreen) {
    HMENU menu = GpsMenu();
    RECT r = OpenedAt(menu, TPM_LEFTALIGN | TPM_TOPALIGN, 30, 40);
    const LONG width = r.right - r.left, height = r.bottom - r.top;
    EXPECT_EQ(30, r.left);
    EXPECT_EQ(40, r.top);

    r = OpenedAt(menu, TPM_CENTERALIGN | TPM_VCENTERALIGN, 120, 160);
    EXPECT_EQ(120 - width / 2, r.left);
    EXPECT_EQ(160 - height / 2, r.top);

    r = OpenedAt(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, 20, 10);
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
    r = OpenedAt(menu, TPM_LEFTALIGN | TPM_TOPALIGN, host::kScreenWidth - 5, host::kScreenHeight - 5);
    EXPECT_EQ(host::kScreenWidth, r.right);
    EXPECT_EQ(host::kScreenHeight, r.bottom);
    EXPECT_EQ(width, r.right - r.left);
}

TEST_F(ShellTest, OnlyRealItemsOfTheTopmostMenuCanBeChosen) {
    HMENU menu = GpsMenu();
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING | MF_GRAYED, 7, _T("Grayed"));
    SetTimer(window, 1, 1000, nullptr);
    react = [&](HWND h, UINT msg, WPARAM, LPARAM) {
        if (msg == WM_TIMER && Received(WM_TIMER).size() == 1) MessageBox(h, _T("Above the menu"), nullptr, MB_OK);
    };
    std::vector<bool> refused;
    person.act = [&] {
        const host::Modal* top = wm().TopModal();
        if (!top) return false;
        if (top->kind == host::Modal::Kind::kMessageBox) {
            refused.push_back(!shell().ChooseMenuItem(kGpsOn));
            return wm().AcknowledgeTopModal();
        }
        if (Received(WM_TIMER).empty()) {
            refused.push_back(!shell().ChooseMenuItem(0));  // the separator
            refused.push_back(!shell().ChooseMenuItem(7));
            refused.push_back(!shell().ChooseMenuItem(12345));
            return false;
        }
        return shell().ChooseMenuItem(kGpsOn);
    };
    EXPECT_TRUE(TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    EXPECT_EQ((std::vector<bool>{true, true, true, true}), refused);
    wm().RunFor(0);
    ASSERT_EQ(1u, Received(WM_COMMAND).size());
    EXPECT_EQ(kGpsOn, Received(WM_COMMAND)[0].wp);
}

TEST_F(ShellTest, ASecondMenuCannotOpenWhileOneIsOpen) {
    HMENU menu = GpsMenu();
    HMENU other = GpsMenu();
    SetTimer(window, 1, 1000, nullptr);
    BOOL nested = -1;
    DWORD error = 0;
    react = [&](HWND h, UINT msg, WPARAM, LPARAM) {
        if (msg != WM_TIMER || nested != -1) return;
        nested = TrackPopupMenu(other, 0x28, 100, 319, 0, h, nullptr);
        error = GetLastError();
    };
    person.act = [&] { return nested != -1 && shell().ChooseMenuItem(kGpsOff); };
    EXPECT_TRUE(TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    EXPECT_EQ(FALSE, nested);
    EXPECT_EQ(1446u, error);  // ERROR_POPUP_ALREADY_ACTIVE
}

TEST_F(ShellTest, DestroyingTheOpenMenuClosesItAndATapOnTheTrayOnlyClosesIt) {
    HMENU menu = GpsMenu();
    SetTimer(window, 1, 1000, nullptr);
    react = [&](HWND, UINT msg, WPARAM, LPARAM) {
        if (msg == WM_TIMER) DestroyMenu(menu);
    };
    EXPECT_TRUE(TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    EXPECT_FALSE(IsMenu(menu));
    EXPECT_EQ(nullptr, shell().open_menu());
    KillTimer(window, 1);
    react = nullptr;

    Notify(NIM_ADD, window, kTrayId, Load(132));
    menu = GpsMenu();
    bool tapped = true;
    person.act = [&] {
        if (!shell().open_menu()) return false;
        tapped = shell().TapTray(kTrayId, 100, 300);
        return true;
    };
    EXPECT_TRUE(TrackPopupMenu(menu, 0x28, 220, 319, 0, window, nullptr));
    EXPECT_FALSE(tapped);
    person.act = nullptr;
    wm().RunFor(10);
    EXPECT_TRUE(Received(kTrayMessage).empty());
    EXPECT_TRUE(Received(WM_COMMAND).empty());
}

TEST_F(ShellTest, ATapOpensTheMenuAtTheTappedColumnAndAChoiceReachesTheWindow) {
    Notify(NIM_ADD, window, kTrayId, Load(132));
    HMENU menu = GpsMenu();
    std::optional<RECT> rect;
    react = [&](HWND h, UINT msg, WPARAM, LPARAM) {
        if (msg != kTrayMessage) return;
        POINT pt{};
        GetCursorPos(&pt);
        TrackPopupMenu(menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN, pt.x, 319, 0, h, nullptr);
    };
    bool tapped = false;
    person.act = [&] {
        if (shell().open_menu()) {
            rect = shell().open_menu()->rect;
            return shell().ChooseMenuItem(kGpsOn);
        }
        if (tapped) return false;
        tapped = true;
        return shell().TapTray(kTrayId, 210, 305);
    };
    wm().RunFor(100);
    ASSERT_TRUE(rect);
    EXPECT_EQ(210, rect->right);
    EXPECT_EQ(319, rect->bottom);
    ASSERT_EQ(1u, Received(WM_COMMAND).size());
    EXPECT_EQ(kGpsOn, Received(WM_COMMAND)[0].wp);
}

TEST_F(ShellTest, CheckMenuItemReturnsThePreviousStateOrAllOnesForNoSuchItem) {
    HMENU menu = CreatePopupMenu();
    AppendMenu(menu, MF_STRING, kGpsOn, _T("GPS On"));
    AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenu(menu, MF_STRING, kGpsOff, _T("GPS OFF"));

    EXPECT_EQ(static_cast<DWORD>(MF_UNCHECKED), CheckMenuItem(menu, kGpsOff, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(static_cast<DWORD>(MF_CHECKED), CheckMenuItem(menu, kGpsOff, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(static_cast<DWORD>(MF_CHECKED), CheckMenuItem(menu, 2, MF_BYPOSITION | MF_UNCHECKED));
    EXPECT_EQ(static_cast<DWORD>(MF_UNCHECKED), CheckMenuItem(menu, 0, MF_BYPOSITION | MF_CHECKED));
    EXPECT_EQ(0xFFFFFFFFu, CheckMenuItem(menu, 12345, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(0xFFFFFFFFu, CheckMenuItem(menu, 3, MF_BYPOSITION | MF_CHECKED));
    EXPECT_EQ(0xFFFFFFFFu, CheckMenuItem(nullptr, kGpsOn, MF_CHECKED));

    const auto* items = shell().MenuItems(menu);
    ASSERT_NE(nullptr, items);
    ASSERT_EQ(3u, items->size());
    EXPECT_EQ(u"GPS On", (*items)[0].text);
    EXPECT_TRUE((*items)[0].checked);
    EXPECT_TRUE((*items)[1].separator);
    EXPECT_EQ(kGpsOff, (*items)[2].id);
    EXPECT_FALSE((*items)[2].checked);

    auto calls = trace().Calls("CheckMenuItem");
    ASSERT_EQ(7u, calls.size());
    EXPECT_EQ(kGpsOff, calls[0].Num("uIDCheckItem"));
    EXPECT_EQ("0x8", calls[0].Str("uCheck"));
    EXPECT_EQ(0xFFFFFFFF, calls[4].Num("result"));
}

TEST_F(ShellTest, MenuHandlesFailOnceDestroyedAndCreationCanBeMadeToFail) {
    HMENU menu = CreatePopupMenu();
    EXPECT_TRUE(IsMenu(menu));
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(IsMenu(menu));
    SetLastError(0);
    EXPECT_FALSE(AppendMenu(menu, MF_STRING, kGpsOn, _T("GPS On")));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE), GetLastError());
    EXPECT_FALSE(DestroyMenu(menu));
    EXPECT_FALSE(TrackPopupMenu(menu, 0x28, 100, 319, 0, window, nullptr));
    EXPECT_FALSE(TrackPopupMenu(GpsMenu(), 0x28, 100, 319, 0, nullptr, nullptr)) << "a menu needs an owner";

    device().faults().FailNext("CreatePopupMenu", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, CreatePopupMenu());
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_NE(nullptr, CreatePopupMenu());
}

// --- icons ---------------------------------------------------------------------------------------

struct Argb {
    int a, r, g, b;
};
Argb Split(std::uint32_t p) {
    return {static_cast<int>(p >> 24), static_cast<int>(p >> 16 & 255), static_cast<int>(p >> 8 & 255),
            static_cast<int>(p & 255)};
}
bool DarkGreen(std::uint32_t p) {
    Argb c = Split(p);
    return c.a == 255 && c.g >= 64 && c.g < 160 && c.r < 48 && c.b < 48;
}
bool LightGreen(std::uint32_t p) {
    Argb c = Split(p);
    return c.a == 255 && c.g >= 200 && c.r >= 64 && c.b >= 64 && c.r < c.g - 60 && c.b < c.g - 60;
}
bool Red(std::uint32_t p) {
    Argb c = Split(p);
    return c.a == 255 && c.r >= 180 && c.g < 64 && c.b < 64;
}

TEST_F(ShellTest, TheThreeTrayIconsAreOnePictureWithADarkGreenLightGreenOrRedCornerSquare) {
    HICON on_a = Load(130), on_b = Load(131), off = Load(132);
    ASSERT_TRUE(on_a && on_b && off) << "icon files under " << IconFile("");
    EXPECT_TRUE(on_a != on_b && on_b != off && on_a != off);
    EXPECT_EQ(130u, shell().IconResourceId(on_a));
    EXPECT_EQ(131u, shell().IconResourceId(on_b));
    EXPECT_EQ(132u, shell().IconResourceId(off));

    const host::IconImage* a = shell().IconPixels(on_a);
    const host::IconImage* b = shell().IconPixels(on_b);
    const host::IconImage* c = shell().IconPixels(off);
    ASSERT_TRUE(a && b && c);
    for (const auto* img : {a, b, c}) {
        ASSERT_EQ(16, img->width);
        ASSERT_EQ(16, img->height);
    }
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_TRUE(DarkGreen(a->At(x, y))) << x << "," << y;
            EXPECT_TRUE(LightGreen(b->At(x, y))) << x << "," << y;
            EXPECT_TRUE(Red(c->At(x, y))) << x << "," << y;
        }
    }
    int opaque = 0, transparent = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            bool same = a->At(x, y) == b->At(x, y) && b->At(x, y) == c->At(x, y);
            EXPECT_TRUE(same || (x < 6 && y < 6)) << "the pictures differ at " << x << "," << y;
            if (x < 6 && y < 6) continue;
            (Split(a->At(x, y)).a == 255 ? opaque : transparent)++;
        }
    }
    EXPECT_GT(opaque, 40) << "a satellite is drawn";
    EXPECT_GT(transparent, 40) << "and the taskbar shows around it";
}

TEST_F(ShellTest, TheApplicationIconComesInTwoSizesAndOthersAreScaled) {
    for (int size : {16, 32, 24}) {
        HICON icon = Load(128, size);
        ASSERT_NE(nullptr, icon) << size;
        const host::IconImage* img = shell().IconPixels(icon);
        EXPECT_EQ(size, img->width);
        EXPECT_EQ(size, img->height);
        EXPECT_EQ(255, Split(img->At(size / 2, size / 2)).a) << size;
    }
}

TEST_F(ShellTest, LoadingAMissingIconFailsAndLoadingCanBeMadeToFail) {
    SetLastError(0);
    EXPECT_EQ(nullptr, Load(999));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, LoadImage(nullptr, MAKEINTRESOURCE(132), IMAGE_ICON, 16, 16, 0)) << "not the OEM icons";
    EXPECT_EQ(nullptr, LoadImage(GetModuleHandle(nullptr), MAKEINTRESOURCE(132), IMAGE_BITMAP, 16, 16, 0));
    EXPECT_EQ(std::nullopt, shell().IconResourceId(reinterpret_cast<HICON>(static_cast<ULONG_PTR>(0x1234))));

    device().faults().FailNext("LoadImage", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, Load(130));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    HICON icon = Load(130);
    EXPECT_NE(nullptr, icon);

    auto calls = trace().Calls("LoadImage");
    ASSERT_EQ(5u, calls.size());
    EXPECT_EQ(999, calls[0].Num("name"));
    EXPECT_EQ(IMAGE_ICON, calls[0].Num("type"));
    EXPECT_EQ(16, calls[0].Num("cx"));
    EXPECT_EQ(0, calls[0].Num("result"));
    EXPECT_TRUE(calls[3].Has("injected"));
    EXPECT_EQ(static_cast<std::int64_t>(reinterpret_cast<ULONG_PTR>(icon)), calls[4].Num("result"));
}

// A 16 x 16 icon with a 4-bit palette: colour index (x + 3y) % 5, and the right half of the top
// two rows transparent.
std::vector<std::uint8_t> PaletteIcon() {
    auto u16 = [](std::vector<std::uint8_t>& v, unsigned x) {
        v.push_back(x & 255);
        v.push_back(x >> 8 & 255);
    };
    auto u32 = [&](std::vector<std::uint8_t>& v, unsigned x) {
        u16(v, x & 0xFFFF);
        u16(v, x >> 16);
    };
    std::vector<std::uint8_t> image;
    u32(image, 40), u32(image, 16), u32(image, 32), u16(image, 1), u16(image, 4);
    for (int i = 0; i < 6; ++i)
        u32(image, 0);
    const std::uint8_t palette[5][4] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}, {0, 255, 0, 0}, {9, 9, 9, 0}};
    for (int i = 0; i < 16; ++i)
        for (int k = 0; k < 4; ++k)
            image.push_back(i < 5 ? palette[i][k] : 0);
    for (int y = 15; y >= 0; --y)
        for (int x = 0; x < 16; x += 2)
            image.push_back(static_cast<std::uint8_t>((x + 3 * y) % 5 << 4 | (x + 1 + 3 * y) % 5));
    for (int y = 15; y >= 0; --y) {
        std::uint8_t right = y < 2 ? 0xFF : 0x00;
        image.insert(image.end(), {0x00, right, 0x00, 0x00});
    }
    std::vector<std::uint8_t> file;
    u16(file, 0), u16(file, 1), u16(file, 1);
    file.insert(file.end(), {16, 16, 16, 0});
    u16(file, 1), u16(file, 4), u32(file, static_cast<unsigned>(image.size())), u32(file, 22);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

TEST_F(ShellTest, PalettedIconsAreDecodedAndBrokenOnesFail) {
    std::vector<std::uint8_t> bytes = PaletteIcon();
    std::string good = folder() + "/palette.ico", cut = folder() + "/cut.ico";
    std::ofstream(good, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size() / 2);
    resources.icon_files[200] = good;
    resources.icon_files[201] = cut;
    resources.icon_files[202] = folder() + "/absent.ico";

    HICON icon = Load(200);
    ASSERT_NE(nullptr, icon);
    const host::IconImage* img = shell().IconPixels(icon);
    const std::uint32_t colours[5] = {0xFF000000, 0xFFFF0000, 0xFF0000FF, 0xFF00FF00, 0xFF090909};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            std::uint32_t px = img->At(x, y);
            if (y < 2 && x >= 8)
                EXPECT_EQ(0u, px >> 24) << x << "," << y;
            else
                EXPECT_EQ(colours[(x + 3 * y) % 5], px) << x << "," << y;
        }
    }

    EXPECT_EQ(nullptr, Load(201));
    EXPECT_EQ(13u, GetLastError());  // ERROR_INVALID_DATA
    EXPECT_EQ(nullptr, Load(202));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND), GetLastError());
}

}  // namespace
