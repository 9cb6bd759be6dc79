// The main of the test folders whose tests need a QApplication: offscreen unless the environment
// names another platform (the X11 tests run under xvfb-run with xcb), with a runtime folder and
// a settings folder of its own, so that nothing the tests leave there meets the user's session,
// the user's settings or another test process.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

namespace {

// The offscreen platform says for every dialog shown that it cannot pass size hints on, and for
// every window brought to the front that it cannot raise it; that says nothing about the tests.
QtMessageHandler gStandard = nullptr;

void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains("does not support propagateSizeHints") ||
        text.contains("does not support raise()"))
        return;
    if (gStandard) gStandard(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* tmp = getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-test-XXXXXX";
    if (!mkdtemp(folder.data())) return 2;  // mkdtemp makes it 0700, as a runtime folder must be
    const std::string runtime = folder + "/runtime";
    const std::string home = folder + "/home";
    for (const std::string& path : {runtime, home})
        if (!std::filesystem::create_directory(path)) return 2;
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("QUORVANE_HOME", home.c_str(), 1);

    int rc;
    {
        QApplication app(argc, argv);
        gStandard = qInstallMessageHandler(quietOffscreen);
        rc = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return rc;
}
