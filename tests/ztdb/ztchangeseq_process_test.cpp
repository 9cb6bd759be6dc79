// The change sequence between processes: a reader (writable or not) that trusts single reads and
// its caches while the sequence stands still sees every commit of another process at its next read,
// and a writer that dies in its in-place writes leaves the sequence odd (readers guard their reads
// again) until the next holder of the lock replays the commit and makes it even.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "xbase/child_process.h"
#include "ztdb/ztatom.h"
#include "ztrec_helpers.h"

namespace {

constexpr uint32_t kType = 1001;  // the fixture's Town field

// The sequence as its file holds it; 1 (odd) when it cannot be read.
uint64_t sequenceOf(const std::string& base) {
    uint64_t value = 1;
    const int fd = ::open((base + ".ZTS").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || pread(fd, &value, sizeof value, 0) != sizeof value) value = 1;
    if (fd >= 0) ::close(fd);
    return value;
}

// Record -> text of every value of kType, walked in value order through read brackets.
std::map<uint32_t, std::string> walkTexts(ZTFile& file) {
    std::map<uint32_t, std::string> out;
    ZTAtom a(&file, 0);
    for (int r = a.findValue(kType, "", false, false, false, 0); r == 0;
         r = a.findNextValue(&a, 1, false))
        out[a.recordID] = a.value.text;
    return out;
}

TEST(ChangeSequence, ReadersSeeEachCommitOfAnotherProcessAtTheirNextRead) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile reader(base.c_str());
    ASSERT_EQ(reader.open(3, false), 3u);
    // One that may not write maps the sequence as well.
    ZTFile readOnly(base.c_str());
    ASSERT_EQ(readOnly.open(3 | kOpenReadOnly, false) & 11, 11u);
    std::map<uint32_t, std::string> expected = walkTexts(reader);
    ASSERT_EQ(walkTexts(readOnly), expected);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(sequenceOf(base) % 2, 0u);

    // Each command: one commit of a new value, or of a changed text of the one before (the
    // same leaf the reader holds, rewritten in place).
    Child writer([&](int in, int out) {
        ZTFile mine(base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        for (uint32_t i = 0; await(in) == 'w'; ++i) {
            const uint32_t record = 2000 + i / 2;
            const std::string text = (i % 2 ? "changed " : "new ") + std::to_string(i);
            bool ok = false;
            if (i % 2 == 0) {
                ok = addValue(mine, record, kType, 1, text) != 0;
            } else if (mine.lock(false)) {
                ZTAtom w(&mine, 0);
                const int r = w.write(record, kType, 1, text.c_str());
                ok = r == ZTAtom::kWriteChanged || r == ZTAtom::kWriteAdded;
                ok = mine.unlock() && ok;
            }
            answer(out, ok ? 'd' : 'f');
        }
    });
    for (uint32_t i = 0; i < 40; ++i) {
        SCOPED_TRACE("commit " + std::to_string(i));
        const uint64_t before = sequenceOf(base);
        writer.send('w');
        ASSERT_EQ(writer.receive(), 'd');
        const uint64_t after = sequenceOf(base);
        EXPECT_EQ(after % 2, 0u);
        EXPECT_GT(after, before);
        expected[2000 + i / 2] = (i % 2 ? "changed " : "new ") + std::to_string(i);
        ASSERT_EQ(walkTexts(reader), expected);
        ASSERT_EQ(walkTexts(readOnly), expected);
    }
    writer.send('q');
}

TEST(ChangeSequence, AWriterKilledInItsInPlaceWritesLeavesItOddUntilTheNextLock) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile reader(base.c_str());
    ASSERT_EQ(reader.open(3, false), 3u);
    ASSERT_TRUE(ZTRec(&reader).setCounter(100000));  // record 2000 is a sound ID
    const std::map<uint32_t, std::string> old = walkTexts(reader);
    const uint64_t before = sequenceOf(base);
    ASSERT_EQ(before % 2, 0u);

    // The commit reaches the journal; the child ends after its first in-place index write.
    const pid_t pid = fork();
    if (pid == 0) {
        ZTFile mine(base.c_str());
        if (mine.open(3, false) != 3) _exit(2);
        file4exitAtWrite(file4kindIndex, 1, false);
        addValue(mine, 2000, kType, 1, "after");
        _exit(3);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), file4exitCode);
    const uint64_t dead = sequenceOf(base);
    EXPECT_EQ(dead % 2, 1u);

    // Reads guard themselves again: the values the commit did not touch read as they were.
    std::map<uint32_t, std::string> half = walkTexts(reader);
    half.erase(2000);
    EXPECT_EQ(half, old);

    // The next holder of the lock replays the commit and makes the sequence even.
    ASSERT_TRUE(reader.lock(false));
    ASSERT_TRUE(reader.unlock());
    const uint64_t settled = sequenceOf(base);
    EXPECT_EQ(settled % 2, 0u);
    EXPECT_GT(settled, dead);
    std::map<uint32_t, std::string> now = old;
    now[2000] = "after";
    EXPECT_EQ(walkTexts(reader), now);
    reader.close();
    const dbcheck::Report report = dbcheck::checkDatabase(base);
    EXPECT_TRUE(report.sound()) << report.text();
}

TEST(ChangeSequence, AJournalStartedAfreshUnderAReaderKeepsTheSequenceMoving) {
    TempDir dir;
    const std::string base = writeDatabase(dir);
    ZTFile reader(base.c_str());
    ASSERT_EQ(reader.open(3, false), 3u);
    ZTFile writer(base.c_str());
    ASSERT_EQ(writer.open(3, false), 3u);
    ASSERT_NE(addValue(writer, 2000, kType, 1, "before"), 0u);
    std::map<uint32_t, std::string> expected = walkTexts(reader);
    // A damaged header makes the next holder of the lock start the journal afresh.
    {
        const int fd = ::open((base + ".ZTJ").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, "garbage!", 8, 0), 8);
        ::close(fd);
    }
    const uint64_t before = sequenceOf(base);
    ASSERT_NE(addValue(writer, 2001, kType, 1, "after"), 0u);
    struct stat st {};
    ASSERT_EQ(stat((base + ".ZTS").c_str(), &st), 0);
    EXPECT_GE(st.st_size, journal4seqSize);
    EXPECT_GT(sequenceOf(base), before);
    expected[2001] = "after";
    EXPECT_EQ(walkTexts(reader), expected);
}

}  // namespace
