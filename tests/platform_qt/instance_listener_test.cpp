// The first instance's listener on the event loop: a later start, here a worker thread with a
// settings store of its own as a second process would have, is served on the user-interface
// thread and waits until the handoff callback has run; later starts go one at a time.

#include "platform_qt/instance_listener.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/temp_folder.h"

namespace {

TEST(InstanceListenerTest, LaterStartsAreServedOnTheUserInterfaceThread) {
    TempFolder folder;
    qv::RegistryStore store(folder / "registry");
    qv::InstanceStart first = qv::startInstance(folder.path(), store, "");
    ASSERT_EQ(first.role, qv::InstanceRole::first) << first.error;
    qv::InstanceListener listener(std::move(first.server));

    std::vector<std::string> received;
    bool onUiThread = true;
    listener.setOnHandoff([&] {
        onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
        received.push_back(qv::readStartFile(store));
        QTest::qWait(50);  // as a modal dialog of the open routine runs the event loop
    });

    const std::vector<std::string> paths = {"/data/one.zt", "/data/two words.zt", ""};
    std::atomic<int> handedOver{0};
    std::vector<std::thread> starts;
    for (const std::string& path : paths) {
        starts.emplace_back([&, path] {
            qv::RegistryStore own(folder / "registry");
            if (qv::startInstance(folder.path(), own, path).role == qv::InstanceRole::handedOver)
                ++handedOver;
        });
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return handedOver == 3; }, 60000));
    for (std::thread& t : starts) t.join();

    ASSERT_EQ(received.size(), 3u);
    std::vector<std::string> sorted = received, expected = paths;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
    EXPECT_TRUE(onUiThread);
    EXPECT_EQ(qv::readStartFile(store), "");  // each start removed its value again
}

}  // namespace
