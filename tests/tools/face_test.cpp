// pelorn's face without a terminal: the system runs on the virtual clock, the face's frame is
// rendered from what the device shows, and clicks on the frame's cells act as the person would.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "app/switch_app.h"
#include "frame/main_frame.h"
#include "pelorn/console.h"
#include "pelorn/face.h"
#include "platform/host/gpio.h"
#include "platform/host/power.h"
#include "platform/host/serial.h"
#include "platform/host/shell.h"
#include "res/host_resources.h"
#include "res/resource.h"
#include "support/device_test.h"

namespace {

using pelorn::Frame;
using pelorn::Hit;

// Whoever sits at the device: at each modal moment, `at_modal` looks and answers.
class Person final : public host::User {
public:
    std::function<void()> at_modal;
    bool Act() override {
        if (!host::Handheld::Current().windows().TopModal() || !at_modal) return false;
        auto f = std::move(at_modal);
        at_modal = nullptr;
        f();
        return true;
    }
};

class FaceTest : public pelorn_test::DeviceTest {
protected:
    host::BootOptions Options() override {
        host::BootOptions o;
        o.program = "Pelorn";
        o.resources = &PelornResources();
        return o;
    }
    void SetUp() override {
        DeviceTest::SetUp();
        CMainFrame::ResetProcessState();
        theApp.SetCurrentHandles();
        device().SetUser(&person_);
        // A new device's receiver is off: the first run's firmware read hears nothing and says so.
        person_.at_modal = [this] { device().windows().AcknowledgeTopModal(); };
        ASSERT_TRUE(theApp.InitInstance());
        window_ = theApp.m_pMainWnd->GetSafeHwnd();
    }
    void TearDown() override {
        if (IsWindow(window_)) SendMessage(window_, WM_CLOSE, 0, 0);
        theApp.m_pMainWnd = nullptr;
        device().SetUser(nullptr);
        DeviceTest::TearDown();
    }

    Frame Now(int cols = 100, int rows = 40) {
        return pelorn::Render(pelorn::FaceState(tools::Look(device())), cols, rows);
    }

    // The first cell whose hit is of `kind` (and `id`, when given).
    static std::pair<int, int> Find(const Frame& f, Hit::Kind kind, UINT id = 0) {
        for (int r = 0; r < f.rows(); ++r)
            for (int c = 0; c < f.cols(); ++c)
                if (f.HitAt(c, r).kind == kind && (id == 0 || f.HitAt(c, r).id == id)) return {c, r};
        return {-1, -1};
    }
    // The icon's top-left cell on the screen (the panel shows it magnified too).
    static std::pair<int, int> TrayCell(const Frame& f) {
        for (int r = f.screen_row; r < f.screen_row + f.screen_rows; ++r)
            for (int c = f.screen_col; c < f.screen_col + f.screen_cols; ++c)
                if (f.HitAt(c, r).kind == Hit::Kind::kTray) return {c, r};
        return {-1, -1};
    }
    static int RowOf(const Frame& f, const std::string& text) {
        for (int r = 0; r < f.rows(); ++r)
            if (f.Line(r).find(text) != std::string::npos) return r;
        return -1;
    }

