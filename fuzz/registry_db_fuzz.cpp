// Fuzzes opening a device's registry file: the input is registry.db in a device folder, which the
// store opens as a booting device does. A file that is no sound handheld registry is refused with
// DeviceError and nothing else; one that is taken is then read and written as the system does.
// When it is sound throughout (as `handheld check` finds it), what is written reads back: opening
// checks less than that, and an index that disagrees with its table goes unseen until then.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/host/device_folder.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"

namespace {

std::string g_top;                             // the temporary folder, removed at exit
std::unique_ptr<host::DeviceFolder> g_folder;  // the device folder inside it, reused

void RemoveAll() {
    g_folder.reset();
    std::string cmd = "rm -rf '" + g_top + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_top.c_str());
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "%s\n", what.c_str());
    std::abort();
}

// Leaves only the input as the device's registry: no journal of an earlier input beside it.
void WriteRegistry(const std::uint8_t* data, std::size_t size) {
    for (const char* name : {"registry.db-journal", "registry.db-wal", "registry.db-shm", "registry.db"})
        unlinkat(g_folder->fd(), name, 0);
    int fd = openat(g_folder->fd(), "registry.db", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) Fail("cannot write the registry file");
    for (std::size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) Fail("cannot write the registry file");
        done += static_cast<std::size_t>(n);
    }
    close(fd);
}

// What the system and the tools do with a registry: walk the roots' first keys and values, read
// the keys every handheld has, write a value and read it back, make and delete a tree at once.
void Use(host::RegistryStore& store) {
    const bool sound = store.CheckWhole().empty();
    for (host::RegKeyId root = 1; root <= 4; ++root) {
        for (DWORD i = 0; i < 8; ++i) {
            std::u16string name;
            std::uint64_t written = 0;
            if (store.EnumKey(root, i, &name, &written) != ERROR_SUCCESS) break;
            host::RegKeyId key = 0;
            if (store.OpenKey(root, name, &key) != ERROR_SUCCESS) continue;
            for (DWORD v = 0; v < 8; ++v) {
                host::RegValue value;
                if (store.EnumValue(key, v, &value) != ERROR_SUCCESS) break;
                host::RegValue again;
                store.GetValue(key, value.name, &again);
            }
        }
    }
    host::RegKeyId key = 0;
    for (const char16_t* path : {u"Software\\MicroSoft\\Shell", u"ControlPanel\\Backlight"}) {
        host::RegValue value;
        if (store.OpenKey(2, path, &key) == ERROR_SUCCESS) store.GetValue(key, u"BatteryTimeout", &value);
    }
    bool created = false;
    if (store.CreateKey(3, u"Software\\Pelorn", &key, &created) == ERROR_SUCCESS) {
        const BYTE dword[4] = {0x01, 0x00, 0x01, 0x00};
        if (store.SetValue(key, u"GPSHDL", REG_DWORD, dword, sizeof dword) == ERROR_SUCCESS) {
            host::RegValue value;
            if (sound && (store.GetValue(key, u"gpshdl", &value) != ERROR_SUCCESS || value.type != REG_DWORD ||
                          value.data != std::vector<BYTE>(dword, dword + 4)))
                Fail("a value written does not read back");
        }
        store.DeleteValue(key, u"GPSHDL");
    }
    std::vector<host::RegChange> changes(3);
    changes[0].base = changes[1].base = changes[2].base = 3;
    changes[0].path = changes[1].path = u"Software\\Fuzz\\Tree";
    changes[1].kind = host::RegChange::Kind::kSetValue;
    changes[1].name = u"Name";
    changes[1].type = REG_BINARY;
    changes[1].data = {1, 2, 3};
    changes[2].kind = host::RegChange::Kind::kDeleteTree;
    changes[2].path = u"Software\\Fuzz";
    std::size_t failed = 0;
    if (store.Apply(changes, &failed) == ERROR_SUCCESS && sound &&
        store.OpenKey(3, u"Software\\Fuzz", &key) == ERROR_SUCCESS)
        Fail("a tree deleted in a batch is still there");
    store.NextCounter("fuzz", 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where there is a tmpfs: the store syncs every write, and the disk need not see it.
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/pelorn-fuzz-XXXXXX");
    if (!mkdtemp(pattern.data())) return 1;
    g_top = pattern;
    g_folder = std::make_unique<host::DeviceFolder>(g_top + "/device");
    std::atexit(RemoveAll);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    WriteRegistry(data, size);
    try {
        host::RegistryStore store(*g_folder);
        Use(store);
    } catch (const host::DeviceError&) {
    }
    return 0;
}
