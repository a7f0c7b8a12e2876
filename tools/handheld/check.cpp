// `handheld check`: reads the whole registry file of the device and says whether it is sound.
#include <iostream>

#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/registry_store.h"

namespace handheld {

int CheckMain(int argc, char** argv) {
    const char usage[] = "usage: handheld check [--help]\n";
    if (AsksForHelp(argc, argv)) {
        std::cout << usage
                  << "Reads every page of the registry of the device in PELORN_DEVICE and prints \"ok\", or\n"
                     "what is damaged, a line each (exit status 1). Opening a device checks only the file's\n"
                     "header, size and root keys, and every page after a writer was killed mid-change.\n";
        return 0;
    }
    if (argc > 1) {
        std::cerr << "handheld check: takes no arguments\n" << usage;
        return 2;
    }
    try {
        OnDevice on;
        host::RegistryStore& registry = on.device().registry();
        std::string damage = registry.CheckWhole();
        if (damage.empty()) {
            std::cout << "ok\n";
            return 0;
        }
        std::cout << "the registry " << registry.file() << " is damaged:\n" << damage;
        return 1;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld check: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
