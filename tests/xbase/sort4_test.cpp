// The external sort: key order with ties in record-number order, in memory
// and through spilled runs; its temporary file; two processes sorting in one
// folder; failures while spilling and while merging.
#include "xbase/index/sort4.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/file/file4.h"
#include "xbase/table/env4release.h"

namespace {

struct Item {
    std::string key;
    int32_t record;
    std::string info;
    bool operator==(const Item&) const = default;
};

// The order the sort must give: key bytes unsigned, then record number.
bool modelLess(const Item& a, const Item& b) {
    int c = std::memcmp(a.key.data(), b.key.data(), a.key.size());
    return c != 0 ? c < 0 : a.record < b.record;
}

std::vector<Item> modelSort(std::vector<Item> items) {
    std::sort(items.begin(), items.end(), modelLess);
    return items;
}

enum class Pattern { random, ascending, descending, equal };

std::string randomBytes(std::mt19937& rng, int32_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);  // 0x00 and 0xFF included
    return s;
}

// `count` items with keys drawn from `distinct` keys, unique record numbers.
std::vector<Item> makeItems(uint32_t seed, int32_t count, int32_t keyLen, int32_t infoLen,
                            int32_t distinct, Pattern pattern) {
    std::mt19937 rng(seed);
    std::vector<std::string> keys;
    for (int32_t i = 0; i < distinct; ++i) keys.push_back(randomBytes(rng, keyLen));
    std::vector<Item> items;
    for (int32_t i = 0; i < count; ++i) {
        std::string key;
        if (pattern == Pattern::random) {
            key = keys[rng() % keys.size()];
        } else if (pattern == Pattern::equal) {
            key = keys[0];
        } else {
            uint32_t v = pattern == Pattern::ascending ? i : count - i;
            key.assign(keyLen, '\0');
            for (int32_t b = 0; b < 4 && b < keyLen; ++b)
                key[keyLen - 1 - b] = static_cast<char>(v >> (8 * b));
        }
        items.push_back({key, i + 1, randomBytes(rng, infoLen)});
    }
    if (pattern == Pattern::random) std::shuffle(items.begin(), items.end(), rng);
    return items;
}

struct SortResult {
    int32_t rc = 0;  // the first failure, 0 when every call went well
    int32_t runs = 0;
    bool fileWhileGetting = false;
    std::vector<Item> out;
};

// Puts every item, takes them all out and frees the sort.
SortResult runSort(env4* env, const TempDir& dir, const std::vector<Item>& items, int32_t keyLen,
                   int32_t infoLen, int32_t blocksMax) {
    SortResult r;
    sort4 s;
    r.rc = sort4init(&s, env, keyLen, infoLen);
    s.blocksMax = blocksMax;
    for (size_t i = 0; i < items.size() && r.rc == 0; ++i)
        r.rc = sort4put(&s, items[i].record, items[i].key.data(), items[i].info.data());
    if (r.rc == 0) r.rc = sort4getInit(&s);
    r.runs = s.runs;
    r.fileWhileGetting = !dir.entries().empty();
    while (r.rc == 0) {
        int32_t record = 0;
        void *key = nullptr, *info = nullptr;
        int32_t rc = sort4get(&s, &record, &key, &info);
        if (rc == 1) break;
        if (rc != 0) {
            r.rc = rc;
            break;
        }
        r.out.push_back({std::string(static_cast<char*>(key), keyLen), record,
                         std::string(static_cast<char*>(info), infoLen)});
    }
    sort4free(&s);
    return r;
}

class Sort4Test : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TEMP", dir.path().c_str(), 1);
        ASSERT_EQ(env4init(&env, env4version), 0);
    }
    void TearDown() override {
        (void)env4release(&env);
        unsetenv("TEMP");
    }
    TempDir dir;
    env4 env;
};

