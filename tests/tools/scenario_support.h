// Scenario files of tests/scenarios, played on a fresh virtual handheld as `handheld play` plays
// them.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace pelorn_test {

// tests/scenarios/NAME in the source tree.
std::string ScenarioFolder(const std::string& name);
// The .play files of `folder`, sorted.
std::vector<std::string> ScenarioFiles(const std::string& folder);
// The file's name up to its first dot, letters and digits only: a test's name.
std::string ScenarioTestName(const std::string& file);

struct PlayedScenario {
    std::string script;  // the file's text
    int rc = -1;         // -1: the file could not be read
    std::string out;
    std::string err;
    std::vector<nlohmann::json> trace;  // the records, in the order written
};

PlayedScenario PlayScenario(const std::string& folder, const std::string& file);

}  // namespace pelorn_test
