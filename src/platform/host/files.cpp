// CreateFile, ReadFile, WriteFile, DeviceIoControl and CloseHandle over the device namespace.
#include <algorithm>
#include <cstring>

#include "platform/host/handheld.h"
#include "platform/host/objects.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

namespace host {

BOOL FileDevice::Read(void*, DWORD, DWORD*) {
    SetLastError(kInvalidFunction);
    return FALSE;
}

BOOL FileDevice::Write(const void*, DWORD, DWORD*) {
    SetLastError(kInvalidFunction);
    return FALSE;
}

BOOL FileDevice::IoControl(DWORD, void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(kInvalidFunction);
    return FALSE;
}

namespace {

bool StartsWithNoCase(const std::u16string& s, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size()) return false;
        char16_t c = s[i];
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
        if (c != static_cast<char16_t>(prefix[i])) return false;
    }
    return true;
}

// "COM1:" and "BKL1:" style names: three letters, a digit, a colon.
bool IsDeviceName(const std::u16string& s, const char* prefix) {
    return s.size() == 5 && StartsWithNoCase(s, prefix) && s[3] >= u'0' && s[3] <= u'9' && s[4] == u':';
}

}  // namespace
}  // namespace host

using host::Handheld;

namespace {
host::HandleTable& Handles() { return Handheld::Current().handles(); }

// The file or device `h` names; none, with ERROR_INVALID_HANDLE, when it names no such thing.
auto DeviceOf(HANDLE h) {
    auto device = Handles().GetAs<host::FileDevice>(h);
    if (!device) SetLastError(ERROR_INVALID_HANDLE);
    return device;
}

// A read or a write: the count moved is 0 until the device has moved something.
template <class Call, class Move>
BOOL Transfer(Call& c, HANDLE h, LPDWORD moved, Move move) {
    if (moved) *moved = 0;
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto device = DeviceOf(h);
    if (!device) return c.Result(FALSE);
    DWORD n = 0;
    BOOL ok = move(*device, &n);
    if (moved) *moved = n;
    return c.Result(ok);
}
}  // namespace

HANDLE CreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                  HANDLE templ) {
    tracing::CreateFileCall c(name, access, share, sa, disposition, flags, templ);
    if (DWORD e; c.Injected(&e)) return c.Result(INVALID_HANDLE_VALUE);
    std::u16string device = name ? name : u"";
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::shared_ptr<host::FileDevice> opened;
    if (disposition != OPEN_EXISTING) {
        error = ERROR_ACCESS_DENIED;  // the handheld's devices are opened, never created
    } else if (host::IsDeviceName(device, "COM")) {
        opened = host::OpenSerialDevice(device, access, &error);
    } else if (host::IsDeviceName(device, "BKL")) {
        opened = host::OpenBacklightDevice(device, access, &error);
    }
    if (!opened) {
        SetLastError(error);
        return c.Result(INVALID_HANDLE_VALUE);
    }
    return c.Result(Handles().Add(std::move(opened)));
}

BOOL CloseHandle(HANDLE h) {
    tracing::CloseHandleCall c(h);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto object = Handles().Get(h);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return c.Result(FALSE);
    }
    Handles().Remove(h);
    if (auto device = std::dynamic_pointer_cast<host::FileDevice>(object); device && device.use_count() == 1)
        return c.Result(device->Close());
    return c.Result(TRUE);
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    tracing::ReadFileCall c(h, size, overlapped);
    return Transfer(c, h, read, [&](host::FileDevice& device, DWORD* n) {
        BOOL ok = device.Read(buffer, size, n);
        c.Read(buffer, *n);
        return ok;
    });
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    tracing::WriteFileCall c(h, buffer, size, overlapped);
    return Transfer(c, h, written, [&](host::FileDevice& device, DWORD* n) { return device.Write(buffer, size, n); });
}

BOOL DeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned,
                     LPOVERLAPPED overlapped) {
    tracing::DeviceIoControlCall c(h, code, in, in_size, out, out_size, returned, overlapped);
    if (DWORD e; c.Injected(&e)) return c.Result(FALSE);
    auto device = DeviceOf(h);
    if (!device) return c.Result(FALSE);
    DWORD n = 0;
    BOOL ok = device->IoControl(code, in, in_size, out, out_size, &n);
    if (returned) *returned = n;
    return c.Result(ok);
}