// What a caller counts in its memory budget holds while items go in and while they are
// merged out, for small and large items and pools.
TEST_F(Sort4Test, MemoryStaysWithinTheMostItStates) {
    struct Case {
        int32_t keyLen, poolBytes;
    };
    for (const Case c : {Case{4, 1024}, Case{38, 61440}, Case{200, 8192}}) {
        SCOPED_TRACE(std::to_string(c.keyLen) + " / " + std::to_string(c.poolBytes));
        env.memSizeSortPool = c.poolBytes;
        const int64_t most = sort4memoryMost(&env, c.keyLen, 0);
        sort4 s;
        ASSERT_EQ(sort4init(&s, &env, c.keyLen, 0), 0);
        int64_t held = 0;
        auto note = [&] {
            held = std::max(held, int64_t{s.blocks.nLink} * s.blockBytes +
                                      int64_t{s.pointersMax} * int64_t(sizeof(char*)) + s.spoolLen);
        };
        // Enough items for several runs.
        const std::vector<Item> items =
            makeItems(3, 3 * (c.poolBytes / 4) + 7, c.keyLen, 0, 1000, Pattern::random);
        for (const Item& item : items) {
            ASSERT_EQ(sort4put(&s, item.record, item.key.data(), nullptr), 0);
            note();
        }
        ASSERT_EQ(sort4getInit(&s), 0);
        note();
        EXPECT_GE(s.runs, 3);
        EXPECT_GT(held, 0);
        EXPECT_LE(held, most);
        EXPECT_GT(held, most / 2);  // a bound so loose would waste the budget
        sort4free(&s);
    }
}

TEST_F(Sort4Test, HundredThousandKeysWithOneBlockSpillRunsAndMergeInKeyOrder) {
    std::vector<Item> items = makeItems(1, 100000, 10, 4, 5000, Pattern::random);
    SortResult r = runSort(&env, dir, items, 10, 4, 1);
    ASSERT_EQ(r.rc, 0);
    EXPECT_GE(r.runs, 3);
    EXPECT_TRUE(r.fileWhileGetting);
    EXPECT_TRUE(r.out == modelSort(items));
    EXPECT_TRUE(dir.entries().empty());  // the runs went with the sort
}

TEST_F(Sort4Test, KeyAndInfoLengthsWithManyDuplicates) {
    struct Case {
        int32_t keyLen, infoLen, count;
        int32_t poolBytes;  // 0: the default
        int32_t blocksMax;
        int32_t distinct;
        Pattern pattern;
        bool buffered;  // the block buffer runs under the temporary file
        bool spills;
    } cases[] = {
        {1, 0, 20000, 4096, 0, 3, Pattern::random, false, true},
        {5, 4, 20000, 4096, 2, 50, Pattern::random, false, true},
        {10, 0, 3000, 0, 0, 100, Pattern::random, false, false},
        {38, 16, 10000, 8192, 1, 200, Pattern::random, false, true},
        {100, 3, 4000, 0, 1, 20, Pattern::random, false, true},
        {240, 8, 3000, 16384, 1, 40, Pattern::random, false, true},
        {240, 0, 2000, 0, 0, 7, Pattern::random, false, false},
        {0, 4, 5000, 4096, 0, 1, Pattern::random, false, true},
        {10, 4, 20000, 4096, 0, 500, Pattern::random, true, true},
        // Sorted, reversed and equal input: the quicksort's hard cases.
        {10, 0, 20000, 4096, 0, 1, Pattern::ascending, false, true},
        {10, 0, 20000, 4096, 0, 1, Pattern::descending, false, true},
        {10, 0, 15000, 0, 0, 1, Pattern::equal, false, false},
        {10, 0, 15000, 4096, 1, 1, Pattern::equal, false, true},
    };
    uint32_t seed = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE("key " + std::to_string(c.keyLen) + ", info " + std::to_string(c.infoLen) +
                     ", " + std::to_string(c.count) + " items");
        env.memSizeSortPool = c.poolBytes != 0 ? c.poolBytes : 61440;
        if (c.buffered) {
            env.bufferMemory = 64 * 1024;
            ASSERT_EQ(buffer4start(&env), 0);
        }
        std::vector<Item> items =
            makeItems(seed++, c.count, c.keyLen, c.infoLen, c.distinct, c.pattern);
        SortResult r = runSort(&env, dir, items, c.keyLen, c.infoLen, c.blocksMax);
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.runs > 0, c.spills);
        if (!c.buffered) {
            EXPECT_EQ(r.fileWhileGetting, c.spills);
        }
        EXPECT_TRUE(r.out == modelSort(items));
        EXPECT_TRUE(dir.entries().empty());
        if (c.buffered) {
            ASSERT_EQ(buffer4suspend(&env), 0);
        }
    }
}

TEST_F(Sort4Test, EmptySortGivesNothingAndMakesNoFile) {
    sort4 s;
    ASSERT_EQ(sort4init(&s, &env, 10, 2), 0);
    ASSERT_EQ(sort4getInit(&s), 0);
    int32_t record = 0;
    void *key = nullptr, *info = nullptr;
    EXPECT_EQ(sort4get(&s, &record, &key, &info), 1);
    EXPECT_EQ(sort4get(&s, &record, &key, &info), 1);
    EXPECT_TRUE(dir.entries().empty());
    sort4free(&s);
    EXPECT_EQ(env.errorCode, 0);
}

