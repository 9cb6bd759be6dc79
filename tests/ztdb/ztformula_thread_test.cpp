// Formulas evaluated on four threads at once, each on its own duplicate of the database.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ztformula_helpers.h"

using namespace formulatest;

namespace {

const char* const kFormulas[] = {
    "upper(name) + \"/\" + lower(name)",
    "country->capital->mayor",
    "findrecord(\"Cities\", \"Name\", \"Oslo\")",
    "autolink(\"Countries\", \"\", \"Norway\")",
    "round(a / 3, 4) + len(concat(c, name))",
    "if(a > b, mid(\"abcdef\", b, a), \"none\")",
    "datetoday(\"2000/01/01\") + 1",
};

// Every formula against every record, compiled and run on the given database.
std::vector<std::string> runAll(ZTFile* file) {
    std::vector<std::string> out;
    ZTTranslator t(file);
    ZTExpression e;
    ZTStr result;
    for (uint32_t record : {kSmith, kFrance, kNorway, kParis, kOslo}) {
        ZTRecord image(file, nullptr, nullptr, nullptr);
        image.read(record);
        for (const char* f : kFormulas) {
            const char* code = nullptr;
            if (t.translate(f, &code) != 0) {
                out.push_back("compile error");
                continue;
            }
            const std::string run = std::string(code) + "o";
            e.evaluate(&result, &image, run.c_str(), 0, 0);
            out.push_back(result.text);
        }
    }
    return out;
}

TEST(FormulaThreadTest, FourThreadsOnFourDuplicatesAgreeWithASerialRun) {
    FormulaDatabase db;
    const std::vector<std::string> serial = runAll(&db.file);
    ASSERT_EQ(serial[1], "Hidalgo");
    ASSERT_EQ(serial[2], std::to_string(kOslo));

    std::vector<std::unique_ptr<ZTFile>> copies;
    for (int i = 0; i < 4; ++i) {
        copies.emplace_back(db.file.duplicate(0));
        ASSERT_NE(copies.back(), nullptr);
    }
    std::vector<std::vector<std::vector<std::string>>> results(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 5; ++round)
                results[size_t(i)].push_back(runAll(copies[size_t(i)].get()));
        });
    }
    for (std::thread& t : threads) t.join();
    for (const auto& perThread : results)
        for (const auto& run : perThread) EXPECT_EQ(run, serial);
}

}  // namespace
