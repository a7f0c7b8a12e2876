#include <atomic>

#include "platform/host/objects.h"

namespace host {
namespace {

bool ReservedKeyValue(std::uintptr_t v) {
    return v == 0 || v == reinterpret_cast<std::uintptr_t>(INVALID_HANDLE_VALUE) ||
           (static_cast<std::uint32_t>(v) & 0xFFFFFF00u) == 0x80000000u;
}

std::atomic<std::uintptr_t> g_next_key{0x1000};

}  // namespace

HANDLE HandleTable::Add(std::shared_ptr<KernelObject> object) {
    next_ += 4;
    objects_[next_] = std::move(object);
    return reinterpret_cast<HANDLE>(next_);
}

std::shared_ptr<KernelObject> HandleTable::Get(HANDLE h) const {
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(h));
    return it == objects_.end() ? nullptr : it->second;
}

bool HandleTable::Remove(HANDLE h) { return objects_.erase(reinterpret_cast<std::uintptr_t>(h)) > 0; }

HKEY KeyTable::Add(RegKeyId key) {
    std::lock_guard<std::mutex> lock(mu_);
    std::uintptr_t v;
    do {
        v = g_next_key.fetch_add(4);
    } while (ReservedKeyValue(v) || keys_.count(v));
    keys_.emplace(v, key);
    return reinterpret_cast<HKEY>(v);
}

bool KeyTable::Find(HKEY h, RegKeyId* key) const {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = keys_.find(reinterpret_cast<std::uintptr_t>(h));
    if (it == keys_.end()) return false;
    *key = it->second;
    return true;
}

bool KeyTable::Remove(HKEY h) {
    std::lock_guard<std::mutex> lock(mu_);
    return keys_.erase(reinterpret_cast<std::uintptr_t>(h)) > 0;
}

}  // namespace host
