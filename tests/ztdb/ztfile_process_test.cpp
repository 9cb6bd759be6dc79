// The database file between processes and threads: open modes against another opener, the
// counted lock (nesting, no-wait refusals, publishing at the outermost unlock, the wait hook),
// exclusive opens without locks, and duplicates on two threads.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "xbase/child_process.h"
#include "ztfile_helpers.h"

namespace {

// A child process holding the database open in `mode` until told to close it ('c'). It
// answers each request: 'l' no-wait lock (1 taken, 0 refused), 'u' unlock, 'n' its row count,
// 'a' appends a row.
std::unique_ptr<Child> holder(const std::string& base, uint32_t mode) {
    auto child = std::make_unique<Child>([base, mode](int in, int out) {
        ZTFile file(base.c_str());
        uint32_t word = file.open(mode, true);
        if (!writeValue(out, word)) _exit(2);
        for (char c; (c = await(in)) != 0 && c != 'c';) {
            int32_t reply = 0;
            if (c == 'l') reply = file.lock(true) ? 1 : 0;
            if (c == 'u') reply = file.unlock() ? 1 : 0;
            if (c == 'n') {
                file.refreshTables(false);
                reply = file.getRowCount();
            }
            if (c == 'a') reply = appendRow(file, 2000) ? 1 : 0;
            if (!writeValue(out, reply)) _exit(2);
        }
        file.close();
        answer(out, 'c');
    });
    EXPECT_EQ(child->receiveValue<uint32_t>(0), mode);
    return child;
}

int32_t ask(Child& child, char request) {
    child.send(request);
    return child.receiveValue<int32_t>(-1);
}

void release(Child& child) {
    child.send('c');
    EXPECT_EQ(child.receive(), 'c');
}

TEST(ZTFileProcesses, OpenModesAgainstAnotherOpener) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    EXPECT_FALSE(file.isInUse());
    {
        auto exclusive = holder(base, 7);
        EXPECT_TRUE(file.isInUse());
        EXPECT_EQ(file.open(3, true), 0x100u);
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(file.open(9, true), 0x100u);
        EXPECT_EQ(file.open(7, true), 0x100u);
        release(*exclusive);
    }
    {
        auto shared = holder(base, 3);
        EXPECT_TRUE(file.isInUse());
        EXPECT_EQ(file.open(7, true), 0x100u);  // exclusive asked while shared elsewhere
        EXPECT_EQ(file.open(3, true), 3u);
        std::unique_ptr<ZTFile> exclusiveCopy(file.duplicate(7));
        EXPECT_EQ(exclusiveCopy, nullptr);
        file.close();
        release(*shared);
    }
    EXPECT_FALSE(file.isInUse());
    // Another object of this process excludes the same way.
    ZTFile other(base.c_str());
    ASSERT_EQ(other.open(7, true), 7u);
    EXPECT_EQ(file.open(3, true), 0x100u);
}

TEST(ZTFileProcesses, NestedLocksPublishAtTheOutermostUnlock) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    auto other = holder(base, 3);
    const int32_t before = ask(*other, 'n');
    ASSERT_EQ(before, file.getRowCount());

    ASSERT_TRUE(file.lock(false));
    ASSERT_TRUE(file.lock(true));
    ASSERT_TRUE(appendRow(file, 1500));  // a third level, taken and given back
    EXPECT_EQ(file.getLockDepth(), 2);
    EXPECT_EQ(ask(*other, 'l'), 0);
    EXPECT_TRUE(file.unlock());
    EXPECT_EQ(ask(*other, 'l'), 0);
    EXPECT_EQ(ask(*other, 'n'), before);  // nothing published yet
    EXPECT_TRUE(file.unlock());
    EXPECT_EQ(ask(*other, 'n'), before + 1);
    EXPECT_EQ(ask(*other, 'l'), 1);
    EXPECT_FALSE(file.lock(true));
    EXPECT_EQ(file.getLockDepth(), 0);  // a refused lock counts nothing
    EXPECT_EQ(ask(*other, 'a'), 1);     // nested in the other's lock
    EXPECT_EQ(ask(*other, 'u'), 1);

    // The other's append is seen at the next lock; an unlock too many changes nothing.
    ASSERT_TRUE(file.lock(true));
    EXPECT_EQ(file.getRowCount(), before + 2);
    EXPECT_TRUE(file.unlock());
    EXPECT_TRUE(file.unlock());
    EXPECT_EQ(file.getLockDepth(), 0);
    EXPECT_EQ(ask(*other, 'l'), 1);
    EXPECT_EQ(ask(*other, 'u'), 1);
    release(*other);
}

