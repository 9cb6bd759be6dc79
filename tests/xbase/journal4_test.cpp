// The commit journal over one plain file: the writes of a span, however they overlap, read
// back, reach the file and replay from the journal as the last of them left each byte; the
// in-place writes keep their order where a reader without the lock relies on it (a write
// made after another is never seen before it); a killed writer leaves the file whole.
#include "xbase/file/journal4.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "error_capture.h"
#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/table/env4release.h"

namespace {

constexpr int32_t kFileBytes = 4096;

struct Write {
    int32_t pos;
    std::string bytes;
};

// The file as the writes leave it.
std::string applied(std::string image, const std::vector<Write>& writes) {
    for (const Write& w : writes) {
        if (image.size() < size_t(w.pos) + w.bytes.size())
            image.resize(size_t(w.pos) + w.bytes.size(), '\0');
        image.replace(size_t(w.pos), w.bytes.size(), w.bytes);
    }
    return image;
}

class Journal4 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(env4init(&env, env4version), 0);
        for (int32_t i = 0; i < kFileBytes; ++i) initial.push_back(char('A' + i % 23));
        writeWhole(dataPath, initial);
    }
    void TearDown() override {
        close();
        journal4setBootIdForTest(nullptr);
        env.errorCode = 0;
        EXPECT_EQ(env4release(&env), 0);
    }
    // Opens the file and its journal and takes the journal's state as the lock holder does.
    void open() {
        const char* names[journal4slots] = {dataPath.c_str(), nullptr, nullptr, nullptr};
        ASSERT_EQ(journal4open(&journal, &env, journalPath.c_str(), sequencePath.c_str(), names),
                  0);
        ASSERT_EQ(file4open(&data, &env, dataPath.c_str(), 1), 0);
        data.kind = file4kindData;
        journal4attach(&journal, 0, &data);
        ASSERT_GE(journal4recover(&journal), 0);
        opened = true;
    }
    void close() {
        if (!opened) return;
        opened = false;
        journal4close(&journal);
        (void)file4close(&data);
    }
    // Makes the writes under one span and commits them: 0 or the commit's error.
    int32_t commit(const std::vector<Write>& writes) {
        journal4begin(&journal);
        for (const Write& w : writes)
            if (file4write(&data, w.pos, w.bytes.data(), int32_t(w.bytes.size())) != 0) return -1;
        return journal4end(&journal);
    }

    env4 env;
    TempDir dir;
    ErrorCapture errors;
    std::string dataPath = dir.file("data.bin");
    std::string journalPath = dir.file("data.jnl");
    std::string sequencePath = dir.file("data.seq");
    std::string initial;
    journal4 journal{};
    file4 data{};
    bool opened = false;
};

struct Case {
    const char* name;
    std::vector<Write> writes;
};

const Case kCases[] = {
    {"one after the other", {{0, "aaaa"}, {4, "bbbb"}, {8, "cc"}}},
    {"overlapping and reaching past", {{10, "dddddddd"}, {14, "eeeeeeee"}}},
    {"the same bytes twice", {{100, std::string(16, 'f')}, {100, std::string(16, 'g')}}},
    {"within, short of the end", {{200, std::string(32, 'h')}, {208, "iiii"}}},
    {"before the start", {{316, std::string(16, 'j')}, {300, std::string(20, 'k')}}},
    {"apart", {{1000, "ll"}, {3000, "mm"}, {1002, "nn"}}},
    {"past the end, leaving a gap", {{kFileBytes + 100, "oo"}, {kFileBytes + 102, "pp"}}},
};

TEST_F(Journal4, WritesOfASpanReadBackReachTheFileAndReplayAsTheLastLeftThem) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        writeWhole(dataPath, initial);
        std::remove(journalPath.c_str());
        const std::string want = applied(initial, c.writes);
        open();
        journal4begin(&journal);
        for (const Write& w : c.writes)
            ASSERT_EQ(file4write(&data, w.pos, w.bytes.data(), int32_t(w.bytes.size())), 0);
        std::string seen(want.size(), '?');
        EXPECT_EQ(file4read(&data, 0, seen.data(), int32_t(seen.size())), int32_t(want.size()));
        EXPECT_EQ(seen, want);
        EXPECT_EQ(readWhole(dataPath), initial);  // nothing in place before the commit
        ASSERT_EQ(journal4end(&journal), 0);
        close();
        EXPECT_EQ(readWhole(dataPath), want);
        // The machine went down before the in-place writes reached the disk: the journal
        // brings the file up to them.
        writeWhole(dataPath, initial);
        journal4setBootIdForTest("another boot");
        open();
        close();
        journal4setBootIdForTest(nullptr);
        EXPECT_EQ(readWhole(dataPath), want);
    }
}

// Writes made in turn, where a reader must never see a later one without an earlier one: the
// byte at 0 stands for an index's change counter, written last.
const Case kOrdered[] = {
    {"the counter after the bytes that follow it",
     {{16, std::string(1008, 'q')}, {0, std::string(16, 'r')}}},
    {"the counter after a block holding it", {{0, std::string(1024, 's')}, {0, "t"}}},
    {"the counter after bytes before and after it",
     {{512, std::string(512, 'u')}, {1, std::string(1023, 'v')}, {0, "w"}}},
};

