#include "platform/message_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"

namespace {

using qv::formatMessage;
using qv::MessageArg;

struct FormatCase {
    std::string format;
    std::vector<MessageArg> args;
    std::string expected;
};

TEST(MessageFormat, SpecifiersOfTheProgramsLinesTakeTheirArguments) {
    const std::vector<FormatCase> cases = {
        {"%s imported", {"a.txt"}, "a.txt imported"},
        {"The result of the search in the set \"%s\" contains %d records.",
         {"Friends", 12},
         "The result of the search in the set \"Friends\" contains 12 records."},
        {"(%ld)", {123456L}, "(123456)"},
        {"Field #%02d", {0}, "Field #00"},
        {"Field #%02d", {123}, "Field #123"},
        {"%04d%02d%02d", {2024, 3, 9}, "20240309"},
        {"%02d:%02d", {9, 5}, "09:05"},
        {" (%d/%d)", {1, 3}, " (1/3)"},
        {"_%d", {-5}, "_-5"},
        {"Width :\t%2.2f\"\rHeight :\t%2.2f\"", {8.5, 11.0}, "Width :\t8.50\"\rHeight :\t11.00\""},
        {"%2.2f cm", {2.54}, "2.54 cm"},
        {"%.2f", {-0.004}, "-0.00"},
        {"%f", {3}, "3.000000"},  // an integer where a real is asked is taken as one
        {"%s (%s)\b%s", {"Macro", "Quorvane", "Ctrl+M"}, "Macro (Quorvane)\bCtrl+M"},
        {"%s:%ld>", {"Delay", 250L}, "Delay:250>"},
        {"[%5s|%-5s|%.3s]", {"ab", "cd", "abcdef"}, "[   ab|cd   |abc]"},
        {"%+d %5.3d %u %x %#X", {5, 7, -1, 255, 255}, "+5   007 4294967295 ff 0XFF"},
        {"100%% done", {}, "100% done"},
        {"no specifier", {}, "no specifier"},
    };
    LogCapture log;
    for (const FormatCase& c : cases) {
        EXPECT_EQ(formatMessage(c.format, c.args), c.expected) << c.format;
    }
    EXPECT_TRUE(log.lines().empty());
}

TEST(MessageFormat, ALineWhoseSpecifiersDoNotMatchItsArgumentsIsShownAsItStands) {
    struct Mismatch {
        std::string format;
        std::vector<MessageArg> args;
    };
    const std::vector<Mismatch> cases = {
        {"%s", {}},
        {"%s and %s", {"one"}},
        {"%s", {"one", "two"}},
        {"%d records", {"many"}},
        {"Copy of %s", {5}},
        {"%f", {"x"}},
        {"%ld", {2.5}},
        {"%n", {1}},
        {"%p", {1}},
        {"%c", {65}},
        {"%*d", {5, 1}},
        {"%99999d", {1}},
        {"%.99999f", {1.0}},
        {"50%", {}},
        {"%", {}},
        {"%l", {1}},
    };
    LogCapture log;
    for (const Mismatch& c : cases) {
        log.clear();
        EXPECT_EQ(formatMessage(c.format, c.args), c.format) << c.format;
        EXPECT_TRUE(log.saw("shown unformatted")) << c.format;
    }
}

TEST(MessageFormat, TenThousandCharacterLinesAndHugeArgumentsNeedNoBuffer) {
    const std::string head(5000, 'h'), tail(4990, 't'), name(10000, 'n');
    const std::string line = head + "%s" + tail + "%d";  // a line of 10,000 characters
    ASSERT_EQ(line.size(), 9994u);
    EXPECT_EQ(formatMessage(line + "xxxxxx", {name, 42}), head + name + tail + "42xxxxxx");
    EXPECT_EQ(formatMessage("\"%s\" is read only.", {name}), "\"" + name + "\" is read only.");
    EXPECT_EQ(formatMessage("%1000d", {1}).size(), 1000u);
    EXPECT_EQ(formatMessage("%.1000f", {1e308}).size(), 309u + 1 + 1000);
}

TEST(MessageFormat, BackslashSequencesBecomeBreaksBeforeFormatting) {
    struct Case {
        std::string line;
        bool tabsAndReturns;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"first\\nsecond", false, "first\nsecond"}, {"\\n\\n", false, "\n\n"},
        {"a\\tb\\rc", false, "a\\tb\\rc"},          {"a\\tb\\rc\\n", true, "a\tb\rc\n"},
        {"C:\\dir\\", false, "C:\\dir\\"},          {"\\\\n", false, "\\\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qv::expandLineEscapes(c.line, c.tabsAndReturns), c.expected) << c.line;
    }
    // A break that arrives in an argument stays as the argument wrote it.
    EXPECT_EQ(qv::messageText("\"%s\" is a old version.\\nProceed?", {"a\\nb"}),
              "\"a\\nb\" is a old version.\nProceed?");
}

}  // namespace
