// Locks between processes: which locks exclude which in both lock schemes,
// and how the attempt count and the delay shape the waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "child_process.h"
#include "lock_helpers.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/lock4.h"
#include "xbase/table4.h"
#include "xbase/util4.h"

namespace {

enum class Kind : int32_t { file, append, recordN, recordM };
const Kind kKinds[] = {Kind::file, Kind::append, Kind::recordN, Kind::recordM};
const char* name(Kind k) {
    const char* names[] = {"file", "append", "record n", "record m"};
    return names[static_cast<int>(k)];
}

constexpr int32_t kRecordN = 3, kRecordM = 4;
constexpr int32_t kUnlock = 100, kUnlockAfter = 101;  // commands besides the kinds
constexpr int32_t kNoAnswer = -99999;

int32_t lockAs(table4* t, Kind k) {
    switch (k) {
        case Kind::file:
            return table4lockFile(t);
        case Kind::append:
            return table4lockAppend(t);
        case Kind::recordN:
            return table4lockRecord(t, kRecordN);
        case Kind::recordM:
            return table4lockRecord(t, kRecordM);
    }
    return kNoAnswer;
}

// The file lock covers everything; otherwise only the same lock conflicts.
bool conflicts(Kind a, Kind b) {
    return a == Kind::file || b == Kind::file || a == b;
}

struct Command {
    int32_t what;  // a Kind, kUnlock or kUnlockAfter
    int32_t arg;   // kUnlockAfter: hundredths of a second to wait first
};

// Another process with the table open shared, keeping every lock it takes
// until told to unlock. Each command is answered with the library's result.
class Peer {
  public:
    explicit Peer(const std::string& path)
        : child_([path](int in, int out) { serve(path, in, out); }) {}
    int32_t ask(int32_t what, int32_t arg = 0) {
        child_.sendValue(Command{what, arg});
        return child_.receiveValue<int32_t>(kNoAnswer);
    }
    int32_t lock(Kind k) { return ask(static_cast<int32_t>(k)); }

  private:
    static void serve(const std::string& path, int in, int out) {
        env4 env;
        (void)env4init(&env, env4version);
        env.autoOpen = 0;
        env.lockAttempts = 1;
        env.unlockAuto = 0;
        table4* t = table4open(&env, path.c_str());
        Command c{};
        while (readValue(in, c)) {
            int32_t rc = kNoAnswer;
            if (t != nullptr && c.what == kUnlockAfter) {
                writeValue(out, int32_t{0});
                u4delayHundredth(c.arg);
                (void)table4unlock(t);
                continue;
            }
            if (t != nullptr)
                rc = c.what == kUnlock ? table4unlock(t) : lockAs(t, static_cast<Kind>(c.what));
            error4setCode(&env, 0);
            writeValue(out, rc);
        }
        if (t != nullptr) (void)table4close(t);
        (void)env4release(&env);
    }
    Child child_;
};

class LockProcesses : public LockTest {
  protected:
    void SetUp() override {
        LockTest::SetUp();
        env.lockAttempts = 1;
        env.unlockAuto = 0;
    }
};

TEST_F(LockProcesses, ConflictTableInBothSchemes) {
    for (bool v30 : {false, true}) {
        SCOPED_TRACE(v30 ? "high scheme" : "low scheme");
        std::string path = makeLockTable(dir, v30 ? "high.dbf" : "low.dbf", v30);
        table4* t = table4open(&env, path.c_str());
        ASSERT_NE(t, nullptr);
        for (Kind held : kKinds) {
            Peer peer(path);
            ASSERT_EQ(peer.lock(held), 0) << name(held);
            for (Kind wanted : kKinds) {
                EXPECT_EQ(lockAs(t, wanted), conflicts(held, wanted) ? r4locked : 0)
                    << "other process holds " << name(held) << ", we ask for " << name(wanted);
                EXPECT_EQ(table4unlock(t), 0);
            }
            // Once released, everything is free again.
            ASSERT_EQ(peer.ask(kUnlock), 0);
            EXPECT_EQ(lockAs(t, held), 0) << name(held);
            EXPECT_EQ(table4unlock(t), 0);
        }
        EXPECT_EQ(table4close(t), 0);
    }
}

// The waits between attempts are sleeps that never end early, so the configured
// waits are an exact lower bound. A slow machine (sanitizers, a loaded CI host) may
// take up to kSlack longer; the cases without a wait use a delay longer than that,
// so that a wait after the last attempt would still show.
using Seconds = std::chrono::duration<double>;
constexpr Seconds kSlack{4.0};

struct RetryCase {
    int32_t attempts;
    int32_t delay;  // hundredths of a second
};

const RetryCase kRetries[] = {
    {1, 1000},  // one try, no wait
    {0, 1000},  // 0 counts as 1
    {3, 50},    // three tries, two waits of half a second
    {4, 10},    // four tries, three waits of a tenth
};

std::chrono::milliseconds hundredths(int32_t n) {
    return std::chrono::milliseconds(int64_t{n} * 10);
}

// The waits a refused lock makes: one between each two attempts.
std::chrono::milliseconds configuredWaits(const RetryCase& c) {
    return (std::max(c.attempts, 1) - 1) * hundredths(c.delay);
}

TEST_F(LockProcesses, AttemptsAndDelayShapeTheWaiting) {
    std::string path = makeLockTable(dir, "retry.dbf", false);
    Peer peer(path);
    ASSERT_EQ(peer.lock(Kind::recordN), 0);
    table4* t = table4open(&env, path.c_str());
    ASSERT_NE(t, nullptr);
    for (const RetryCase& c : kRetries) {
        SCOPED_TRACE(testing::Message() << c.attempts << " attempts, delay " << c.delay);
        env.lockAttempts = c.attempts;
        env.lockDelay = c.delay;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(table4lockRecord(t, kRecordN), r4locked);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, configuredWaits(c)) << Seconds(took).count() << " s";
        EXPECT_LT(took, configuredWaits(c) + kSlack) << Seconds(took).count() << " s";
    }
    // Unlimited attempts wait until the other process lets go: at least the peer's own
    // wait, which starts after the clock here, and at most one delay more.
    env.lockAttempts = -1;
    env.lockDelay = 5;
    const int32_t peerWait = 40;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(peer.ask(kUnlockAfter, peerWait), 0);
    EXPECT_EQ(table4lockRecord(t, kRecordN), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, hundredths(peerWait)) << Seconds(took).count() << " s";
    EXPECT_LT(took, hundredths(peerWait + env.lockDelay) + kSlack) << Seconds(took).count() << " s";
    EXPECT_EQ(peer.lock(Kind::recordN), r4locked);
}

}  // namespace
