#pragma once
// Test helper: the helper program (tests/platform/helpers) started as a real process with its
// standard input and output on pipes. Lines go in and come out; the destructor kills and reaps
// a child that is still running, so a failing test leaves no process behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SpawnedChild {
  public:
    // Starts the helper program with these arguments (the role first).
    explicit SpawnedChild(const std::vector<std::string>& args) {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0) return;
        if (pipe2(fromChild, O_CLOEXEC) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return;
        }
        std::vector<std::string> all{QV_PLATFORM_CHILD};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) argv.push_back(arg.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fromChild[0];
    }
    ~SpawnedChild() {
        if (in_ >= 0) close(in_);
        if (out_ >= 0) close(out_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    SpawnedChild(const SpawnedChild&) = delete;
    SpawnedChild& operator=(const SpawnedChild&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    bool sendLine(std::string_view line) {
        std::string text(line);
        text += '\n';
        return write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    // Closes the child's standard input (it sees the end).
    void closeInput() {
        if (in_ >= 0) close(in_);
        in_ = -1;
    }

    // The next line it wrote, without '\n'; nothing at its end or after timeoutMs.
    std::optional<std::string> readLine(int timeoutMs = 20000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::size_t newline = buffer_.find('\n');
            if (newline != std::string::npos) {
                std::string line = buffer_.substr(0, newline);
                buffer_.erase(0, newline + 1);
                return line;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{out_, POLLIN, 0};
            int ready = poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) return std::nullopt;
            char chunk[4096];
            ssize_t got = read(out_, chunk, sizeof chunk);
            if (got <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    void kill(int signal) { ::kill(pid_, signal); }

    // Its exit code, or 128 + the signal that ended it.
    int wait() {
        int status = 0;
        if (waitpid(pid_, &status, 0) != pid_) return -1;
        reaped_ = true;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return 128 + WTERMSIG(status);
    }

  private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool reaped_ = false;
    std::string buffer_;
};
