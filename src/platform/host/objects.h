// What a handle names on the virtual handheld: opened devices (serial ports, the backlight
// driver) and named events in one table, open registry keys in another. Both belong to the
// device switched on in the process; handles are never 0 or INVALID_HANDLE_VALUE.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/host/registry_store.h"
#include "platform/host/seam.h"

namespace host {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// An open device. Each operation a device does not support fails with ERROR_INVALID_FUNCTION.
class FileDevice : public KernelObject {
public:
    static constexpr DWORD kInvalidFunction = 1;  // ERROR_INVALID_FUNCTION

    virtual BOOL Read(void* buffer, DWORD size, DWORD* read);
    virtual BOOL Write(const void* buffer, DWORD size, DWORD* written);
    virtual BOOL IoControl(DWORD code, void* in, DWORD in_size, void* out, DWORD out_size, DWORD* returned);
    // Called once when the last handle goes.
    virtual BOOL Close() { return TRUE; }
};

class HandleTable {
public:
    HANDLE Add(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> Get(HANDLE h) const;
    template <class T>
    std::shared_ptr<T> GetAs(HANDLE h) const {
        return std::dynamic_pointer_cast<T>(Get(h));
    }
    // False when the handle names nothing.
    bool Remove(HANDLE h);
    std::size_t size() const { return objects_.size(); }

private:
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> objects_;
    std::uintptr_t next_ = 0x100;
};

// The open registry keys. Their handle values come from one counter for the whole process that
// never goes back, so a closed key, or one from a device switched off since, never becomes valid
// again; the predefined roots' values are never handed out.
class KeyTable {
public:
    HKEY Add(RegKeyId key);
    // False when the handle names no open key.
    bool Find(HKEY h, RegKeyId* key) const;
    bool Remove(HKEY h);

private:
    mutable std::mutex mu_;
    std::unordered_map<std::uintptr_t, RegKeyId> keys_;
};

// Device namespace: "COMn:" and "BKL1:" are opened by their own modules. Each returns the opened
// device, or null with *error set (ERROR_FILE_NOT_FOUND when there is no such device).
std::shared_ptr<FileDevice> OpenSerialDevice(const std::u16string& name, DWORD access, DWORD* error);
std::shared_ptr<FileDevice> OpenBacklightDevice(const std::u16string& name, DWORD access, DWORD* error);

}  // namespace host
