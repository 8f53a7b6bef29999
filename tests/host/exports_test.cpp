// The export table of RUZada.so is exactly its list of exported names: the
// module's functions and the published members of its classes, nothing internal.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>

namespace {

// Every name from "global:" to "local:", plain or quoted, each ending in ';'.
std::set<std::string> ListedInMap()
{
    std::ifstream file(RUZADA_EXPORTS_MAP);
    std::set<std::string> names;
    bool global = false;
    for (std::string line; std::getline(file, line);) {
        const std::string entry = line.substr(std::min(line.size(), line.find_first_not_of(' ')));
        if (entry == "global:" || entry == "local:")
            global = entry == "global:";
        else if (global && entry.ends_with(';') && entry != "};")
            names.insert(entry.front() == '"' ? entry.substr(1, entry.size() - 3) : entry.substr(0, entry.size() - 1));
    }
    return names;
}

std::set<std::string> DefinedInModule()
{
    const std::string command = std::string("nm -D --defined-only -C '") + RUZADA_MODULE_PATH + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::set<std::string> names;
    if (!pipe)
        return names;
    char line[4096];
    while (fgets(line, sizeof line, pipe)) {
        std::string entry(line);
        entry.erase(entry.find_last_not_of("\r\n") + 1);
        // "<address> <type> <name>[@@VERSION]"
        const auto first = entry.find(' ');
        const auto second = entry.find(' ', first + 1);
        if (second == std::string::npos)
            continue;
        const char type = entry[first + 1];
        std::string name = entry.substr(second + 1);
        if (type == 'A')  // the version node itself
            continue;
        if (const auto at = name.find('@'); at != std::string::npos)
            name.erase(at);
        names.insert(name);
    }
    pclose(pipe);
    return names;
}

TEST(Exports, ModuleExportsExactlyItsListOfNames)
{
    const std::set<std::string> listed = ListedInMap();
    const std::set<std::string> defined = DefinedInModule();
    ASSERT_FALSE(listed.empty());
    ASSERT_FALSE(defined.empty()) << "nm gave nothing for " << RUZADA_MODULE_PATH;
    for (const std::string& name : defined)
        EXPECT_TRUE(listed.count(name)) << "exported but not listed: " << name;
    for (const std::string& name : listed)
        EXPECT_TRUE(defined.count(name)) << "listed but not exported: " << name;
}

}  // namespace
