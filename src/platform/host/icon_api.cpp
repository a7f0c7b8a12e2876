// Icons loaded from the module's resources.
#include <fstream>
#include <iterator>
#include <type_traits>
#include <utility>

#include "platform/host/icons.h"
#include "platform/host/resources.h"
#include "platform/host/shell_impl.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

using host::ShellImpl;

namespace host {
namespace {

// Where the module's icons are depends on how the resources were built: the contents of the
// .ico files compiled in (`icons`), or their paths, read on every load (`icon_files`).
template <class T, class = void>
struct HasIconData : std::false_type {};
template <class T>
struct HasIconData<T, std::void_t<decltype(std::declval<const T&>().icons)>> : std::true_type {};
template <class T, class = void>
struct HasIconFiles : std::false_type {};
template <class T>
struct HasIconFiles<T, std::void_t<decltype(std::declval<const T&>().icon_files)>> : std::true_type {};

enum class Found { kNo, kYes, kUnreadable };

template <class Table>
Found IconFileOf(const Table& table, UINT id, std::vector<std::uint8_t>* bytes) {
    if constexpr (HasIconData<Table>::value) {
        auto it = table.icons.find(id);
        if (it != table.icons.end()) {
            bytes->assign(std::begin(it->second), std::end(it->second));
            return Found::kYes;
        }
    }
    if constexpr (HasIconFiles<Table>::value) {
        auto it = table.icon_files.find(id);
        if (it != table.icon_files.end()) {
            std::ifstream in(it->second, std::ios::binary);
            if (!in) return Found::kUnreadable;
            bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return Found::kYes;
        }
    }
    return Found::kNo;
}

}  // namespace
}  // namespace host

HANDLE LoadImage(HINSTANCE hInst, LPCWSTR name, UINT type, int cx, int cy, UINT fuLoad) {
    tracing::LoadImageCall c(hInst, name, type, cx, cy, fuLoad);
    if (DWORD e; c.Injected(&e)) return c.Result<HANDLE>(nullptr);
    auto fail = [&](DWORD error) {
        SetLastError(error);
        return c.Result<HANDLE>(nullptr);
    };
    if (type != IMAGE_ICON) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
    if (cx < 0 || cy < 0) return fail(ERROR_INVALID_PARAMETER);
    // Without a module the platform looks among its own OEM images, which hold none of ours.
    if (!hInst) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (hInst != ::GetModuleHandle(nullptr)) return fail(ERROR_INVALID_HANDLE);

    UINT id = 0;
    if (IS_INTRESOURCE(name)) {
        id = static_cast<UINT>(reinterpret_cast<ULONG_PTR>(name));
    } else if (name && name[0] == u'#') {
        for (const WCHAR* p = name + 1; *p >= u'0' && *p <= u'9' && id < 0x10000; ++p)
            id = id * 10 + static_cast<UINT>(*p - u'0');
    }
    auto& s = ShellImpl();
    const host::ResourceTable* table = s.dev.resources();
    std::vector<std::uint8_t> file;
    host::Found found = table && id ? host::IconFileOf(*table, id, &file) : host::Found::kNo;
    if (found == host::Found::kNo) return fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    if (found == host::Found::kUnreadable) return fail(ERROR_RESOURCE_DATA_NOT_FOUND);

    host::IconImage image;
    try {
        image = host::DecodeIco(file.data(), file.size(), cx, cy);
    } catch (const std::runtime_error& e) {
        c.Problem(e.what());
        return fail(host::kErrorInvalidData);
    }
    std::uint32_t handle = s.next_icon;
    s.next_icon += 4;
    s.icons[handle] = host::Shell::Impl::Icon{id, std::move(image)};
    return c.Result<HANDLE>(host::As<HANDLE>(handle));
}
