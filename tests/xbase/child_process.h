#pragma once
// Test helper: a forked child process that talks to the test over two pipes.
// The child runs `body(in, out)`: it reads what the test sends from `in` and
// answers on `out`, then exits without running the parent's destructors.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "xbase/file/file4.h"

// Reads one value; false at the end of the pipe.
template <typename T>
bool readValue(int fd, T& value) {
    char* at = reinterpret_cast<char*>(&value);
    size_t done = 0;
    while (done < sizeof value) {
        ssize_t got = read(fd, at + done, sizeof value - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

template <typename T>
bool writeValue(int fd, const T& value) {
    return write(fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

inline char await(int in) {
    char c = 0;
    return readValue(in, c) ? c : 0;
}

inline void answer(int out, char c) {
    if (!writeValue(out, c)) _exit(2);
}

// Runs body in a forked child that ends at its nth write to a file (0: never; half: midway
// through that write); the child's exit code, or -1 when it did not exit by itself.
inline int runChildEndingAtWrite(int nth, bool half, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (nth > 0) file4exitAtWrite(0, nth, half);
        _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Child {
  public:
    explicit Child(const std::function<void(int in, int out)>& body) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(toChild[1]);
            close(fromChild[0]);
            body(toChild[0], fromChild[1]);
            _exit(0);
        }
        close(toChild[0]);
        close(fromChild[1]);
        out_ = toChild[1];
        in_ = fromChild[0];
    }
    ~Child() {
        close(out_);
        close(in_);
        int status = 0;
        if (pid_ > 0) waitpid(pid_, &status, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void send(char c) { ASSERT_TRUE(writeValue(out_, c)); }
    // Something the child sent (or its end) waits to be read.
    bool ready() const {
        pollfd p{in_, POLLIN, 0};
        return poll(&p, 1, 0) > 0;
    }
    char receive() { return await(in_); }
    template <typename T>
    void sendValue(const T& value) {
        ASSERT_TRUE(writeValue(out_, value));
    }
    // The child's answer, or `otherwise` when it sent none.
    template <typename T>
    T receiveValue(T otherwise) {
        T value{};
        return readValue(in_, value) ? value : otherwise;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1, in_ = -1;
};
