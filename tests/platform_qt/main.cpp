// Every test here runs inside a QApplication: offscreen unless the environment names another
// platform (the X11 tests run under xvfb-run with xcb), and with a runtime folder of its own, so
// that nothing the tests leave there meets the user's session or another test process.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <filesystem>
#include <string>

namespace {

// The offscreen platform says for every dialog shown that it cannot pass size hints on; that
// says nothing about the tests.
QtMessageHandler gStandard = nullptr;

void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.contains("does not support propagateSizeHints")) return;
    if (gStandard) gStandard(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const char* tmp = getenv("TMPDIR");
    std::string runtime = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-runtime-XXXXXX";
    if (!mkdtemp(runtime.data())) return 2;  // mkdtemp makes it 0700, as the folder must be
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    int rc;
    {
        QApplication app(argc, argv);
        gStandard = qInstallMessageHandler(quietOffscreen);
        rc = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return rc;
}
