// The window manager's own interface: running the loop, modal things, and messages from other
// processes.
#include <algorithm>

#include "platform/host/endpoint.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"
#include "platform/host/window_manager_impl.h"

namespace host {
namespace {

constexpr std::uint32_t kFirstWindowCounter = 1;

}  // namespace

std::u16string Lower(std::u16string s) {
    for (auto& c : s)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
}

std::u16string ResourceName(LPCWSTR name) {
    if (!name) return {};
    if (IS_INTRESOURCE(name)) {
        std::string id = "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
        return std::u16string(id.begin(), id.end());
    }
    return name;
}

WindowManager::Impl& WM() { return Handheld::Current().windows().impl(); }

HWND WindowManager::Impl::NewHandle() {
    try {
        std::uint32_t n = dev.registry().NextCounter("window", kFirstWindowCounter);
        return Handle(0x00010000u + n * 4u);
    } catch (const DeviceError&) {
        return nullptr;
    }
}

LRESULT WindowManager::Impl::Deliver(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = Get(h);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    WNDPROC proc = w->proc;
    SystemCalls system(dev);
    return proc(h, msg, wp, lp);
}

void WindowManager::Impl::Activate(HWND h) {
    if (active == h) return;
    HWND previous = active;
    active = h;
    if (previous && Get(previous)) Deliver(previous, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(h));
    if (h && Get(h) && active == h) Deliver(h, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(previous));
}

int WindowManager::Impl::OpenModal(Modal m) {
    m.id = ++next_modal;
    self.modals_.push_back(std::move(m));
    return self.modals_.back().id;
}

void WindowManager::Impl::CloseModal(int modal_id) {
    auto& v = self.modals_;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const Modal& x) { return x.id == modal_id; }), v.end());
}

void WindowManager::Impl::CloseModalsOwnedBy(HWND h) {
    auto& v = self.modals_;
    v.erase(std::remove_if(v.begin(), v.end(),
                           [&](const Modal& m) { return m.kind != Modal::Kind::kDialog && m.window == h; }),
            v.end());
}

bool WindowManager::Impl::IsOpen(int modal_id) const {
    for (const auto& m : self.modals_)
        if (m.id == modal_id) return true;
    return false;
}

WindowManager::WindowManager(Handheld& device) : impl_(std::make_unique<Impl>(*this, device)) {}

WindowManager::~WindowManager() = default;

void WindowManager::DestroyAll() {
    std::vector<std::uint32_t> ids;
    for (const auto& [id, w] : impl_->windows)
        ids.push_back(id);
    for (auto id : ids)
        if (impl_->windows.count(id)) ::DestroyWindow(Impl::Handle(id));
}

bool WindowManager::RunUntil(Millis t) {
    Impl& d = *impl_;
    // Whoever runs the loop gets the device back with the loop's writes committed, as at a wait.
    struct CommitOnReturn {
        Clock& clock;
        ~CommitOnReturn() { clock.BeforeWait(); }
    } commit{d.dev.clock()};
    for (;;) {
        if (quit_taken_) return false;
        MSG m;
        if (d.Take(&m, nullptr, 0, 0, true)) {
            if (m.message == WM_QUIT) {
                quit_taken_ = true;
                exit_code_ = static_cast<int>(m.wParam);
                return false;
            }
            ::TranslateMessage(&m);
            ::DispatchMessage(&m);
            continue;
        }
        if (d.dev.clock().Now() >= t) return true;
        d.Idle(t);
    }
}

bool WindowManager::RunFor(Millis ms) { return RunUntil(impl_->dev.clock().Now() + ms); }

bool WindowManager::AcknowledgeTopModal() {
    if (modals_.empty()) return false;
    Modal& top = modals_.back();
    switch (top.kind) {
        case Modal::Kind::kMessageBox:
        case Modal::Kind::kMenu:
            modals_.pop_back();
            return true;
        case Modal::Kind::kDialog:
            // The caption's OK button: the dialog decides what it means.
            ::SendMessage(top.window, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
            return true;
    }
    return false;
}

std::optional<Millis> WindowManager::NextTimerDue() const {
    Millis next = impl_->NextTimerDue();
    if (next == kNever) return std::nullopt;
    return next;
}

int WindowManager::OpenModal(Modal m) { return impl_->OpenModal(std::move(m)); }

void WindowManager::RunModal(int id) {
    impl_->RunModal([&] { return !impl_->IsOpen(id); });
}

void WindowManager::CloseModal(int id) { impl_->CloseModal(id); }

bool WindowManager::IsModalOpen(int id) const { return impl_->IsOpen(id); }

bool WindowManager::SentFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, SentReply reply) {
    Impl& d = *impl_;
    if (!d.Get(window)) {
        reply(ERROR_INVALID_WINDOW_HANDLE, 0);
        return false;
    }
    if (!d.QueueSent(window, msg, wparam, lparam, reply)) {
        reply(ERROR_BUSY, 0);
        return false;
    }
    return true;
}

bool WindowManager::PostedFromOtherProcess(HWND window, UINT msg, WPARAM wparam, LPARAM lparam, DWORD* error) {
    Impl& d = *impl_;
    if (!d.Get(window)) {
        *error = ERROR_INVALID_WINDOW_HANDLE;
        return false;
    }
    if (!d.Post(window, msg, wparam, lparam)) {
        *error = ERROR_NOT_ENOUGH_QUOTA;
        return false;
    }
    *error = ERROR_SUCCESS;
    return true;
}

const WindowInfo* WindowManager::Find(HWND h) const {
    auto it = impl_->windows.find(Impl::Id(h));
    return h && it != impl_->windows.end() ? &it->second.info : nullptr;
}

std::vector<const WindowInfo*> WindowManager::Windows() const {
    std::vector<const WindowInfo*> out;
    for (const auto& [id, w] : impl_->windows)
        out.push_back(&w.info);
    return out;
}

void WindowManager::AddWakeSource(int fd, std::function<void()> on_ready) {
    impl_->wake.push_back({fd, std::move(on_ready)});
}

void WindowManager::RemoveWakeSource(int fd) {
    auto& w = impl_->wake;
    w.erase(std::remove_if(w.begin(), w.end(), [fd](const Impl::WakeSource& s) { return s.fd == fd; }), w.end());
}

}  // namespace host
