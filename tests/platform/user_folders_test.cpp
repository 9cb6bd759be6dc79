#include "platform/user_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "temp_folder.h"

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(UserFolders, TheProgramFolderIsTheExecutablesWithItsSlash) {
    const std::string& folder = qv::programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(folder, self.substr(0, self.rfind('/') + 1));
}

TEST(UserFolders, ConfigAndDataFoldersFollowTheEnvironment) {
    ScopedEnv home("HOME", "/home/me");
    {
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        ScopedEnv data("XDG_DATA_HOME", nullptr);
        ScopedEnv own("QUORVANE_HOME", nullptr);
        EXPECT_EQ(qv::configFolder(), "/home/me/.config/quorvane/");
        EXPECT_EQ(qv::recentListPath(), "/home/me/.local/share/recently-used.xbel");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
        ScopedEnv data("XDG_DATA_HOME", "/data/");
        ScopedEnv own("QUORVANE_HOME", nullptr);
        EXPECT_EQ(qv::configFolder(), "/cfg/quorvane/");
        EXPECT_EQ(qv::dataFolder(), "/data/");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "relative");  // not absolute: ignored
        ScopedEnv own("QUORVANE_HOME", "/tmp/test-home");
        EXPECT_EQ(qv::configFolder(), "/tmp/test-home/");
    }
}

TEST(UserFolders, TheRuntimeFolderIsPrivateToTheUser) {
    TempFolder dir;
    std::string error;
    ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().c_str());
    EXPECT_EQ(qv::runtimeFolder(&error), dir / "quorvane/") << error;
    struct stat st {};
    ASSERT_EQ(stat((dir / "quorvane").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_EQ(chmod((dir / "quorvane").c_str(), 0755), 0);  // opened up by someone: closed again
    EXPECT_EQ(qv::runtimeFolder(&error), dir / "quorvane/") << error;
    ASSERT_EQ(stat((dir / "quorvane").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A relative value is not a runtime folder; /tmp serves instead.
    ScopedEnv relative("XDG_RUNTIME_DIR", "relative/run");
    EXPECT_EQ(qv::runtimeFolder(&error), "/tmp/quorvane-" + std::to_string(getuid()) + "/")
        << error;
}

}  // namespace