TEST(ZTFileProcesses, TheWaitHookPacesAndCancelsLocking) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    auto other = holder(base, 3);
    ASSERT_EQ(ask(*other, 'l'), 1);
    struct Waits {
        std::vector<int> asked;
    } waits;
    file.setLockWaitHook(
        [](void* context, int ms) {
            auto* w = static_cast<Waits*>(context);
            w->asked.push_back(ms);
            return w->asked.size() < 3;
        },
        &waits);
    EXPECT_FALSE(file.lock(false));
    EXPECT_EQ(waits.asked, (std::vector<int>{100, 100, 100}));
    EXPECT_EQ(file.getLockDepth(), 0);
    EXPECT_EQ(ask(*other, 'u'), 1);
    EXPECT_TRUE(file.lock(false));
    EXPECT_TRUE(file.unlock());
    release(*other);
}

// The OFD locks this process holds on a file, as /proc/locks lists them.
int ofdLocksOn(const std::string& path, const char* start) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    char id[64];
    std::snprintf(id, sizeof id, ":%lu ", static_cast<unsigned long>(st.st_ino));
    std::ifstream in("/proc/locks");
    int n = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find("OFDLCK") != std::string::npos && line.find(id) != std::string::npos &&
            line.find(std::string(" ") + start + " ") != std::string::npos)
            ++n;
    return n;
}

TEST(ZTFileProcesses, ExclusiveOpensTakeNoLock) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    const char* fileLockStart = "1073741824";
    for (uint32_t mode : {3u, 7u}) {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(mode, true), mode);
        ASSERT_TRUE(file.lock(false));
        EXPECT_EQ(ofdLocksOn(base + ".ZT", fileLockStart), mode == 7 ? 0 : 1) << mode;
        EXPECT_EQ(file.getLockDepth(), mode == 7 ? 0 : 1);
        ASSERT_TRUE(appendRow(file, 1700));
        EXPECT_TRUE(file.unlock());
        EXPECT_EQ(ofdLocksOn(base + ".ZT", fileLockStart), 0);
    }
}

// An original and its duplicate on two threads: their locks exclude each other, and appends
// made under them from both threads all arrive.
TEST(ZTFileThreads, AnOriginalAndItsDuplicateExcludeEachOther) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile original(base.c_str());
    ASSERT_EQ(original.open(3, true), 3u);
    const int32_t before = original.getRowCount();
    std::unique_ptr<ZTFile> copy(original.duplicate(0));
    ASSERT_NE(copy, nullptr);
    ASSERT_TRUE(original.lock(false));
    std::atomic<int> refusedWhileHeld{-1};
    std::thread([&] { refusedWhileHeld = copy->lock(true) ? 0 : 1; }).join();
    EXPECT_EQ(refusedWhileHeld, 1);
    EXPECT_TRUE(original.unlock());

    constexpr int kEach = 150;
    std::atomic<int> failures{0};
    auto appender = [&failures](ZTFile* file, uint32_t first) {
        for (int i = 0; i < kEach; ++i)
            if (!appendRow(*file, first + uint32_t(i))) ++failures;
    };
    std::thread worker(appender, copy.get(), 3000);
    appender(&original, 4000);
    worker.join();
    EXPECT_EQ(failures, 0);
    ASSERT_TRUE(original.lock(false));
    EXPECT_EQ(original.getRowCount(), before + 2 * kEach);
    EXPECT_TRUE(original.unlock());
    copy.reset();
    original.close();
    dbcheck::Report r = checkFiles(base);
    EXPECT_FALSE(r.has(1) || r.has(8)) << r.text();
    EXPECT_EQ(r.rows.size(), size_t(before + 2 * kEach));
}

}  // namespace
