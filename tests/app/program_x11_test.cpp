// The quorvane executable on a real X server (run under xvfb-run): with a display and no
// Wayland session it takes the xcb platform by itself, and its window is there for other
// programs to see; this test grabs it from its own process.

#include <gtest/gtest.h>
#include <signal.h>

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/program_process.h"
#include "platform/temp_folder.h"

namespace {

// The X window titled exactly "Quorvane" once it is mapped and viewable, or 0.
WId viewableWindow() {
    QProcess xwininfo;
    xwininfo.start(QV_XWININFO, {"-name", "Quorvane"});
    if (!xwininfo.waitForFinished(10000) || xwininfo.exitCode() != 0) return 0;
    const QString out = QString::fromUtf8(xwininfo.readAllStandardOutput());
    const QRegularExpressionMatch id = QRegularExpression("Window id: (0x[0-9a-fA-F]+)").match(out);
    if (!id.hasMatch() || !out.contains("Map State: IsViewable")) return 0;
    return WId(id.captured(1).toULongLong(nullptr, 16));
}

TEST(ProgramX11Test, TakesXcbByItselfAndShowsItsWindowToOtherPrograms) {
    if (QGuiApplication::platformName() != "xcb") GTEST_SKIP() << "needs an X server";
    TempFolder folder;
    std::filesystem::create_directory(folder / "runtime");
    std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
    ProgramProcess program({},
                           environmentWith({{"QT_QPA_PLATFORM", std::nullopt},
                                            {"WAYLAND_DISPLAY", std::nullopt},
                                            {"XDG_RUNTIME_DIR", folder / "runtime"},
                                            {"QUORVANE_HOME", folder / "home"}}),
                           folder / "program.err");
    ASSERT_TRUE(program.started());

    WId window = 0;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (window = viewableWindow()) != 0 || !program.running(); }, 60000))
        << program.errors();
    ASSERT_NE(window, 0u) << program.errors();
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(window).toImage();
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 100);
    EXPECT_GT(image.height(), 100);

    program.kill(SIGTERM);
    EXPECT_EQ(program.wait(60000), 0) << program.errors();
}

}  // namespace