    Person person_;
    HWND window_ = nullptr;
};

TEST_F(FaceTest, TrayIconIsDrawnFromItsPictureAndFlashes) {
    device().gpio().DrivePin38(true);
    Frame first = Now();
    auto [col, row] = TrayCell(first);
    ASSERT_GE(col, 0) << first.Text();
    // The panel shows the picture pixel for pixel, beside the screen, where nothing dims it.
    ASSERT_GT(Find(first, Hit::Kind::kTray).first, first.screen_col + first.screen_cols);

    // The corner square of the picture the tray shows now, as half blocks in true colour: the
    // flash of 130 and 131, then the red of 132.
    std::map<UINT, pelorn::Rgb> panel;
    std::map<UINT, pelorn::Rgb> screen;
    auto look = [&] {
        const host::TrayIcon& icon = device().shell().TrayIcons().front();
        Frame f = Now();
        auto [panel_col, panel_row] = Find(f, Hit::Kind::kTray);  // below the events set so far
        const pelorn::Cell& magnified = f.At(panel_col, panel_row);
        const pelorn::Cell& small = f.At(col, row);
        EXPECT_TRUE(magnified.picture && small.picture);
        EXPECT_EQ(U'▀', small.ch);
        panel[*icon.icon_resource] = magnified.fg;
        // The icon's first pixel row may fall in the lower half of the cell, under the taskbar's grey.
        screen[*icon.icon_resource] = small.fg.r == small.fg.g && small.fg.g == small.fg.b ? small.bg : small.fg;
    };
    for (int i = 0; i < 40; ++i, device().windows().RunFor(100))
        look();
    device().gpio().DrivePin38(false);
    for (int i = 0; i < 20; ++i, device().windows().RunFor(100))
        look();
    ASSERT_EQ(3u, panel.size());
    EXPECT_EQ((pelorn::Rgb{0, 110, 0}), panel[IDI_GPS_ON_A]);
    EXPECT_EQ((pelorn::Rgb{120, 240, 120}), panel[IDI_GPS_ON_B]);
    EXPECT_EQ((pelorn::Rgb{220, 0, 0}), panel[IDI_GPS_OFF]);
    // On the screen, dimmed with the backlight, the same colours.
    EXPECT_GT(screen[IDI_GPS_ON_A].g, 2 * screen[IDI_GPS_ON_A].r);
    EXPECT_GT(screen[IDI_GPS_ON_B].g, screen[IDI_GPS_ON_A].g);
    EXPECT_GT(screen[IDI_GPS_OFF].r, 2 * screen[IDI_GPS_OFF].g);
    EXPECT_NE(std::string::npos, Now().Text().find("holds it low"));
}

TEST_F(FaceTest, ScreenDimsWithTheBacklight) {
    device().windows().RunFor(1600);
    auto desktop = [&] {
        Frame f = Now();
        return f.At(f.screen_col + 2, f.screen_row + 2).bg;
    };
    pelorn::Rgb bright = desktop();
    // The system sets the profile's level on every tick; the driver takes what it is sent.
    device().power().BacklightLevelSet(2);
    pelorn::Rgb dim = desktop();
    EXPECT_LT(dim.b, bright.b);
    EXPECT_LT(dim.g, bright.g);
}

TEST_F(FaceTest, TapOpensTheMenuAtTheTapAndChoosingMovesTheCheckMark) {
    device().gpio().DrivePin38(false);
    device().windows().RunFor(1600);
    device().gpio().DrivePin38(std::nullopt);
    Frame before = Now();
    EXPECT_NE(std::string::npos, before.Line(RowOf(before, "pin 21")).find("low"));
    auto [col, row] = TrayCell(before);
    ASSERT_GE(col, 0);

    Frame menu(0, 0);
    person_.at_modal = [&] {
        menu = Now();
        auto [c, r] = Find(menu, Hit::Kind::kMenuItem, ID_GPS_ON);
        ASSERT_GE(c, 0) << menu.Text();
        EXPECT_TRUE(pelorn::Perform(device(), menu.HitAt(c, r)));
    };
    EXPECT_TRUE(pelorn::Perform(device(), before.HitAt(col, row)));
    device().windows().RunFor(100);

    ASSERT_GT(menu.rows(), 0) << "the menu never opened";
    int on = RowOf(menu, "GPS On"), off = RowOf(menu, "✓ GPS OFF");
    ASSERT_GE(on, 0) << menu.Text();
    EXPECT_LT(on, off);
    // Its bottom-right corner is at the tap's column and the screen's last row.
    const int bottom = menu.screen_row + menu.screen_rows - 1;
    EXPECT_EQ(ID_GPS_OFF, menu.HitAt(col, off).id);
    EXPECT_EQ(Hit::Kind::kBesideMenu, menu.HitAt(col + 1, off).kind);
    EXPECT_EQ(Hit::Kind::kNone, menu.HitAt(col, bottom).kind);
    EXPECT_EQ(Hit::Kind::kBesideMenu, menu.HitAt(col + 1, bottom).kind);
    EXPECT_EQ(Hit::Kind::kBesideMenu, menu.HitAt(col, bottom + 1 - menu.screen_rows).kind);

    Frame after = Now();
    EXPECT_NE(std::string::npos, after.Line(RowOf(after, "pin 21")).find("high"));
    EXPECT_NE(std::string::npos, after.Line(RowOf(after, "pin 38")).find("high"));
    person_.at_modal = [&] {
        EXPECT_GE(RowOf(Now(), "✓ GPS On"), 0);
        device().shell().DismissMenu();
    };
    device().shell().TapTray(TRAY_ICON_UID);
    device().windows().RunFor(100);
}

TEST_F(FaceTest, MessageBoxIsCentredInUtf8AndItsOkAnswersIt) {
    device().serial().Map(1, "/nonexistent/pelorn-face-test");
    Frame box(0, 0);
    person_.at_modal = [&] {
        box = Now();
        auto [c, r] = Find(box, Hit::Kind::kOk);
        ASSERT_GE(c, 0);
        EXPECT_EQ("[ OK ]", box.Line(r).substr(box.Line(r).find('['), 6));
        EXPECT_TRUE(pelorn::Perform(device(), box.HitAt(c, r)));
        EXPECT_EQ(nullptr, device().windows().TopModal());
    };
    SendMessage(window_, WM_RESET_GPS, 0, 0);
    ASSERT_GT(box.rows(), 0) << "no box";
    int row = RowOf(box, "Fehler beim Öffnen des COM Ports");
    ASSERT_GE(row, 0) << box.Text();
    std::string line = box.Line(row);
    // Centred: as much screen left of the box's text as right of it, within a cell or two.
    std::size_t start = line.find("Fehler") - line.find("│") - 3;
    EXPECT_LE(start, 10u);
    EXPECT_GE(start, 2u);
}

TEST_F(FaceTest, AboutDialogShowsItsIconAndLines) {
    bool seen = false;
    person_.at_modal = [&] {
        Frame f = Now();
        seen = true;
        EXPECT_GE(RowOf(f, "About Pelorn"), 0) << f.Text();
        EXPECT_GE(RowOf(f, "Pelorn Version 1.0"), 0);
        EXPECT_GE(RowOf(f, "GPS power switch"), 0);
        int pictures = 0;
        for (int r = f.screen_row; r < f.screen_row + f.screen_rows - 4; ++r)
            for (int c = f.screen_col; c < f.screen_col + f.screen_cols; ++c)
                pictures += f.At(c, r).picture;
        EXPECT_GT(pictures, 2) << "the dialog's icon";
        auto [c, r] = Find(f, Hit::Kind::kOk);
        ASSERT_GE(c, 0);
        EXPECT_TRUE(pelorn::Perform(device(), f.HitAt(c, r)));
    };
    SendMessage(window_, WM_COMMAND, ID_APP_ABOUT, 0);
    EXPECT_TRUE(seen);
    EXPECT_EQ(nullptr, device().windows().TopModal());
}

// Bytes that start no whole character show as a '?' each, and what follows them as it is.
TEST(FaceTextTest, BytesThatStartNoCharacterShowAsQuestionMarks) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\xC3"
         "b",
         "a?b"},  // a lead byte without its continuation
        {"\xE2\x82"
         "c",
         "??c"},
        {"\xE0\x80\xAF", "???"},  // an overlong '/'
        {"\xED\xA0\x80", "???"},  // a surrogate
        {"\xC3\xA9\xE2\x9C\x93", "\xC3\xA9\xE2\x9C\x93"},
    };
    for (const auto& [bytes, shown] : cases) {
        Frame f(8, 1);
        f.Put(0, 0, bytes, {}, {});
        EXPECT_EQ(shown, f.Line(0)) << bytes;
    }
}

