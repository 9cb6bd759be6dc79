// The quorvane executable as real processes, offscreen, each test with a runtime folder and a
// settings folder of its own: the first start stays, later starts hand their path over and end,
// and a first instance killed outright does not stop the next start.

#include "app/program_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>

#include "platform/registry.h"
#include "platform/single_instance.h"
#include "platform/temp_folder.h"

namespace {

constexpr int kWaitMs = 60000;  // a sanitised build on a busy machine starts slowly

class ProgramProcessTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(folder.path().empty());
        std::filesystem::create_directory(folder / "runtime");
        std::filesystem::permissions(folder / "runtime", std::filesystem::perms::owner_all);
        std::filesystem::create_directory(folder / "home");
    }

    std::unique_ptr<ProgramProcess> start(const std::vector<std::string>& args,
                                          const std::string& name) {
        auto process = std::make_unique<ProgramProcess>(
            args,
            environmentWith({{"QT_QPA_PLATFORM", "offscreen"},
                             {"XDG_RUNTIME_DIR", folder / "runtime"},
                             {"QUORVANE_HOME", folder / "home"},
                             {"DISPLAY", std::nullopt},
                             {"WAYLAND_DISPLAY", std::nullopt}}),
            folder / (name + ".err"));
        EXPECT_TRUE(process->started());
        return process;
    }

    std::string socketPath() { return folder / "runtime/quorvane/instance.sock"; }

    // Waits until the process has written text to standard error (or ended).
    bool waitForError(ProgramProcess& process, const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
        while (process.errors().find(text) == std::string::npos) {
            if (!process.running() || std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    static std::string notOpened(const std::string& path) {
        return "\"" + path + "\" is not opened";
    }

    TempFolder folder;
};

TEST_F(ProgramProcessTest, ALaterStartHandsItsPathToTheFirstAndEndsAndTheFirstClosesCleanly) {
    auto first = start({}, "first");
    // Listening once the socket is there; it answers once its window is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!std::filesystem::exists(socketPath()) && first->running() &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(first->running()) << first->errors();

    // Without a path the first only comes to the front.
    auto bare = start({}, "bare");
    EXPECT_EQ(bare->wait(kWaitMs), 0) << bare->errors();
    // The arguments are one name, spaces and all.
    auto later = start({"/data/my", "people.zt"}, "later");
    EXPECT_EQ(later->wait(kWaitMs), 0) << later->errors();

    // The later start ends only once the first has handled its path.
    const std::string errors = first->errors();
    EXPECT_NE(errors.find(notOpened("/data/my people.zt")), std::string::npos) << errors;
    EXPECT_EQ(errors.find("is not opened"), errors.rfind("is not opened")) << errors;
    qv::RegistryStore store((folder / "home") + "/registry");
    EXPECT_EQ(qv::readStartFile(store), "");

    first->kill(SIGTERM);
    EXPECT_EQ(first->wait(kWaitMs), 0) << first->errors();
    EXPECT_FALSE(std::filesystem::exists(socketPath()));
}

TEST_F(ProgramProcessTest, AStartAfterTheFirstWasKilledBecomesTheFirst) {
    auto killed = start({"/data/killed.zt"}, "killed");
    ASSERT_TRUE(waitForError(*killed, notOpened("/data/killed.zt"))) << killed->errors();
    killed->kill(SIGKILL);
    EXPECT_EQ(killed->wait(kWaitMs), 128 + SIGKILL);
    EXPECT_TRUE(std::filesystem::exists(socketPath()));  // left behind

    // A first start with a path opens it when its window shows: only a first instance does.
    auto next = start({"/data/a.zt"}, "next");
    ASSERT_TRUE(waitForError(*next, notOpened("/data/a.zt"))) << next->errors();
    auto later = start({"/data/b.zt"}, "later");
    EXPECT_EQ(later->wait(kWaitMs), 0) << later->errors();
    EXPECT_NE(next->errors().find(notOpened("/data/b.zt")), std::string::npos) << next->errors();

    next->kill(SIGTERM);
    EXPECT_EQ(next->wait(kWaitMs), 0) << next->errors();
}

}  // namespace
