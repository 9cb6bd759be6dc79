// The first instance in this process: the services, the main window and the listener that the
// entry makes once the QApplication stands.

#include "app/program.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QPixmap>
#include <QTest>
#include <atomic>
#include <thread>

#include "platform/log_capture.h"
#include "platform/user_folders.h"

namespace {

TEST(ProgramTest, CommandLineIsTheArgumentsAsOneName) {
    char name[] = "quorvane", a[] = "/data/my", b[] = "people.zt", c[] = "";
    char* none[] = {name, nullptr};
    char* one[] = {name, a, nullptr};
    char* two[] = {name, a, b, nullptr};
    char* empty[] = {name, c, nullptr};
    EXPECT_EQ(qv::commandLineOf(1, none), "");
    EXPECT_EQ(qv::commandLineOf(2, one), "/data/my");
    EXPECT_EQ(qv::commandLineOf(3, two), "/data/my people.zt");
    EXPECT_EQ(qv::commandLineOf(2, empty), "");
}

TEST(ProgramTest, FirstInstanceShowsItsWindowTakesHandoffsAndClosesOnAStopSignal) {
    LogCapture log;
    std::string error;
    const std::string runtime = qv::runtimeFolder(&error);
    ASSERT_FALSE(runtime.empty()) << error;
    qv::RegistryStore store(qv::RegistryStore::defaultPath());
    qv::InstanceStart start = qv::startInstance(runtime, store, "");
    ASSERT_EQ(start.role, qv::InstanceRole::first) << start.error;
    {
        qv::Program program(store, std::move(start.server), "");
        qv::TMainForm& form = program.mainForm();
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_EQ(form.windowTitle(), "Quorvane");
        const QPixmap grab = form.grab();
        EXPECT_FALSE(grab.isNull());
        EXPECT_EQ(grab.size(), form.size());

        // A later start, as another process would: its own store, and it waits for the window.
        std::atomic<int> role{-1};
        std::thread later([&] {
            qv::RegistryStore own(qv::RegistryStore::defaultPath());
            role = int(qv::startInstance(runtime, own, "/data/handed.zt").role);
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return role >= 0; }, 60000));
        later.join();
        EXPECT_EQ(role, int(qv::InstanceRole::handedOver));
        EXPECT_TRUE(log.saw("\"/data/handed.zt\" is not opened"));

        ::raise(SIGTERM);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 10000));
    }
    // Gone cleanly: the next start is the first instance again.
    qv::InstanceStart next = qv::startInstance(runtime, store, "");
    EXPECT_EQ(next.role, qv::InstanceRole::first) << next.error;
}

}  // namespace