TEST_F(FaceTest, TooSmallATerminalSaysSo) {
    Frame f = Now(60, 20);
    EXPECT_TRUE(f.too_small);
    EXPECT_NE(std::string::npos, f.Text().find("too small")) << f.Text();
    EXPECT_NE(std::string::npos, f.Text().find("has 60 x 20")) << f.Text();
    EXPECT_FALSE(Now(pelorn::kMinCols, pelorn::kMinRows).too_small);
}

TEST_F(FaceTest, TheHeadlessLogTellsOfABlinkingIconOnceOrFrameByFrame) {
    for (bool verbose : {false, true}) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&text, &size);
        {
            pelorn::Console console(device(), out, verbose);
            device().SetUser(&console);
            SendMessage(window_, WM_COMMAND, ID_GPS_ON, 0);
            device().windows().RunFor(8 * 1500);
            device().SetUser(&person_);
        }
        std::fclose(out);
        std::string log(text, size);
        std::free(text);
        auto count = [&](const std::string& part) {
            int n = 0;
            for (std::size_t at = log.find(part); at != std::string::npos; at = log.find(part, at + 1))
                ++n;
            return n;
        };
        SCOPED_TRACE(log);
        if (!verbose) {
            EXPECT_EQ(1, count("tray: blinking, icons 131 and 130 in turn"));
            EXPECT_LE(count("tray: icon 13"), 2) << "the receiver went on; the frames after are not told";
        } else {
            EXPECT_EQ(0, count("tray: blinking"));
            EXPECT_GE(count("tray: icon 13"), 6) << "every frame";
        }
    }
}

}  // namespace
