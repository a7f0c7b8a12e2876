#include "tools/scenario_support.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "handheld/play/play.h"

namespace pelorn_test {

std::string ScenarioFolder(const std::string& name) {
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/tools/")) + "/tests/scenarios/" + name;
}

std::vector<std::string> ScenarioFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;  // none found: the suite reports it has no scenario to play
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".play") files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string ScenarioTestName(const std::string& file) {
    std::string name;
    for (char c : file.substr(0, file.find('.')))
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
}

PlayedScenario PlayScenario(const std::string& folder, const std::string& file) {
    PlayedScenario p;
    std::ifstream in(folder + "/" + file);
    if (!in) return p;
    std::ostringstream script, out, err;
    script << in.rdbuf();
    p.script = script.str();
    p.rc = handheld::PlayScript(p.script, file, folder, out, err);
    p.out = out.str();
    p.err = err.str();
    std::istringstream lines(p.out);
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json record = nlohmann::json::parse(line);
        if (record.contains("call")) p.trace.push_back(record);
        if (record.contains("output")) p.printed += record["output"].get<std::string>();
    }
    return p;
}

}  // namespace pelorn_test
