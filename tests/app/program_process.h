#pragma once
// Test helper: the quorvane program started as a real process with an environment of the test's
// choosing, its standard error kept in a file. The destructor kills and reaps a process that is
// still running, so a failing test leaves none behind.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// This process's environment with some variables changed: a value sets one, nothing removes it.
inline std::vector<std::string> environmentWith(
    const std::map<std::string, std::optional<std::string>>& changes) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (!changes.count(text.substr(0, text.find('=')))) env.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (value) env.push_back(name + "=" + *value);
    return env;
}

class ProgramProcess {
  public:
    // environment: "NAME=value" entries, the whole environment of the process.
    ProgramProcess(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment, std::string errorFile)
        : errorFile_(std::move(errorFile)) {
        std::vector<std::string> all{QV_QUORVANE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env = environment;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile_.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ProgramProcess() {
        if (pid_ > 0 && !exitCode_) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void kill(int signal) { ::kill(pid_, signal); }

    // Its exit code (128 + the signal that ended it), or nothing while it still runs after
    // timeoutMs.
    std::optional<int> wait(int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!exitCode_) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_)
                exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (done < 0 || std::chrono::steady_clock::now() >= deadline)
                break;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return exitCode_;
    }
    bool running() { return !wait(0); }

    // What it wrote to standard error so far.
    std::string errors() const {
        std::ifstream in(errorFile_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    pid_t pid_ = -1;
    std::string errorFile_;
    std::optional<int> exitCode_;
};
