// The host's resource table says what the resource script the Win32 build compiles says.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "platform/trace/trace.h"
#include "res/host_resources.h"

namespace {

std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A script's string literal ("\n" escapes, UTF-8) as the table keeps it.
std::u16string Literal(std::string s) { return tracing::json::Utf16(std::regex_replace(s, std::regex(R"(\\n)"), "\n")); }

TEST(ResourcesTest, TheHostTableHoldsWhatTheResourceScriptDefines) {
    const std::string dir = PELORN_RESOURCE_DIR;
    std::map<std::string, UINT> ids;
    const std::string header = Read(dir + "/resource.h");
    const std::regex define(R"(#define (\w+) (0x[0-9A-Fa-f]+|\d+))");
    for (std::sregex_iterator m(header.begin(), header.end(), define), end; m != end; ++m)
        ids[(*m)[1]] = static_cast<UINT>(std::stoul((*m)[2], nullptr, 0));
    const std::string script = Read(dir + "/pelorn.rc");
    const host::ResourceTable& table = PelornResources();

    std::smatch m;
    std::string strings = script.substr(script.find("STRINGTABLE"));
    strings = strings.substr(0, strings.find("\nEND"));
    std::map<UINT, std::u16string> expected_strings;
    const std::regex entry(R"re((\w+) "(.*)")re");
    for (std::sregex_iterator s(strings.begin(), strings.end(), entry), end; s != end; ++s)
        expected_strings[ids.at((*s)[1])] = Literal((*s)[2]);
    EXPECT_EQ(expected_strings, table.strings);

    std::map<UINT, bool> icons;
    const std::regex icon(R"re((\w+) ICON ")re");
    for (std::sregex_iterator s(script.begin(), script.end(), icon), end; s != end; ++s)
        icons[ids.at((*s)[1])] = true;
    ASSERT_EQ(icons.size(), table.icons.size());
    for (const auto& [id, bytes] : table.icons)
        EXPECT_TRUE(icons.count(id)) << id;

    const std::regex header_of_dialog(
        R"re((\w+) DIALOGEX (\d+), (\d+), (\d+), (\d+)\s+STYLE (0x[0-9A-F]+)\s+EXSTYLE (0x[0-9A-F]+)\s+CAPTION "(.*)"\s+FONT (\d+), "(.*)")re");
    ASSERT_TRUE(std::regex_search(script, m, header_of_dialog));
    ASSERT_EQ(1u, table.dialogs.count(ids.at(m[1])));
    const host::DialogTemplate& dialog = table.dialogs.at(ids.at(m[1]));
    EXPECT_EQ((std::vector<int>{std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5]), std::stoi(m[9])}),
              (std::vector<int>{dialog.x, dialog.y, dialog.cx, dialog.cy, dialog.font_size}));
    EXPECT_EQ(std::stoul(m[6], nullptr, 16), dialog.style);
    EXPECT_EQ(std::stoul(m[7], nullptr, 16), dialog.ex_style);
    EXPECT_EQ(Literal(m[8]), dialog.caption);
    EXPECT_EQ(Literal(m[10]), dialog.font);

    // CONTROL icon, id, "Static", SS_ICON, ...: an icon by number; LTEXT "text", id, ...: plain text.
    std::vector<std::string> expected_items, items;
    const std::regex control(R"re(CONTROL (\w+), (\w+), "Static", SS_ICON, (\d+), (\d+), (\d+), (\d+))re");
    const std::regex ltext(R"re(LTEXT "(.*)", (\w+), (\d+), (\d+), (\d+), (\d+))re");
    std::istringstream lines(script);
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, m, control))
            expected_items.push_back("STATIC #" + std::to_string(ids.at(m[1])) + " " + std::to_string(ids.at(m[2])) + " " +
                                     m[3].str() + " " + m[4].str() + " " + m[5].str() + " " + m[6].str() + " 3");
        else if (std::regex_search(line, m, ltext))
            expected_items.push_back("STATIC " + m[1].str() + " " + std::to_string(ids.at(m[2])) + " " + m[3].str() + " " +
                                     m[4].str() + " " + m[5].str() + " " + m[6].str() + " 0");
    }
    for (const host::DialogItem& item : dialog.items)
        items.push_back(tracing::json::Utf8(item.window_class) + " " + tracing::json::Utf8(item.text) + " " + std::to_string(item.id) +
                        " " + std::to_string(item.x) + " " + std::to_string(item.y) + " " + std::to_string(item.cx) + " " +
                        std::to_string(item.cy) + " " + std::to_string(item.style));
    EXPECT_EQ(expected_items, items);
}

}  // namespace
