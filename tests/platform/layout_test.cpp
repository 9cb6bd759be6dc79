#include "platform/layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_capture.h"
#include "platform/message_format.h"
#include "temp_folder.h"

namespace {

using qv::Layout;
using qv::loadLayout;

TEST(LayoutDefaults, EveryWindowOpensWithoutItsFile) {
    TempFolder empty;
    LogCapture log;
    for (const std::string& name : qv::defaultLayoutNames()) {
        log.clear();
        Layout layout = loadLayout(empty.path(), name);
        EXPECT_TRUE(log.saw(name + " is missing")) << name;
        Layout compiled = qv::defaultLayout(name);
        EXPECT_EQ(layout.lists(), compiled.lists()) << name;
        EXPECT_EQ(layout.captions(), compiled.captions()) << name;
        EXPECT_EQ(layout.numbers(), compiled.numbers()) << name;
    }
    Layout main = loadLayout(empty.path(), "MainForm.ztr");
    EXPECT_EQ(qv::messageText(main.line("memoFrame", 10), {"Friends", 3}),
              "The result of the search in the set \"Friends\" contains 3 records.");
    EXPECT_EQ(main.lines("memoFrame").size(), 26u);
    Layout functions = qv::defaultLayout("frmDlgFunctions.ztr");
    EXPECT_EQ(functions.line("mmStrings", 31), "+");
    EXPECT_EQ(functions.line("mmStrings", 72), "No record selected");
    EXPECT_EQ(functions.line("mmStrings", 83), "ERROR");
    EXPECT_EQ(qv::defaultLayout("listview.ztr").number("lgList.DefaultColWidth", 0), 120);
    EXPECT_EQ(qv::defaultLayout("frmMCMessages.ztr").line("titles", 6), "Interrupt macro");
    EXPECT_TRUE(qv::defaultLayout("unknown.ztr").lists().empty());
}

TEST(LayoutDefaults, EveryLineFormatsWithTheSpecifiersItHolds) {
    // A line with a mistyped specifier would be shown unformatted; the compiled lines hold
    // only specifiers the formatter knows.
    LogCapture log;
    for (const std::string& name : qv::defaultLayoutNames()) {
        const Layout layout = qv::defaultLayout(name);
        for (const auto& [list, lines] : layout.lists()) {
            for (const std::string& line : lines) qv::formatMessage(line, {});
        }
    }
    for (const std::string& warning : log.lines()) {
        EXPECT_EQ(warning.find("unknown specifier"), std::string::npos) << warning;
    }
}

TEST(LayoutDefaults, WrittenLayoutsReadBackTheSame) {
    for (const std::string& name : qv::defaultLayoutNames()) {
        Layout compiled = qv::defaultLayout(name);
        Layout read(name);
        ASSERT_TRUE(qv::parseLayoutText(qv::layoutText(compiled), name, &read)) << name;
        EXPECT_EQ(read.lists(), compiled.lists()) << name;
        EXPECT_EQ(read.captions(), compiled.captions()) << name;
        EXPECT_EQ(read.numbers(), compiled.numbers()) << name;
    }
}

class LayoutFile : public ::testing::Test {
  protected:
    TempFolder dir;
    LogCapture log;
    Layout load(const std::string& text) {
        writeBytes(dir / "listview.ztr", text);
        return loadLayout(dir.path(), "listview.ztr");
    }
    bool warnedAbout(int line) { return log.saw("listview.ztr:" + std::to_string(line) + ":"); }
};

TEST_F(LayoutFile, EntriesOverrideTheDefaultsAndBrokenLinesAreSkipped) {
    Layout layout = load(
        "quorvane-layout 1\r\n"                   // 1
        "# the list view's texts\n"               // 2
        "\n"                                      // 3
        "line meConst 3=  > Cherchez ici <  \n"   // 4
        "line meConst 9=one past the defaults\n"  // 5
        "caption btnOper.Hint=a = b\r\n"          // 6
        "number lgList.DefaultColWidth=-80\n"     // 7
        "line meConst x=not a number\n"           // 8
        "line meConst 4096=too far\n"             // 9
        "caption bad name=space in the name\n"    // 10
        "number lgList.FixedRows=2x\n"            // 11
        "bogus entry\n"                           // 12
        "line meConst 5=\xC3(\n"                  // 13
        "line meConst 6=tab\tok but bell \x07\n"  // 14
        "caption btnAll.Hint=caf\xC3\xA9");       // 15, no final line break
    EXPECT_EQ(layout.line("meConst", 3), "  > Cherchez ici <  ");
    EXPECT_EQ(layout.line("meConst", 9), "one past the defaults");
    EXPECT_EQ(layout.line("meConst", 8), "");
    EXPECT_EQ(layout.caption("btnOper.Hint"), "a = b");
    EXPECT_EQ(layout.number("lgList.DefaultColWidth", 0), -80);
    EXPECT_EQ(layout.caption("btnAll.Hint"), "caf\xC3\xA9");
    // What the broken lines would have changed keeps its default.
    EXPECT_EQ(layout.line("meConst", 5), "(Search)");
    EXPECT_EQ(layout.line("meConst", 6), "Set");
    EXPECT_EQ(layout.number("lgList.FixedRows", 0), 2);
    EXPECT_EQ(layout.line("meConst", 0), "&Delete record(s)");
    EXPECT_EQ(layout.lines("meConst").size(), 10u);
    for (int line : {8, 9, 10, 11, 12, 13, 14}) EXPECT_TRUE(warnedAbout(line)) << line;
    for (int line : {1, 2, 3, 4, 5, 6, 7, 15}) EXPECT_FALSE(warnedAbout(line)) << line;
}

TEST_F(LayoutFile, AFileThatIsNotALayoutChangesNothing) {
    const std::vector<std::string> files = {"", "object ListView: TPanel\n  Left = 0\nend\n",
                                            std::string(5000, '\0'),
                                            "quorvane-layout 2\nline meConst 0=newer format\n"};
    const Layout defaults = qv::defaultLayout("listview.ztr");
    for (const std::string& text : files) {
        log.clear();
        Layout layout = load(text);
        EXPECT_EQ(layout.lists(), defaults.lists());
        EXPECT_EQ(layout.captions(), defaults.captions());
        EXPECT_EQ(layout.numbers(), defaults.numbers());
        EXPECT_FALSE(log.lines().empty());
    }
}

TEST_F(LayoutFile, AnOversizedFileGivesOnlyItsBeginning) {
    std::string text = "quorvane-layout 1\nline meConst 0=first\n";
    while (text.size() <= qv::kMaxLayoutFileBytes) text += "# " + std::string(100, 'x') + "\n";
    text += "line meConst 1=beyond the bound\n";
    Layout layout = load(text);
    EXPECT_EQ(layout.line("meConst", 0), "first");
    EXPECT_EQ(layout.line("meConst", 1), "Restore rec&ord(s)");
    EXPECT_TRUE(log.saw("larger than the program reads"));
}

}  // namespace
