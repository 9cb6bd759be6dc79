// The main window on a context of fakes: its title, its first placement, the command line it
// opens when first shown, and the single-instance message 0x8087.

#include "ui/main_form.h"

#include <gtest/gtest.h>

#include <QTest>

#include "platform/clipboard.h"
#include "platform/fake_timers.h"
#include "platform/log_capture.h"
#include "platform/single_instance.h"
#include "platform_qt/qt_message_pump.h"
#include "platform_qt/scripted_dialogs.h"

namespace {

// The services of a main window under test: nothing outside the process is touched, and any
// dialog fails the test.
struct FakeServices {
    qv::RegistryStore store{""};
    qv::QtMessagePump pump;
    qv::FakeTimerService timers;
    qv::ScriptedDialogs dialogs{[](const std::string& what) { ADD_FAILURE() << what; }};
    qv::RecordingStarter starter;
    qv::Launcher launcher{starter, "/nonexistent/"};
    qv::InProcessClipboard clipboard;
    qv::FakeKeyState keys;
    qv::Application app;
    qv::AppContext context{store,    pump,      timers, timers, dialogs,
                           launcher, clipboard, keys,   app,    nullptr};
};

class MainFormTest : public testing::Test {
  protected:
    // The lines the open routine logged for the names it was given.
    std::vector<std::string> opened() {
        std::vector<std::string> names;
        for (const std::string& line : log.lines())
            if (line.find("is not opened") != std::string::npos)
                names.push_back(line.substr(1, line.find('"', 1) - 1));
        return names;
    }
    void setStartFile(const std::string& path) {
        qv::Registry reg(services.store);
        ASSERT_EQ(reg.openKey(qv::kFilesKey, true), qv::RegResult::ok);
        ASSERT_EQ(reg.writeString(qv::kStartFileValue, path), qv::RegResult::ok);
    }

    FakeServices services;
    LogCapture log;
};

TEST_F(MainFormTest, IsTitledAfterTheActiveDatabaseAndStartsOnNinetyPercentOfTheScreen) {
    qv::TMainForm form(services.context);
    EXPECT_EQ(form.windowTitle(), "Quorvane");
    EXPECT_EQ(services.app.title(), "Quorvane");
    form.showDatabaseName("people.zt");
    EXPECT_EQ(form.windowTitle(), "Quorvane - people.zt");
    EXPECT_EQ(services.app.title(), "Quorvane - people.zt");
    form.showDatabaseName("");
    EXPECT_EQ(form.windowTitle(), "Quorvane");

    const QSize screen = services.app.screenSize();
    EXPECT_NEAR(form.geometry().left(), screen.width() * 0.05, 1);
    EXPECT_NEAR(form.geometry().top(), screen.height() * 0.05, 1);
    EXPECT_NEAR(form.geometry().width(), screen.width() * 0.9, 1);
    EXPECT_NEAR(form.geometry().height(), screen.height() * 0.9, 1);
}

TEST_F(MainFormTest, TheCommandLineOpensWhenTheWindowIsShown) {
    qv::TMainForm form(services.context);
    form.setCommandLine("/data/my people.zt");
    EXPECT_TRUE(opened().empty());
    form.show();
    EXPECT_EQ(opened(), std::vector<std::string>{"/data/my people.zt"});

    qv::TMainForm plain(services.context);
    plain.show();
    EXPECT_EQ(opened().size(), 1u);  // nothing to open without a command line
}

TEST_F(MainFormTest, AnotherInstanceBringsTheWindowToTheFrontAndOpensItsStartFile) {
    qv::TMainForm form(services.context);
    form.showMinimized();

    // A later start without a file only brings the window back.
    EXPECT_EQ(services.pump.send(form.handle(), qv::Message{qv::kMsgOtherInstance, 0, 0, {}}), 0);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(opened().empty());

    setStartFile("/data/x.ZT");
    EXPECT_EQ(services.pump.send(form.handle(), qv::Message{qv::kMsgOtherInstance, 0, 0, {}}), 0);
    EXPECT_EQ(opened(), std::vector<std::string>{"/data/x.ZT"});
}

}  // namespace
