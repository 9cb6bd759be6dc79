// E4LOC proves at compile time that no two sites share a location; this
// checks that no site in the library gets round it with a bare number.
#include "xbase/error4loc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool inSomeUnit(int32_t n) {
    for (const error4unit& u : error4units)
        if (n >= u.first && n <= u.last) return true;
    return false;
}

bool identChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

// The five-digit numbers of a line (comments cut) that lie in some unit's ranges and are
// not written as E4LOC(n).
std::vector<std::string> bareLocations(std::string line) {
    line = line.substr(0, line.find("//"));
    std::vector<std::string> bare;
    for (size_t i = 0; i < line.size();) {
        size_t end = i;
        while (end < line.size() && std::isdigit(static_cast<unsigned char>(line[end]))) ++end;
        if (end == i || (i > 0 && identChar(line[i - 1])) ||
            (end < line.size() && identChar(line[end]))) {
            i = std::max(end, i + 1);
            continue;
        }
        const std::string number = line.substr(i, end - i);
        const bool wrapped = i >= 6 && line.compare(i - 6, 6, "E4LOC(") == 0;
        if (number.size() == 5 && !wrapped && inSomeUnit(std::stoi(number))) bare.push_back(number);
        i = end;
    }
    return bare;
}

TEST(Error4Locations, LibrarySourcesWriteEveryLocationWithE4LOC) {
    namespace fs = std::filesystem;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(QV_SOURCE_DIR) / "xbase")) {
        const fs::path& path = entry.path();
        if (path.extension() != ".cpp" && path.extension() != ".h") continue;
        if (path.filename() == "error4loc.h") continue;  // the ranges themselves
        ++files;
        std::ifstream in(path);
        std::string line;
        for (int lineNo = 1; std::getline(in, line); ++lineNo)
            for (const std::string& n : bareLocations(line))
                ADD_FAILURE() << path.filename().string() << ":" << lineNo << ": location " << n
                              << " not written as E4LOC(" << n << ")";
    }
    EXPECT_GT(files, 20);  // the sources were found
}

TEST(Error4Locations, TheScanTellsBareNumbersFromWrappedOnes) {
    EXPECT_EQ(bareLocations("return error4raise(env, e4data, 90701);"),
              std::vector<std::string>{"90701"});
    EXPECT_TRUE(bareLocations("return error4raise(env, e4data, E4LOC(90701));").empty());
    EXPECT_TRUE(bareLocations("x = 12345 + 90701.5 + v90701; // 90701").empty());
}

}  // namespace
