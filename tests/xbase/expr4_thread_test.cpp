// Four threads, each with its own environment and table, evaluate at once.
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "expr_fixture.h"
#include "xbase/date4.h"
#include "xbase/expr4.h"
#include "xbase/key4.h"
#include "xbase/mem4.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 3000;

std::string digits(int64_t v, size_t width) {
    std::string s = std::to_string(v);
    return std::string(width > s.size() ? width - s.size() : 0, ' ') + s;
}

// Evaluates three expressions per round against values only this thread
// writes; returns the number of wrong results.
int evaluateRounds(const std::string& folder, int id, std::atomic<int>& ready) {
    ExprTable t(folder);
    if (t.t == nullptr) return kRounds;
    expression4* text = expr4parse(t.t, "UPPER(NAME)+STR(COUNT,8)+DTOS(BORN+1)", nullptr);
    expression4* amount = expr4parse(t.t, "AMOUNT*2", nullptr);
    expression4* test = expr4parse(t.t, "COUNT > 0 .AND. 'x' $ NAME", nullptr);
    if (text == nullptr || amount == nullptr || test == nullptr) return kRounds;
    ready.fetch_add(1);
    while (ready.load() < kThreads) std::this_thread::yield();

    int wrong = 0;
    for (int k = 0; k < kRounds; ++k) {
        int32_t count = id * 100000 + k - kRounds / 2;
        std::string name = "t" + std::to_string(id) + (k % 2 ? "x" : "y") + std::to_string(k);
        int32_t born = 2451545 + id * 1000 + k;
        t.put("NAME", name);
        t.putRaw<int32_t>("COUNT", count);
        t.putDay("BORN", born);
        t.putNumber("AMOUNT", count / 4.0);

        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        upper.resize(10, ' ');
        char next[8];
        (void)date4fromJulian(next, born + 1);
        std::string expected = upper + digits(count, 8) + std::string(next, 8);

        char* result = nullptr;
        int32_t len = expr4evaluate(text, &result);
        if (len != 26 || std::string(result, len) != expected) ++wrong;

        char* key = nullptr;
        uint8_t want[8];
        key4fromDouble(want, count / 2.0);
        len = expr4key(amount, &key, nullptr);
        if (len != 8 || std::memcmp(key, want, 8) != 0) ++wrong;

        bool truth = count > 0 && k % 2 == 1;
        if (expr4true(test) != static_cast<int32_t>(truth)) ++wrong;
    }
    expr4free(text);
    expr4free(amount);
    expr4free(test);
    return wrong;
}

TEST(ExprThreads, FourEnvironmentsEvaluateAtOnce) {
    std::vector<TempDir> dirs(kThreads);
    std::atomic<int> ready{0};
    std::vector<int> wrong(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] { wrong[i] = evaluateRounds(dirs[i].path(), i, ready); });
    for (std::thread& th : threads) th.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(wrong[i], 0) << "thread " << i;
}

// True once thread `tid` of this process sits in a futex wait, where a thread blocked on a
// mutex sleeps.
bool waitsOnAFutex(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
    long number = -1;
    return (in >> number) && number == SYS_futex;
}

TEST(ExprThreads, AnEvaluationWaitsForTheEvaluatorLock) {
    TempDir dir;
    ExprTable t(dir.path());
    ASSERT_NE(t.t, nullptr);
    t.put("NAME", "abc");
    expression4* x = expr4parse(t.t, "UPPER(NAME)", nullptr);
    ASSERT_NE(x, nullptr);
    std::atomic<pid_t> tid{0};
    std::atomic<bool> finished{false};
    std::string result;
    mem4evalLock();
    std::thread evaluator([&] {
        tid = gettid();
        char* out = nullptr;
        int32_t len = expr4evaluate(x, &out);
        if (len > 0) result.assign(out, len);
        finished = true;
    });
    // The evaluation has started and either sleeps on a lock or ran through: only the
    // first proves that it waits, and it must not have finished while the lock is held.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    bool waiting = false;
    while (!finished && std::chrono::steady_clock::now() < deadline) {
        pid_t id = tid.load();
        if (id != 0 && waitsOnAFutex(id)) {
            waiting = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(waiting);
    EXPECT_FALSE(finished.load());
    mem4evalUnlock();
    evaluator.join();
    EXPECT_EQ(result, "ABC       ");
    expr4free(x);
}

}  // namespace