TEST_F(Journal4, AWriterKilledAtEachInPlaceWriteNeverShowsALaterWriteWithoutAnEarlierOne) {
    for (const Case& c : kOrdered) {
        SCOPED_TRACE(c.name);
        const std::string want = applied(initial, c.writes);
        const std::string allButLast =
            applied(initial, std::vector<Write>(c.writes.begin(), c.writes.end() - 1));
        bool finished = false, sawAllButLast = false;
        for (int nth = 1; !finished && nth < 20; ++nth) {
            SCOPED_TRACE("in-place write " + std::to_string(nth));
            writeWhole(dataPath, initial);
            std::remove(journalPath.c_str());
            open();
            const pid_t pid = fork();
            if (pid == 0) {
                file4exitAtWrite(file4kindData, nth, false);
                _exit(commit(c.writes) == 0 ? 0 : 1);
            }
            int status = 0;
            waitpid(pid, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            ASSERT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == file4exitCode);
            finished = WEXITSTATUS(status) == 0;
            close();
            // What a reader without the lock finds at this moment.
            const std::string now = readWhole(dataPath);
            if (now[0] == want[0]) { EXPECT_EQ(now, want); }
            if (now == allButLast) sawAllButLast = true;
            // The next lock holder finishes the commit from the journal.
            open();
            close();
            EXPECT_EQ(readWhole(dataPath), want);
        }
        EXPECT_TRUE(finished);
        // The last write is a write of its own, made after the others.
        EXPECT_TRUE(sawAllButLast);
    }
}

TEST_F(Journal4, WritesFollowingOnFromTheLastOneReachTheFileInOneWrite) {
    // Blocks of a file written one after the other under a span: one in-place write.
    open();
    const pid_t pid = fork();
    if (pid == 0) {
        file4exitAtWrite(file4kindData, 2, false);
        _exit(commit({{1024, std::string(1024, 'x')},
                      {2048, std::string(1024, 'y')},
                      {2560, std::string(1536, 'z')}}) == 0
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The serial checksum that journals of earlier builds carry on every header, mark and record.
uint64_t serialChecksum(const char* p, size_t n) {
    uint64_t h = 0x6a09e667f3bcc909ull ^ n;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x9e3779b97f4a7c15ull;
        h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ uint8_t(p[i])) * 0x100000001b3ull;
    return h ^ (h >> 32);
}

void putLE(std::string* s, size_t at, uint64_t v, int bytes) {
    for (int b = 0; b < bytes; ++b) (*s)[at + size_t(b)] = char(v >> (8 * b));
}

// A journal as an earlier build left it: checkpoint 0, no applied mark, and one committed
// record (sequence 1) writing `bytes` at `pos` of slot 0, its checksum kind `kind`.
std::string earlierJournal(int32_t pos, const std::string& bytes, uint32_t kind) {
    std::string j(1024, '\0');
    j.replace(0, 8, "QVJRNL01");
    j.replace(16, std::strlen(journal4bootId()), journal4bootId());
    putLE(&j, 504, serialChecksum(j.data(), 504), 8);
    std::string r(24 + 12 + bytes.size(), '\0');
    r.replace(0, 4, "QVJR");
    putLE(&r, 4, 1, 4);
    putLE(&r, 8, 1, 8);
    putLE(&r, 16, 12 + bytes.size(), 4);
    putLE(&r, 20, kind, 4);
    r[24] = 0;
    r[25] = 1;
    putLE(&r, 28, uint32_t(pos), 4);
    putLE(&r, 32, bytes.size(), 4);
    r.replace(36, bytes.size(), bytes);
    r.resize(r.size() + 8);
    putLE(&r, r.size() - 8, serialChecksum(r.data(), r.size() - 8), 8);
    return j + r;
}

TEST_F(Journal4, ARecordOfAnEarlierBuildReplaysAndADamagedOneNever) {
    // Journals written before records had four-lane checksums say so by kind 0 and must still
    // be brought to the files; a record damaged anywhere, or naming a kind nobody writes, is no
    // commit.
    const std::string bytes(700, 'Q');
    const std::string want = applied(initial, {{100, bytes}});
    struct Damage {
        const char* name;
        uint32_t kind;
        size_t flip;  // byte of the record flipped (0: none)
        bool replays;
    };
    const Damage cases[] = {
        {"whole", 0, 0, true},
        {"a byte of the written bytes flipped", 0, 1024 + 36 + 350, false},
        {"its position flipped", 0, 1024 + 28, false},
        {"a kind nobody writes", 7, 0, false},
        {"the serial sum under the lanes' kind", 1, 0, false},
    };
    for (const Damage& c : cases) {
        SCOPED_TRACE(c.name);
        writeWhole(dataPath, initial);
        std::string journalBytes = earlierJournal(100, bytes, c.kind);
        if (c.flip != 0) journalBytes[c.flip] = char(journalBytes[c.flip] ^ 0x20);
        writeWhole(journalPath, journalBytes);
        open();
        close();
        EXPECT_EQ(readWhole(dataPath), c.replays ? want : initial);
        // The journal goes on from there with records of this build.
        open();
        ASSERT_EQ(commit({{2000, "after"}}), 0);
        close();
        journal4setBootIdForTest("another boot");
        writeWhole(dataPath, initial);
        open();
        close();
        journal4setBootIdForTest(nullptr);
        EXPECT_EQ(readWhole(dataPath).substr(2000, 5), "after");
    }
}

}  // namespace
