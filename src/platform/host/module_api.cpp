// The program's module and its string resources.
#include <algorithm>

#include "platform/host/handheld.h"
#include "platform/host/resources.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::Handheld;

HMODULE GetModuleHandle(LPCWSTR name) {
    if (name) return nullptr;
    return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x00010000));
}

DWORD GetModuleFileName(HMODULE, LPWSTR buf, DWORD size) {
    if (!buf || size == 0) return 0;
    std::string program = Handheld::Current().program();
    std::u16string path = u"\\Windows\\" + std::u16string(program.begin(), program.end()) + u".exe";
    DWORD n = std::min<DWORD>(static_cast<DWORD>(path.size()), size - 1);
    std::copy_n(path.begin(), n, buf);
    buf[n] = 0;
    if (n < path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return n;
}

int LoadString(HINSTANCE, UINT id, LPWSTR buf, int max) {
    tracing::LoadStringCall c(id, max);
    if (DWORD e; c.Injected(&e)) return c.Result(0);
    const host::ResourceTable* res = Handheld::Current().resources();
    const std::u16string* text = nullptr;
    if (res) {
        auto it = res->strings.find(id);
        if (it != res->strings.end()) text = &it->second;
    }
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        if (buf && max > 0) buf[0] = 0;
        return c.Result(0);
    }
    if (!buf || max <= 0) return c.Result(0);
    int n = std::min<int>(static_cast<int>(text->size()), max - 1);
    std::copy_n(text->begin(), n, buf);
    buf[n] = 0;
    return c.Result(n);
}
