#include "frame/frame_test.h"

#include <gtest/gtest.h>

namespace pelorn_test {

host::BootOptions FrameTest::Options() {
    host::BootOptions o;
    o.program = "Pelorn";
    o.resources = &PelornResources();
    o.resident = true;
    return o;
}

void FrameTest::SetUp() {
    DeviceTest::SetUp();
    CMainFrame::ResetProcessState();
    theApp.SetCurrentHandles();
    // A receiver left powered (pin 38 raised, the hardware leaving it alone): the first run's
    // firmware read hears its banner, and the first tick finds the receiver on.
    gpio().Write(0x1C, 1u << (38 - 32));
}

void FrameTest::TearDown() {
    device().SetUser(nullptr);
    DeviceTest::TearDown();
    theApp.m_pMainWnd = nullptr;
}

void FrameTest::Start() {
    ASSERT_TRUE(theApp.InitInstance());
    window_ = theApp.m_pMainWnd->GetSafeHwnd();
    menu_ = nullptr;
    for (const auto& e : trace().entries())
        if (e.call == "CreatePopupMenu") menu_ = reinterpret_cast<HMENU>(static_cast<ULONG_PTR>(e.Num("result")));
}

void FrameTest::Close() {
    SendMessage(window_, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindow(window_));
    theApp.m_pMainWnd = nullptr;
}

void FrameTest::Restart() {
    Reboot();
    CMainFrame::ResetProcessState();
    theApp.SetCurrentHandles();
    Start();
}

std::vector<std::string> FrameTest::Boxes() {
    std::vector<std::string> out;
    for (const auto& e : device().trace().entries())
        if (e.call == "MessageBox") out.push_back(e.Str("lpText"));
    return out;
}

UINT FrameTest::TrayIcon() {
    const host::TrayIcon* icon = device().shell().FindTrayIcon(window_, TRAY_ICON_UID);
    return icon && icon->icon_resource ? *icon->icon_resource : 0;
}

std::vector<UINT> FrameTest::CheckedItems() {
    std::vector<UINT> out;
    if (const auto* items = device().shell().MenuItems(Menu()))
        for (const auto& item : *items)
            if (item.checked) out.push_back(item.id);
    return out;
}

std::vector<std::string> FrameTest::PinWrites() {
    std::vector<std::string> out;
    for (const auto& e : device().trace().entries())
        if (e.call == "GpioWrite") out.push_back(e.Str("offset") + "@" + std::to_string(e.t));
    return out;
}

std::optional<DWORD> FrameTest::Dword(HKEY root, LPCTSTR path, LPCTSTR name) {
    host::QuietCalls quiet(device());
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, 0, 0, &key) != ERROR_SUCCESS) return std::nullopt;
    DWORD value = 0, size = sizeof value, type = 0;
    LONG status = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD) return std::nullopt;
    return value;
}

void FrameTest::SetDword(HKEY root, LPCTSTR path, LPCTSTR name, DWORD value) {
    host::QuietCalls quiet(device());
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyEx(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueEx(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value));
    RegCloseKey(key);
}

std::optional<std::u16string> FrameTest::Text(HKEY root, LPCTSTR path, LPCTSTR name) {
    host::QuietCalls quiet(device());
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, 0, 0, &key) != ERROR_SUCCESS) return std::nullopt;
    WCHAR text[300] = {};
    DWORD size = sizeof text - sizeof(WCHAR), type = 0;
    LONG status = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    return std::u16string(text);
}

bool FrameTest::Exists(HKEY root, LPCTSTR path, LPCTSTR name) {
    host::QuietCalls quiet(device());
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, 0, 0, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG status = RegQueryValueEx(key, name, nullptr, nullptr, nullptr, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void FrameTest::DeleteValue(HKEY root, LPCTSTR path, LPCTSTR name) {
    host::QuietCalls quiet(device());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyEx(root, path, 0, 0, &key));
    RegDeleteValue(key, name);
    RegCloseKey(key);
}

std::vector<std::string> FrameTest::ValuesWritten() {
    std::vector<std::string> out;
    for (const auto& e : device().trace().entries())
        if (e.call == "RegSetValueEx") out.push_back(e.Str("lpValueName"));
    return out;
}

}  // namespace pelorn_test
