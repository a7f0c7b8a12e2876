// `handheld firmware`: the receiver's firmware version as recorded in FW, and read from the
// receiver on COM1 now by the system's own query (src/gpsport), on demand.
#include <cstring>
#include <iostream>
#include <string>

#include "common/device_view.h"
#include "gpsport/firmware.h"
#include "handheld/commands.h"
#include "handheld/device_session.h"
#include "handheld/text.h"
#include "platform/host/handheld.h"
#include "platform/host/serial.h"
#include "platform/host/windows.h"
#include "settings/settings.h"

namespace handheld {
namespace {

const char kUsage[] = "usage: handheld firmware [--help] [--read [--record]]\n";

void Usage() {
    std::cout << kUsage
              << "Prints the receiver's firmware version recorded in FW (HKLM\\SOFTWARE\\Apps\\Tavro SW) of the\n"
                 "device in PELORN_DEVICE, which Pelorn's first run reads from the receiver and records once.\n"
                 "  --read    reads the receiver on COM1 now, as that first run does: 4800 baud, the bytes up\n"
                 "            to the second '$' (at most 255; it gives up after 2 s without a byte or 5 s in\n"
                 "            all), the version being what lies between the first ':' and the first '-'. Prints\n"
                 "            the version and what it heard. A receiver talks only while it has power: pin 38\n"
                 "            high ('handheld set pin38=high'). Stops, saying who has it, while another\n"
                 "            program (Pelorn's reset or first run) has COM1 open.\n"
                 "  --record  also records the version read in FW, as the first run does.\n";
}

// Bytes as a person reads them: printable ASCII as it is, the rest escaped.
std::string Readable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The person at the device while the query runs: reads the box the query shows and presses OK.
class Reader final : public host::User {
public:
    bool Act() override {
        host::Handheld& device = host::Handheld::Current();
        if (const host::Modal* top = device.windows().TopModal()) box = Utf8(top->text);
        return device.windows().AcknowledgeTopModal();
    }
    std::string box;
};

std::string Taken(pid_t pid) {
    return "COM1 is open in " + (pid > 0 ? "process " + std::to_string(pid) : std::string("another process")) +
           " (Pelorn holds it for a reset, about 5 s, or for its first run's read); the port has one user at a "
           "time: try again once it is closed";
}

}  // namespace

int FirmwareMain(int argc, char** argv) {
    if (AsksForHelp(argc, argv)) {
        Usage();
        return 0;
    }
    bool read = false, record = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--read") == 0 && !read) {
            read = true;
        } else if (std::strcmp(argv[i], "--record") == 0 && !record) {
            record = true;
        } else {
            std::cerr << "handheld firmware: unexpected argument '" << argv[i] << "'\n" << kUsage;
            return 2;
        }
    }
    if (record && !read) {
        std::cerr << "handheld firmware: --record records what --read reads: give both\n" << kUsage;
        return 2;
    }
    try {
        OnDevice on;
        host::Handheld& device = host::Handheld::Current();
        if (!read) {
            std::optional<std::string> fw = tools::Look(device).firmware;
            std::cout << (fw ? "FW = \"" + *fw + "\" (recorded at the first run)\n"
                             : std::string("FW is not recorded: Pelorn has not run on this device yet\n"));
            return 0;
        }
        if (pid_t pid = device.serial().OpenElsewhere(1)) {
            std::cerr << "handheld firmware: " << Taken(pid) << "\n";
            return 1;
        }
        Reader reader;
        device.SetUser(&reader);
        HANDLE port = INVALID_HANDLE_VALUE;
        char text[FW_TEXT_SIZE] = {};
        std::string heard;
        const bool opened = OpenGpsPort(port, AppKeyStrings[PORT_NAME]);
        const DWORD open_error = GetLastError();
        const bool missing = port == INVALID_HANDLE_VALUE;
        if (opened) {
            ReadNmeaSentence(port, text);
            heard = text;
            ExtractFirmwareVersion(text);
        } else {
            std::strcpy(text, FW_FALLBACK);
        }
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        device.SetUser(nullptr);
        if (missing) {
            if (open_error == ERROR_ACCESS_DENIED) {
                std::cerr << "handheld firmware: " << Taken(device.serial().OpenElsewhere(1)) << "\n";
                return 1;
            }
            std::string mapping = device.serial().Mapping(1);
            std::cout << "COM1 cannot be opened (" << (mapping.empty() ? "not mapped" : "mapped to " + mapping)
                      << "): the first run would record \"" << text << "\"\n";
        } else {
            std::cout << "version: \"" << text << "\""
                      << (reader.box.empty() ? "" : " (the receiver's words give none: \"" + reader.box + "\")")
                      << "\nheard: "
                      << (heard.empty() ? "nothing (a receiver without power says nothing: pin 38 high powers it)"
                                        : "\"" + Readable(heard) + "\"")
                      << "\n";
        }
        if (record) {
            HKEY key = nullptr;
            if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, AppKeyStrings[APP_KEY_PATH], 0, 0, &key) != ERROR_SUCCESS ||
                !WriteRegString(key, AppKeyStrings[FW_VALUE], text)) {
                if (key) RegCloseKey(key);
                std::cerr << "handheld firmware: cannot record FW: the application key "
                             "HKLM\\SOFTWARE\\Apps\\Tavro SW is missing (Pelorn makes it at its first run)\n";
                return 1;
            }
            RegCloseKey(key);
            std::cout << "FW = \"" << text << "\" recorded\n";
        }
        return 0;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld firmware: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
