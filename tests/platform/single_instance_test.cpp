#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hex_text.h"
#include "spawned_child.h"
#include "temp_folder.h"

namespace {

using qv::InstanceRole;

TEST(InstanceTitle, OursWhenItIsQuorvaneBeforeItsFirstDashOrParenthesis) {
    struct Case {
        const char* title;
        bool ours;
    };
    const Case cases[] = {
        {"Quorvane", true},
        {"Quorvane - Addresses.zt", true},
        {"Quorvane - my - notes", true},
        {"Quorvane (2)", true},
        {"Quorvane - notes (old)", true},
        {"Quorvane (copy) - notes", false},  // cut at " - " first: "Quorvane (copy)"
        {"Quorvane-notes", false},
        {"Quorvanes", false},
        {"QuorvaneX - notes", false},
        {"quorvane", false},
        {"Notes - Quorvane", false},
        {" Quorvane", false},
        {"Quorvane -", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(qv::isInstanceTitle(c.title), c.ours) << c.title;
}

class Instances : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(std::filesystem::create_directory(dir / "run")); }

    // A process of the program started with this command line.
    std::unique_ptr<SpawnedChild> start(const std::string& commandLine, int handlerDelayMs = 0) {
        return std::make_unique<SpawnedChild>(std::vector<std::string>{
            "inst", runtime, store, commandLine, std::to_string(handlerDelayMs)});
    }
    std::unique_ptr<SpawnedChild> startFirst(int handlerDelayMs = 0) {
        auto first = start("", handlerDelayMs);
        EXPECT_EQ(first->readLine(), "first");
        return first;
    }
    bool startFileExists() {
        qv::RegistryStore reader(store);
        qv::Registry reg(reader);
        return reg.openKeyReadOnly(qv::kFilesKey) == qv::RegResult::ok &&
               reg.valueExists(qv::kStartFileValue);
    }

    TempFolder dir;
    std::string runtime = dir / "run/";
    std::string store = dir / "registry";
};

TEST_F(Instances, ASecondStartHandsItsPathToTheFirstAndEnds) {
    auto first = startFirst();
    const std::string path = "/home/me/My Notes/it's \"here\"; $(rm -rf x).zt";
    auto second = start(path);
    EXPECT_EQ(second->readLine(), "handed");
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(first->readLine(), "got " + hexText(path));
    EXPECT_FALSE(startFileExists());

    // A start without arguments only brings the first to the front, even over a "StartFile"
    // that a dead second instance left behind.
    {
        qv::RegistryStore writer(store);
        qv::Registry reg(writer);
        ASSERT_EQ(reg.openKey(qv::kFilesKey, true), qv::RegResult::ok);
        ASSERT_EQ(reg.writeString(qv::kStartFileValue, "/stale.zt"), qv::RegResult::ok);
    }
    auto bare = start("");
    EXPECT_EQ(bare->readLine(), "handed");
    EXPECT_EQ(bare->wait(), 0);
    EXPECT_EQ(first->readLine(), "got ");
    EXPECT_FALSE(startFileExists());
}

TEST_F(Instances, AStartAfterTheFirstWasKilledBecomesTheFirst) {
    auto first = startFirst();
    first->kill(SIGKILL);
    EXPECT_EQ(first->wait(), 128 + SIGKILL);
    ASSERT_TRUE(std::filesystem::exists(runtime + "instance.sock"));  // left behind

    auto next = start("/data/next.zt");
    EXPECT_EQ(next->readLine(), "first");
    auto third = start("/data/third.zt");
    EXPECT_EQ(third->readLine(), "handed");
    EXPECT_EQ(third->wait(), 0);
    EXPECT_EQ(next->readLine(), "got " + hexText("/data/third.zt"));
}

TEST_F(Instances, SecondInstancesStartedTogetherAllDeliverTheirPaths) {
    // The first takes its time over each handoff, so the others queue meanwhile.
    auto first = startFirst(100);
    std::vector<std::unique_ptr<SpawnedChild>> seconds;
    std::set<std::string> expected;
    for (int i = 0; i < 4; ++i) {
        std::string path = "/data/file" + std::to_string(i) + ".zt";
        expected.insert("got " + hexText(path));
        seconds.push_back(start(path));
    }
    for (auto& second : seconds) {
        EXPECT_EQ(second->readLine(), "handed");
        EXPECT_EQ(second->wait(), 0);
    }
    std::set<std::string> received;
    for (int i = 0; i < 4; ++i) {
        std::optional<std::string> line = first->readLine();
        ASSERT_TRUE(line.has_value());
        received.insert(*line);
    }
    EXPECT_EQ(received, expected);
    EXPECT_FALSE(startFileExists());
}

TEST_F(Instances, AFolderPathBeyondASocketAddressStillServes) {
    std::string deep = runtime;
    while (deep.size() < 200) deep += "a-rather-long-folder-name/";
    ASSERT_TRUE(std::filesystem::create_directories(deep));
    qv::RegistryStore settings(store);
    qv::InstanceStart first = qv::startInstance(deep, settings, "");
    ASSERT_EQ(first.role, InstanceRole::first) << first.error;
    std::string received;
    first.server->setOnHandoff([&] { received = qv::readStartFile(settings); });
    std::thread serving([&] { first.server->servePending(20000); });
    qv::InstanceStart second = qv::startInstance(deep, settings, "/deep/path.zt");
    serving.join();
    EXPECT_EQ(second.role, InstanceRole::handedOver) << second.error;
    EXPECT_EQ(received, "/deep/path.zt");
}

}  // namespace
