// The scenario corpus (tests/scenarios/corpus): every scenario plays without error, and each of its
// `# covers:` claims holds in its trace, in the order written; a claim after `no` holds nowhere.
// The folder's README says what each claim's words mean.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "handheld/play/script.h"
#include "tools/scenario_support.h"

namespace {

using nlohmann::json;

std::string Folder() { return pelorn_test::ScenarioFolder("corpus"); }

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes)
        hex += std::string{digits[c >> 4], digits[c & 15]};
    return hex;
}

// A quoted word is text; a bare word of digits, a number.
std::vector<json> Words(const std::string& claim) {
    static const std::regex word(R"re("((?:[^"\\]|\\.)*)"|(\S+))re");
    std::vector<json> words;
    for (std::sregex_iterator i(claim.begin(), claim.end(), word), end; i != end; ++i) {
        std::string bare = (*i)[2];
        if ((*i)[1].matched)
            words.push_back((*i)[1].str());
        else if (bare.find_first_not_of("0123456789") == std::string::npos)
            words.push_back(std::stoll(bare));
        else
            words.push_back(bare);
    }
    return words;
}

// The fields a trace record holds when the claim `WORD ARGS...` is true of it.
json Fields(const std::vector<json>& w) {
    struct Kind {
        const char* call;
        std::vector<const char*> fields;  // what the arguments are, in order
    };
    static const std::map<std::string, Kind> kinds = {{"box", {"MessageBox", {"text", "caption"}}},
                                                      {"menu", {"TrackPopupMenu", {}}},
                                                      {"dialog", {"DialogBoxParam", {}}},
                                                      {"serial", {"WriteFile", {"lpBuffer"}}},
                                                      {"tray", {"Shell_NotifyIcon", {"op", "icon"}}},
                                                      {"pin", {"GpioWrite", {"offset"}}},
                                                      {"backlight", {"DeviceIoControl", {"in"}}},
                                                      {"reg", {"RegSetValueEx", {"name", "data"}}},
                                                      {"event", {"SetEvent", {"name"}}},
                                                      {"timer", {"SetTimer", {}}},
                                                      {"closed", {"PostQuitMessage", {}}}};
    auto kind = w.empty() ? kinds.end() : kinds.find(w[0].get<std::string>());
    if (kind == kinds.end() || w.size() - 1 > kind->second.fields.size()) throw std::invalid_argument("not a claim");
    json fields = {{"call", kind->second.call}};
    for (std::size_t i = 1; i < w.size(); ++i)
        fields[kind->second.fields[i - 1]] = w[i];
    if (w[0] == "reg") fields["result"] = 0;  // written, not only tried
    if (w[0] == "serial" && w.size() > 1) fields["lpBuffer"] = Hex(handheld::UnescapeBytes(w[1]));
    if (w[0] == "backlight" && w.size() > 1) fields["in"] = {12, w[1]};
    return fields;
}

bool Holds(const json& record, const json& fields) {
    for (const auto& [name, value] : fields.items())
        if (!record.contains(name) || record[name] != value) return false;
    return true;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, PlaysAndDoesWhatItsHeaderClaims) {
    pelorn_test::PlayedScenario played = pelorn_test::PlayScenario(Folder(), GetParam());
    ASSERT_EQ(0, played.rc) << played.err;
    EXPECT_EQ("", played.err);

    std::istringstream lines(played.script);
    std::size_t at = 0, claims = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# covers: ", 0) != 0) continue;
        ++claims;
        std::vector<json> w = Words(line.substr(10));
        bool absent = !w.empty() && w[0] == "no";
        json fields = Fields(std::vector<json>(w.begin() + absent, w.end()));
        if (absent) {
            for (const json& r : played.trace)
                EXPECT_FALSE(Holds(r, fields)) << line << "\n" << r;
            continue;
        }
        while (at < played.trace.size() && !Holds(played.trace[at], fields))
            ++at;
        ASSERT_LT(at++, played.trace.size()) << line << ": not in the trace after the claims above it";
    }
    EXPECT_LT(0u, claims);

    std::ifstream readme(Folder() + "/README.md");
    std::ostringstream table;
    table << readme.rdbuf();
    EXPECT_NE(std::string::npos, table.str().find("`" + GetParam() + "`")) << "README.md leaves it out";
}

INSTANTIATE_TEST_SUITE_P(EveryScenario, CorpusTest, ::testing::ValuesIn(pelorn_test::ScenarioFiles(Folder())),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return pelorn_test::ScenarioTestName(info.param);
                         });

}  // namespace