TEST_F(Sort4Test, RefusesBadArgumentsAndCallsOutOfTurn) {
    struct Case {
        int32_t keyLen, infoLen, poolBytes, want;
    } inits[] = {
        {-1, 0, 61440, e4parm},  {10, -1, 61440, e4parm},
        {10, 0, 1000, e4parm},    // pool too small for the pointer array
        {5000, 0, 4096, e4parm},  // an item larger than a block
        {10, 0, 1024, 0},
    };
    for (const Case& c : inits) {
        env.memSizeSortPool = c.poolBytes;
        sort4 s;
        EXPECT_EQ(sort4init(&s, &env, c.keyLen, c.infoLen), c.want)
            << c.keyLen << " " << c.poolBytes;
        EXPECT_EQ(env.errorCode, c.want);
        sort4free(&s);
        error4setCode(&env, 0);
    }
    env.memSizeSortPool = 61440;
    sort4 s;
    int32_t record = 0;
    void *key = nullptr, *info = nullptr;
    ASSERT_EQ(sort4init(&s, &env, 3, 0), 0);
    EXPECT_EQ(sort4get(&s, &record, &key, &info), e4struct);
    error4setCode(&env, 0);
    ASSERT_EQ(sort4put(&s, 1, "abc", nullptr), 0);
    error4raise(&env, e4write, 1);
    EXPECT_EQ(sort4put(&s, 2, "abd", nullptr), e4codeBase);
    EXPECT_EQ(sort4getInit(&s), e4codeBase);
    EXPECT_EQ(env.errorCode, e4write);
    error4setCode(&env, 0);
    ASSERT_EQ(sort4getInit(&s), 0);
    EXPECT_EQ(sort4put(&s, 3, "abe", nullptr), e4struct);
    error4setCode(&env, 0);
    ASSERT_EQ(sort4get(&s, &record, &key, &info), 0);
    EXPECT_EQ(record, 1);
    EXPECT_EQ(std::string(static_cast<char*>(key), 3), "abc");
    EXPECT_EQ(sort4get(&s, &record, &key, &info), 1);
    sort4free(&s);
}

TEST_F(Sort4Test, MoreRunsThanReadBuffersIsOutOfMemory) {
    // One 4096-byte block holds 19 items of 210 bytes: 20 runs or more cannot
    // each have a read buffer.
    env.memSizeSortPool = 4096;
    std::vector<Item> items = makeItems(8, 3000, 200, 6, 100, Pattern::random);
    SortResult r = runSort(&env, dir, items, 200, 6, 1);
    EXPECT_GE(r.runs, 20);
    EXPECT_EQ(r.rc, e4memory);
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(dir.entries().empty());
}

// Texts of the last raised error, for the checks of what a report names.
struct LastError {
    static inline int32_t code = 0;
    static inline std::string text1;
    static void hook(env4*, int32_t c, int32_t, const char* t1, const char*, const char*) {
        code = c;
        text1 = t1 != nullptr ? t1 : "";
    }
};

TEST_F(Sort4Test, CutRunIsAShortReadNamingTheTemporaryFile) {
    // Cut inside an item and on an item boundary: keys would be lost either way.
    for (int32_t extra : {3, 0}) {
        std::vector<Item> items = makeItems(77, 20000, 10, 0, 300, Pattern::random);
        sort4 s;
        ASSERT_EQ(sort4init(&s, &env, 10, 0), 0);
        s.blocksMax = 1;
        for (const Item& it : items) ASSERT_EQ(sort4put(&s, it.record, it.key.data(), nullptr), 0);
        ASSERT_EQ(sort4getInit(&s), 0);
        ASSERT_GT(s.runs, 1);
        std::string name = s.file.name;
        int32_t length = file4length(&s.file);
        ASSERT_EQ(truncate(name.c_str(), length / 2 / s.itemLen * s.itemLen + extra), 0);
        error4setHook(&LastError::hook);
        int32_t rc = 0, got = 0, record = 0;
        void *key = nullptr, *info = nullptr;
        while ((rc = sort4get(&s, &record, &key, &info)) == 0) ++got;
        error4setHook(nullptr);
        EXPECT_EQ(rc, e4read);
        EXPECT_LT(got, 20000);
        EXPECT_EQ(LastError::code, e4read);
        EXPECT_EQ(LastError::text1, name);
        sort4free(&s);
        EXPECT_TRUE(dir.entries().empty());  // removed after the failure too
        error4setCode(&env, 0);
    }
}

