// The parsed script for another player: each step with its words as meant, and what only this
// program knows how to derive from them (the bytes of com1 steps, the messages of send steps,
// whether a tap meets the system's tray icon), so that no player parses the language again.
#include <cerrno>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>

#include "common/control.h"
#include "handheld/play/play.h"
#include "handheld/play/player.h"
#include "handheld/text.h"
#include "platform/host/shell.h"
#include "platform/host/windows.h"

namespace handheld {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kMaxScript = 16u << 20;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The system adds one icon, so it sits in the tray's rightmost slot, as the host's tray lays it out.
bool OnIcon(int x) {
    RECT icon = host::TraySlotIcon(0);
    return x >= icon.left && x < icon.right;
}

Json Describe(const Step& s, const std::string& folder) {
    Json step = {{"line", s.line}, {"step", s.name()}, {"args", Json::array()}};
    for (std::size_t i = 1; i < s.words.size(); ++i)
        step["args"].push_back(s.Arg(i));
    switch (s.kind) {
        case StepKind::kCom1:
            if (s.Arg(1) != "silent") step["bytes"] = Hex(Com1Bytes(s, folder));
            break;
        case StepKind::kSend: {
            // As the host player sends it: a control message by its name, or a number.
            const tools::ControlMessage* named = tools::FindControlMessage(s.Arg(1));
            step["msg"] = named ? named->msg : *MessageNumber(s.Arg(1), 0xFFFF);
            step["wparam"] = named ? named->wparam : s.words.size() > 2 ? *MessageNumber(s.Arg(2), 0xFFFFFFFF) : 0;
            break;
        }
        case StepKind::kTap:
            step["icon"] = OnIcon(std::atoi(s.Arg(1).c_str()));
            break;
        case StepKind::kPick:
            step["none"] = !s.words[1].quoted;
            break;
        default:
            break;
    }
    return step;
}

}  // namespace

int StepsMain(int argc, char** argv) {
    const char usage[] =
        "usage: handheld steps [--help] SCRIPT\n"
        "Prints the steps of the scenario SCRIPT as `handheld play` reads them, one JSON\n"
        "object a line, for a player of the same scenarios on another platform.\n";
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::cout << usage;
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::cerr << usage;
        return 2;
    }
    std::string script = argv[1];
    std::optional<std::string> text = ReadBounded(script, kMaxScript);
    if (!text) {
        std::cerr << "handheld steps: cannot read " << script << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::size_t slash = script.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : script.substr(0, slash);
    try {
        for (const Step& s : ParseScript(*text))
            std::cout << Describe(s, folder).dump() << "\n";
    } catch (const ScriptError& e) {
        std::cerr << script << ":" << e.line() << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace handheld
