// Shared by the framework tests: a device running the program "Tracker" with a small resource
// module, a user who answers whatever is open, the one test application, and a probe frame whose
// handlers write what they got into a journal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "platform/host/trace.h"
#include "platform/host/windows.h"
#include "support/device_test.h"

namespace fwtest {

constexpr UINT IDR_TEST_FRAME = 128;
constexpr UINT IDD_TEST = 100;
constexpr UINT IDS_GREETING = 200;
constexpr UINT IDS_LONG = 201;
constexpr UINT ID_TEST_COMMAND = 65008;
constexpr UINT WM_PING = WM_USER + 1;

using Journal = std::vector<std::string>;

class CTestApp : public CWinApp {
public:
    std::function<BOOL()> init;  // what InitInstance does in this test
    std::vector<UINT> commands;  // what the application's command table ran
    int exits = 0;

    BOOL InitInstance() override { return init ? init() : TRUE; }
    int ExitInstance() override {
        ++exits;
        return CWinApp::ExitInstance();
    }

private:
    void OnAppAbout() { commands.push_back(ID_APP_ABOUT); }
    DECLARE_MESSAGE_MAP()
};

CTestApp& App();

// Presses OK on the innermost box or dialog, or runs the test's own step once instead.
class TestUser : public host::User {
public:
    std::vector<host::Modal> seen;  // what was open each time the user looked
    std::function<void(const host::Modal&)> instead;
    bool Act() override;
};

class CProbeFrame : public CFrameWnd {
    DECLARE_DYNAMIC(CProbeFrame)
public:
    explicit CProbeFrame(Journal* journal, int createResult = 0) : m_journal(journal), m_createResult(createResult) {}
    ~CProbeFrame() override { Note("deleted"); }
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;

    bool useGeneratedClass = false;
    bool refuseCreation = false;
    CWnd* lastOther = nullptr;  // as OnActivate got it

protected:
    void Note(const std::string& s) { m_journal->push_back(s); }
    int OnCreate(LPCREATESTRUCT lpCreateStruct);
    void OnDestroy();
    void OnActivate(UINT nState, CWnd* pWndOther, BOOL bMinimized);
    void OnTimer(UINT_PTR nIDEvent) { Note("timer " + std::to_string(nIDEvent)); }

private:
    void OnTestCommand() { Note("command"); }
    LRESULT OnPing(WPARAM wParam, LPARAM lParam);

    Journal* m_journal;
    int m_createResult;
    DECLARE_MESSAGE_MAP()
};

class FrameworkTest : public pelorn_test::DeviceTest {
protected:
    host::BootOptions Options() override;
    void SetUp() override;
    void TearDown() override;

    host::WindowManager& windows() { return device().windows(); }
    // A probe frame, loaded from IDR_TEST_FRAME as the application's main window.
    CProbeFrame* LoadMainFrame();

    Journal journal;
    TestUser user;
};

std::int64_t Num(const void* handle);
std::string Utf8(LPCTSTR s);

}  // namespace fwtest
