// The application object: title, activation, bringing a window to the front, the platform it
// asks for, and stop signals.

#include "platform_qt/application.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "platform_qt/stop_signals.h"

namespace {

TEST(ApplicationTest, TitleIsTheApplicationsDisplayName) {
    qv::Application app;
    app.setTitle("Quorvane - caf\xc3\xa9.zt");
    EXPECT_EQ(app.title(), "Quorvane - caf\xc3\xa9.zt");
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QString::fromUtf8("Quorvane - café.zt"));
    EXPECT_FALSE(app.screenSize().isEmpty());
}

// The offscreen platform keeps the application active whatever its windows do, so the tests
// report the changes as the window system would.
void reportState(Qt::ApplicationState state) {
    emit qApp->applicationStateChanged(state);
}

TEST(ApplicationTest, ActivationAndDeactivationAreReportedOnceEach) {
    qv::Application app;
    std::vector<std::string> events;
    app.setOnActivate([&] { events.push_back("activate"); });
    app.setOnDeactivate([&] { events.push_back("deactivate"); });
    reportState(Qt::ApplicationActive);
    EXPECT_TRUE(app.isActive());
    events.clear();
    for (Qt::ApplicationState state :
         {Qt::ApplicationInactive, Qt::ApplicationHidden, Qt::ApplicationActive,
          Qt::ApplicationActive, Qt::ApplicationSuspended, Qt::ApplicationActive})
        reportState(state);
    EXPECT_EQ(events,
              (std::vector<std::string>{"deactivate", "activate", "deactivate", "activate"}));
    EXPECT_TRUE(app.isActive());
}

TEST(ApplicationTest, BringToFrontRestoresAMinimisedWindowAndActivatesIt) {
    QWidget other, window;
    window.showMaximized();
    window.showMinimized();
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    qv::Application::bringToFront(window);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isMaximized());  // restored to the state it was minimised from
}

TEST(ApplicationTest, XcbOnAnXDisplayWithoutWaylandAndNeverAgainstTheUsersChoice) {
    struct Case {
        const char* qpa;
        const char* display;
        const char* wayland;
        const char* expected;  // null: leave it to Qt
    } cases[] = {
        {nullptr, ":0", nullptr, "xcb"},
        {"", ":1", "", "xcb"},
        {nullptr, ":0", "wayland-0", nullptr},  // a Wayland session that also runs X
        {nullptr, nullptr, "wayland-0", nullptr},
        {nullptr, nullptr, nullptr, nullptr},  // no display at all: Qt says so
        {nullptr, "", nullptr, nullptr},
        {"offscreen", ":0", nullptr, nullptr},
        {"wayland", ":0", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << (c.qpa ? c.qpa : "-") << " " << (c.display ? c.display : "-") << " "
                     << (c.wayland ? c.wayland : "-"));
        const auto platform = qv::Application::platformFor(c.qpa, c.display, c.wayland);
        if (c.expected)
            EXPECT_EQ(platform, std::string(c.expected));
        else
            EXPECT_FALSE(platform);
    }
}

TEST(StopSignalsTest, EachStopSignalBecomesACallOnTheEventLoopAndTheFormerHandlerReturns) {
    struct sigaction before {};
    ::sigaction(SIGTERM, nullptr, &before);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        int stops = 0;
        qv::StopSignals stopSignals([&] { ++stops; });
        ASSERT_TRUE(stopSignals.installed());
        ::raise(signal);
        EXPECT_EQ(stops, 0);  // not inside the signal handler
        EXPECT_TRUE(QTest::qWaitFor([&] { return stops == 1; }, 10000));
    }
    struct sigaction after {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