// Runs `body` in a child process and gives its exit code (-1 when it died).
template <typename Body>
int inChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(Sort4Test, TwoProcessesSortingInOneFolderEachGetTheirOwnKeys) {
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    // Each process puts half its items (spilling runs), then the parent looks
    // at the folder while the child waits: both temporary files are live at
    // once. Then both finish and check their own keys.
    auto sortAlongside = [&](uint32_t seed, const std::function<bool()>& meet) -> bool {
        std::vector<Item> items = makeItems(seed, 60000, 12, 4, 2000, Pattern::random);
        sort4 s;
        bool ok = sort4init(&s, &env, 12, 4) == 0;
        s.blocksMax = 1;
        size_t half = items.size() / 2;
        for (size_t i = 0; i < half && ok; ++i)
            ok = sort4put(&s, items[i].record, items[i].key.data(), items[i].info.data()) == 0;
        ok = ok && s.runs > 0 && meet();
        for (size_t i = half; i < items.size() && ok; ++i)
            ok = sort4put(&s, items[i].record, items[i].key.data(), items[i].info.data()) == 0;
        ok = ok && sort4getInit(&s) == 0;
        std::vector<Item> out;
        int32_t record, rc = 0;
        void *key, *info;
        while (ok && (rc = sort4get(&s, &record, &key, &info)) == 0)
            out.push_back({std::string(static_cast<char*>(key), 12), record,
                           std::string(static_cast<char*>(info), 4)});
        ok = ok && rc == 1 && out == modelSort(items);
        sort4free(&s);
        return ok;
    };
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        bool ok = sortAlongside(2, [&] {
            char c = 'x';
            return write(toParent[1], &c, 1) == 1 && read(toChild[0], &c, 1) == 1;
        });
        _exit(ok ? 0 : 1);
    }
    bool bothLive = false;
    bool ok = sortAlongside(3, [&] {
        char c = 0;
        if (read(toParent[0], &c, 1) != 1) return false;
        bothLive = dir.entries().size() == 2;
        return write(toChild[1], &c, 1) == 1;
    });
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(bothLive);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(dir.entries().empty());
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

TEST_F(Sort4Test, FailingRunWriteIsAnErrorAndLeavesNoFile) {
    // A file-size limit in a child process stands for a full disk; with the
    // block buffer running the failure comes when held blocks are written back.
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered" : "direct");
        int code = inChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{64 * 1024, 64 * 1024};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
            if (buffered) {
                env.bufferMemory = 256 * 1024;
                if (buffer4start(&env) != 0) return 11;
            }
            std::vector<Item> items = makeItems(5, 100000, 10, 4, 1000, Pattern::random);
            SortResult r = runSort(&env, dir, items, 10, 4, 1);
            if (r.rc >= 0) return 12;  // every key came back: the limit never bit
            if (env.errorCode != e4write) return 13;
            if (!dir.entries().empty()) return 14;
            return 0;
        });
        EXPECT_EQ(code, 0);
    }
}

TEST(Sort4Model, LONG_RandomConfigurationsAgainstTheModel) {
    TempDir dir;
    setenv("TEMP", dir.path().c_str(), 1);
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    std::mt19937 rng(99);
    for (int round = 0; round < 80; ++round) {
        int32_t keyLen = rng() % 241, infoLen = rng() % 20;
        int32_t count = rng() % 200000;
        int32_t distinct = 1 + rng() % 5000;
        int32_t blocksMax = rng() % 4;
        env.memSizeSortPool = 4096 << (rng() % 5);
        if (keyLen + 4 + infoLen > env.memSizeSortPool - 16) continue;
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<Item> items =
            makeItems(rng(), count, keyLen, infoLen, distinct, Pattern::random);
        SortResult r = runSort(&env, dir, items, keyLen, infoLen, blocksMax);
        // Bounded blocks can give only so many runs a read buffer of one item.
        int32_t perBlock = (env.memSizeSortPool - 16) / (keyLen + 4 + infoLen);
        if (blocksMax > 0 && r.runs > blocksMax * perBlock) {
            ASSERT_EQ(r.rc, e4memory);
            error4setCode(&env, 0);
        } else {
            ASSERT_EQ(r.rc, 0);
            ASSERT_TRUE(r.out == modelSort(items));
        }
        ASSERT_TRUE(dir.entries().empty());
    }
    (void)env4release(&env);
    unsetenv("TEMP");
}

}  // namespace
