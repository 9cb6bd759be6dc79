#include "platform/launcher.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hex_text.h"
#include "temp_folder.h"

namespace {

using Args = std::vector<std::string>;

// A value a record may hold, with everything a shell would act upon.
const std::string kHostile = "it's \"quoted\"; rm -rf ~ & $(id) `id` | cat > /tmp/x *";

TEST(Launcher, ALinkBecomesOneArgumentOfXdgOpen) {
    struct Case {
        const char* what;
        Args args;
        Args expected;
    };
    const Case cases[] = {
        {"document",
         qv::openDocumentArgs("/home/me/My notes/" + kHostile + ".zt"),
         {"xdg-open", "/home/me/My notes/" + kHostile + ".zt"}},
        {"document named like an option", qv::openDocumentArgs("--help"), {"xdg-open", "./--help"}},
        {"folder", qv::openDocumentArgs("/home/me/"), {"xdg-open", "/home/me/"}},
        {"web address without scheme",
         qv::openWebArgs("www.example.org/a b?q=" + kHostile),
         {"xdg-open", "http://www.example.org/a b?q=" + kHostile}},
        {"web address with scheme",
         qv::openWebArgs("https://example.org/-x"),
         {"xdg-open", "https://example.org/-x"}},
        {"web address that looks like an option",
         qv::openWebArgs("--manual"),
         {"xdg-open", "http://--manual"}},
        {"e-mail address",
         qv::openEmailArgs("me@example.org"),
         {"xdg-open", "mailto:me@example.org"}},
        {"e-mail address given as mailto",
         qv::openEmailArgs("MAILTO:me@example.org"),
         {"xdg-open", "MAILTO:me@example.org"}},
        {"e-mail address with a subject",
         qv::openEmailArgs("me@x.org?subject=" + kHostile),
         {"xdg-open", "mailto:me@x.org?subject=" + kHostile}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.args, c.expected) << c.what;
}

TEST(Launcher, AStartedProgramReceivesEachArgumentWhole) {
    TempFolder dir;
    const std::string out = dir / "args";
    const Args given = {kHostile, "", "two words", "-x", "\xE9\xFF"};
    Args argv = {QV_PLATFORM_CHILD, "echo-args", out};
    argv.insert(argv.end(), given.begin(), given.end());
    std::string error;
    pid_t pid = qv::spawnProcess(argv, &error);
    ASSERT_GT(pid, 0) << error;
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string expected;
    for (const std::string& arg : given) expected += hexText(arg) + "\n";
    EXPECT_EQ(readBytes(out), expected);

    EXPECT_EQ(qv::spawnProcess({"quorvane-no-such-program"}, &error), -1);
    EXPECT_NE(error.find("quorvane-no-such-program"), std::string::npos);
}

TEST(Launcher, LinksAndHelpPagesGoToTheStarter) {
    TempFolder program;
    qv::RecordingStarter starter;
    qv::Launcher launcher(starter, program.path());
    EXPECT_TRUE(launcher.openWebAddress("example.org"));
    EXPECT_TRUE(launcher.openEmailAddress("me@example.org"));
    EXPECT_TRUE(launcher.openDocument("/data/a.txt"));
    EXPECT_FALSE(launcher.openDocument(""));  // nothing to open: nothing started

    EXPECT_FALSE(launcher.hasHelp());
    EXPECT_FALSE(launcher.showHelp(146));
    EXPECT_EQ(launcher.lastError(), "no help");

    std::filesystem::create_directory(program / "help");
    writeBytes(program / "help/146.html", "<html></html>");
    EXPECT_TRUE(launcher.hasHelp());
    EXPECT_FALSE(launcher.showHelp(7));  // neither the page nor the contents
    EXPECT_TRUE(launcher.showHelp(146));
    writeBytes(program / "help/0.html", "<html></html>");
    EXPECT_TRUE(launcher.showHelp(7));

    const std::vector<Args> expected = {
        {"xdg-open", "http://example.org"},    {"xdg-open", "mailto:me@example.org"},
        {"xdg-open", "/data/a.txt"},           {"xdg-open", program / "help/146.html"},
        {"xdg-open", program / "help/0.html"},
    };
    EXPECT_EQ(starter.calls, expected);

    starter.succeed = false;
    EXPECT_FALSE(launcher.openWebAddress("example.org"));
    EXPECT_FALSE(launcher.lastError().empty());
}

}  // namespace
