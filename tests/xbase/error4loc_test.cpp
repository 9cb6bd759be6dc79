// E4LOC proves at compile time that no two sites share a location; this
// checks that no site in the library gets round it with a bare number.
#include "xbase/error4loc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

bool inSomeUnit(int32_t n) {
    for (const error4unit& u : error4units)
        if (n >= u.first && n <= u.last) return true;
    return false;
}

TEST(Error4Locations, LibrarySourcesWriteEveryLocationWithE4LOC) {
    namespace fs = std::filesystem;
    const std::regex number(R"((E4LOC\(\s*)?\b(\d{5})\b)");
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(QV_SOURCE_DIR) / "xbase")) {
        const fs::path& path = entry.path();
        if (path.extension() != ".cpp" && path.extension() != ".h") continue;
        if (path.filename() == "error4loc.h") continue;  // the ranges themselves
        ++files;
        std::ifstream in(path);
        std::string line;
        for (int lineNo = 1; std::getline(in, line); ++lineNo) {
            line = line.substr(0, line.find("//"));
            for (std::sregex_iterator m(line.begin(), line.end(), number), end; m != end; ++m) {
                if ((*m)[1].matched || !inSomeUnit(std::stoi((*m)[2].str()))) continue;
                ADD_FAILURE() << path.filename().string() << ":" << lineNo << ": location "
                              << (*m)[2] << " not written as E4LOC(" << (*m)[2] << ")";
            }
        }
    }
    EXPECT_GT(files, 20);  // the sources were found
}

}  // namespace
