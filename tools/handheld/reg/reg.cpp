// `handheld reg`: reg.exe's operations on the device's registry, as another program on it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "handheld/device_session.h"
#include "handheld/reg/reg.h"
#include "handheld/reg/reg_command.h"
#include "handheld/reg/reg_tree.h"
#include "handheld/text.h"
#include "platform/host/device_error.h"

namespace handheld {
namespace {

// What reg.exe would ask before `c` overwrites or deletes something; empty when it would not.
std::string Question(const RegCommand& c) {
    using Op = RegCommand::Operation;
    std::string name = c.value && c.value->empty() ? "(Default)" : c.value.value_or("");
    switch (c.operation) {
        case Op::kAdd: {
            reg::Key key;
            DWORD type = 0, size = 0;
            if (!c.value || reg::Open(c.root, c.path, &key) != ERROR_SUCCESS ||
                RegQueryValueEx(key.get(), Utf16(*c.value).c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
                return "";
            return "Value " + name + " exists, overwrite(Yes/No)? ";
        }
        case Op::kDelete:
            if (c.value) return "Delete the registry value " + name + " (Yes/No)? ";
            if (c.all_values) return "Delete all values under the registry key " + c.key + " (Yes/No)? ";
            return "Permanently delete the registry key " + c.key + " (Yes/No)? ";
        case Op::kImport:
            return "Import " + c.file + ", changing the keys and values it names (Yes/No)? ";
        case Op::kExport: {
            struct stat st {};
            if (stat(c.file.c_str(), &st) != 0) return "";
            return "File " + c.file + " already exists. Overwrite the file (Yes/No)? ";
        }
        case Op::kQuery:
            break;
    }
    return "";
}

// Yes or no from the person at the terminal; the end of input is a no.
bool Confirmed(const std::string& question) {
    for (;;) {
        std::cerr << question << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer)) {
            std::cerr << "\n";
            return false;
        }
        answer.erase(std::remove_if(answer.begin(), answer.end(), [](unsigned char ch) { return std::isspace(ch); }),
                     answer.end());
        for (auto& ch : answer)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (answer == "y" || answer == "yes") return true;
        if (answer == "n" || answer == "no") return false;
    }
}

void Usage(std::ostream& out) {
    out << "usage: handheld reg add|delete|query|export|import ...\n";
    std::string lines = RegUsage();
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t end = lines.find('\n', i);
        out << "  handheld " << lines.substr(i, end - i) << "\n";
        i = end + 1;
    }
}

}  // namespace

int RegMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args)
        if (a == "--help" || a == "-h" || a == "/?") {
            Usage(std::cout);
            std::cout << "Acts on the registry of the device in PELORN_DEVICE (or the default one), which a\n"
                         "running system sees at once. Data types REG_SZ, REG_DWORD and REG_BINARY (and the\n"
                         "rest of reg.exe's); .reg files are written as UTF-16LE, read as UTF-16 or UTF-8.\n"
                         "On a terminal, add (over a value), delete, import and export (over a file) ask\n"
                         "first, unless given /f (export: /y); a pipe is never asked.\n"
                         "Exits 0 when done, 1 when the operation failed or was declined, 2 on bad arguments.\n";
            return 0;
        }
    RegCommand command;
    try {
        command = ParseRegCommand(args);
    } catch (const RegSyntaxError& e) {
        std::cerr << "handheld reg: " << e.what() << "\n";
        Usage(std::cerr);
        return 2;
    }
    try {
        OnDevice device;
        // On a terminal, as reg.exe; a script on a pipe is never asked.
        if (!command.force && isatty(STDIN_FILENO)) {
            std::string question = Question(command);
            if (!question.empty() && !Confirmed(question)) {
                std::cout << "The operation was canceled by the user.\n";
                return 1;
            }
        }
        RegOutcome outcome = RunRegCommand(command);
        std::cout << outcome.out << std::flush;
        std::cerr << outcome.err;
        return outcome.exit_code;
    } catch (const host::DeviceError& e) {
        std::cerr << "handheld reg: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace handheld
