// A writer process changes a tag under the index lock in bursts while this process reads it
// without the lock: the reader never sees keys out of order, never returns an entry that
// never existed, and every walk and seek ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "child_process.h"
#include "tree_file.h"
#include "xbase/file/file4.h"
#include "xbase/index/index4header.h"
#include "xbase/index/node4.h"
#include "xbase/table/env4release.h"

namespace {

constexpr int kKeyLength = 12;

// Every entry the writer ever makes: the key is a function of the record number.
std::string keyOf(uint32_t record) {
    return padKey("K" + std::to_string((record * 7919u) % 100003u), kKeyLength);
}

// The one tag the tests use: K, of keyOf keys.
std::vector<IndexImageTag> tagK() {
    std::vector<IndexImageTag> tags(1);
    tags[0].name = "K";
    tags[0].keyLength = kKeyLength;
    return tags;
}

// A shared index file read and written through the block buffer, write-behind on.
void bufferTreeFile(TreeFile& f) {
    f.close();
    f.env.readAhead = 1;
    f.env.writeBehind = 1;
    f.env.blockSize = 1024;
    f.env.bufferMemory = 1 << 20;
    ASSERT_EQ(buffer4start(&f.env), 0);
    f.open();
}

// Another process opens the index file, changes tag K under the index lock and closes it:
// true when every step succeeded.
bool changeInAnotherProcess(const std::string& path, const std::function<bool(tag4file*)>& change) {
    Child child([&](int, int out) {
        env4 env;
        (void)env4init(&env, env4version);
        index4file* file = index4fileOpen(&env, nullptr, path.c_str(), nullptr);
        bool ok = file != nullptr;
        if (ok) {
            file->recordCount = 1000000;
            ok = index4lock(file, 1) == 0 && change(index4fileTag(file, "K")) &&
                 index4unlock(file, 1) == 0;
            ok = index4fileClose(file) == 0 && ok;
        }
        answer(out, ok ? 'k' : 'x');
        (void)env4release(&env);
    });
    return child.receive() == 'k';
}

// Adds the entries of records first to last under the index lock.
void addUnderLock(TreeFile& f, uint32_t first, uint32_t last) {
    ASSERT_EQ(index4lock(f.file, 1), 0);
    for (uint32_t r = first; r <= last; r++)
        ASSERT_EQ(tag4addKey(f.tag("K"), keyOf(r).data(), int32_t(r), 0), 0);
    ASSERT_EQ(index4unlock(f.file, 1), 0);
}

bool stopAsked(int in) {
    pollfd p{in, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

// The writer: bursts of adds and removes, each burst under the lock. Answers 'k' when
// every change succeeded.
void writer(const std::string& path, uint32_t initial, int in, int out) {
    env4 env;
    (void)env4init(&env, env4version);
    env.lockDelay = 1;
    index4file* file = index4fileOpen(&env, nullptr, path.c_str(), nullptr);
    if (file == nullptr) answer(out, 'o');
    file->recordCount = 1000000;
    tag4file* tag = index4fileTag(file, "K");
    std::mt19937 rng(77);
    std::vector<uint32_t> live;
    for (uint32_t r = 1; r <= initial; r++) live.push_back(r);
    uint32_t next = initial + 1;
    bool ok = true;
    while (ok && !stopAsked(in)) {
        ok = index4lock(file, 1) == 0;
        for (int op = 0; ok && op < 40; op++) {
            if (rng() % 2 == 0 || live.size() < 100) {
                const std::string key = keyOf(next);
                ok = tag4addKey(tag, key.data(), int32_t(next), 0) == 0;
                live.push_back(next++);
            } else {
                const size_t at = rng() % live.size();
                const std::string key = keyOf(live[at]);
                ok = tag4removeKey(tag, key.data(), int32_t(live[at])) == 0;
                live[at] = live.back();
                live.pop_back();
            }
        }
        ok = ok && index4unlock(file, 1) == 0;
    }
    await(in);
    ok = ok && index4fileClose(file) == 0;
    answer(out, ok ? 'k' : 'x');
    (void)env4release(&env);
}

// Unbuffered, the reader reads every node it does not hold from the disk; buffered, it keeps
// the nodes it confirmed in the block buffer until the change counter moves.
void readWhileAWriterWorks(bool buffered) {
    const uint32_t initial = 3000;
    TreeFile f(tagK(), 1000000, 0);
    if (buffered) bufferTreeFile(f);
    addUnderLock(f, 1, initial);
    tag4file* tag = f.tag("K");

    Child child([&](int in, int out) { writer(f.path, initial, in, out); });
    int changed = 0, walks = 0, complete = 0, seeks = 0, outOfOrder = 0, neverExisted = 0,
        gaveUp = 0;
    std::mt19937 rng(5);
    // Read for at least three seconds, and on a loaded machine until the writer has been seen
    // at work and a walk has finished, so that the checks below always have something to judge.
    const auto start = std::chrono::steady_clock::now();
    const auto enough = [&] {
        const auto spent = std::chrono::steady_clock::now() - start;
        if (spent > std::chrono::seconds(120)) return true;
        return spent > std::chrono::seconds(3) && changed > 10 && complete > 0;
    };
    while (!enough()) {
        const int32_t refresh = index4fileRefresh(f.file);
        ASSERT_GE(refresh, 0);
        changed += refresh;
        // A walk from the top.
        walks++;
        std::string previous;
        int32_t rc = tag4top(tag);
        for (int steps = 0; rc >= 0 && steps < 200000; steps++) {
            const uint8_t* key = tag4key(tag);
            if (key == nullptr) break;
            const std::string k = keyText(key, kKeyLength);
            const int32_t record = tag4recordNumber(tag);
            if (record < 1 || k != keyOf(uint32_t(record))) neverExisted++;
            if (k < previous) outOfOrder++;
            previous = k;
            rc = tag4skip(tag, 1);
            if (rc == 0) {
                complete++;
                break;
            }
        }
        if (rc < 0) {
            gaveUp++;
            error4setCode(&f.env, 0);
        }
        // A few seeks.
        for (int s = 0; s < 20; s++) {
            const std::string wanted = keyOf(1 + rng() % 20000);
            const int32_t found = tag4seek(tag, wanted.data(), kKeyLength);
            if (found < 0) {
                gaveUp++;
                error4setCode(&f.env, 0);
                continue;
            }
            seeks++;
            const uint8_t* key = tag4key(tag);
            if (key == nullptr) continue;
            const std::string k = keyText(key, kKeyLength);
            if (k < wanted || (found == 0) != (k == wanted)) outOfOrder++;
            if (k != keyOf(uint32_t(tag4recordNumber(tag)))) neverExisted++;
        }
    }
    child.send('s');
    child.send('s');
    EXPECT_EQ(child.receive(), 'k');
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(neverExisted, 0);
    EXPECT_GT(complete, 0) << walks << " walks, " << gaveUp << " gave up";
    EXPECT_GT(seeks, 0);
    EXPECT_GT(changed, 10);  // the file did change under the reader
    // The writer left a sound file.
    f.reopen();
    EXPECT_EQ(problemsOf(f.check()), "");
}

TEST(TagProcesses, UnlockedReaderSeesOrderedExistingEntriesWhileAWriterWorks) {
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
        readWhileAWriterWorks(buffered);
    }
}

// A key that states its record number, so that any mix of two entries shows.
std::string serialKey(uint32_t record) {
    return padKey("R" + std::to_string(record), kKeyLength);
}

// A whole index file whose tag K holds, in its one leaf, the serial keys of `count`
// records from `first` on.
std::string oneLeafFile(uint32_t first, uint32_t count) {
    TreeFile f(tagK(), 1000000, 0);
    EXPECT_EQ(index4lock(f.file, 1), 0);
    for (uint32_t r = first; r < first + count; r++)
        EXPECT_EQ(tag4addKey(f.tag("K"), serialKey(r).data(), int32_t(r), 0), 0);
    EXPECT_EQ(index4unlock(f.file, 1), 0);
    f.close();
    return readWhole(f.path);
}

// A read that overlaps a write of the same node may return part of each version, and such
// a mix can pass every check of the node. Here a thread keeps rewriting a tag's only leaf
// with one of two versions that differ in their entries (near the node's start) and in the
// first key's bytes (near its end), while this thread, without the lock, reads it afresh
// and walks it again and again: every walk sees one version whole. Buffered, the leaf it
// confirmed stays in the buffer: the walk after it, served from there, sees the same version.
void readANodeBeingWritten(bool buffered) {
    const std::string a = oneLeafFile(10000, 40), b = oneLeafFile(20000, 40);
    ASSERT_EQ(a.size(), b.size());
    std::vector<size_t> differ;
    for (size_t at = 0; at + node4size <= a.size(); at += node4size)
        if (a.compare(at, node4size, b, at, node4size) != 0) differ.push_back(at);
    ASSERT_EQ(differ.size(), 1u) << "the two files differ in their leaf alone";
    const off_t leaf = off_t(differ[0]);

    TreeFile f(tagK(), 1000000, 0);
    f.close();
    writeWhole(f.path, a);
    f.open();
    if (buffered) bufferTreeFile(f);
    tag4file* tag = f.tag("K");

    std::atomic<bool> stop{false};
    std::atomic<int> failedWrites{0};
    std::thread writer([&] {
        const int fd = ::open(f.path.c_str(), O_WRONLY);
        if (fd < 0) {
            failedWrites++;
            return;
        }
        // Each version a few times over, so that most reads meet no change of version.
        while (!stop)
            for (const std::string* version : {&a, &b})
                for (int i = 0; i < 8; i++)
                    if (pwrite(fd, version->data() + leaf, node4size, leaf) != node4size)
                        failedWrites++;
        ::close(fd);
    });
    int mixed = 0, whole = 0, gaveUp = 0, differed = 0;
    for (int round = 0; round < 4000; round++) {
        ASSERT_EQ(index4fileForget(f.file), 0);
        ASSERT_EQ(file4dropBuffers(&f.file->file), 0);
        const std::vector<TreeEntry> seen = walk(tag);
        if (f.env.errorCode < 0) {
            gaveUp++;
            error4setCode(&f.env, 0);
            continue;
        }
        bool sound = seen.size() == 40;
        for (const TreeEntry& e : seen)
            sound = sound && e.first == serialKey(e.second) &&
                    e.second / 10000 == seen[0].second / 10000;
        (sound ? whole : mixed)++;
        if (buffered) {
            ASSERT_EQ(index4fileForget(f.file), 0);
            if (walk(tag) != seen) differed++;
            error4setCode(&f.env, 0);
        }
    }
    stop = true;
    writer.join();
    EXPECT_EQ(failedWrites, 0);
    EXPECT_EQ(mixed, 0) << whole << " whole, " << gaveUp << " gave up";
    EXPECT_GT(whole, 0);
    EXPECT_EQ(differed, 0);
}

TEST(TagProcesses, AnUnlockedReaderNeverSeesPartOfEachVersionOfANodeBeingWritten) {
    for (bool buffered : {false, true}) {
        SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
        readANodeBeingWritten(buffered);
    }
}

// A reader without the lock keeps the nodes it confirmed in the buffer only while the change
// counter stands: once another process has added and removed keys, the next refresh drops
// them and the reader finds the new key and misses the removed one.
TEST(TagProcesses, AnotherProcesssChangeDropsTheNodesAReaderConfirmed) {
    TreeFile f(tagK(), 1000000, 0);
    bufferTreeFile(f);
    addUnderLock(f, 1, 2000);
    tag4file* tag = f.tag("K");
    const std::string added = keyOf(5000), removed = keyOf(7);
    // Nodes the tag forgot are read again through the buffer: from the disk at the first
    // pass, settled there, and from the buffer alone at the second.
    for (int pass = 0; pass < 2; pass++) {
        ASSERT_EQ(index4fileRefresh(f.file), 0);
        ASSERT_EQ(index4fileForget(f.file), 0);
        EXPECT_EQ(walk(tag).size(), 2000u);
        EXPECT_EQ(tag4seek(tag, removed.data(), kKeyLength), 0);
        EXPECT_NE(tag4seek(tag, added.data(), kKeyLength), 0);
    }
    ASSERT_GT(file4bufferedBlocks(&f.file->file), 4);

    ASSERT_TRUE(changeInAnotherProcess(f.path, [&](tag4file* k) {
        return tag4addKey(k, added.data(), 5000, 0) == 0 &&
               tag4removeKey(k, removed.data(), 7) == 0;
    }));

    EXPECT_EQ(index4fileRefresh(f.file), 1);
    EXPECT_EQ(tag4seek(tag, added.data(), kKeyLength), 0);
    EXPECT_EQ(tag4recordNumber(tag), 5000);
    EXPECT_NE(tag4seek(tag, removed.data(), kKeyLength), 0);
    EXPECT_EQ(walk(tag).size(), 2000u);
    EXPECT_EQ(problemsOf(f.check()), "");
}

// The change counter as the disk holds it.
uint32_t counterOnDisk(const std::string& path) {
    const std::string bytes = readWhole(path);
    EXPECT_GE(bytes.size(), size_t(tag4headerPrefixSize));
    tag4header h;
    tag4headerDecodePrefix(reinterpret_cast<const uint8_t*>(bytes.data()), &h);
    return h.changeCounter;
}

// Taking the index lock reads afresh only what another process may have changed: blocks
// this process holds stay while the change counter stands, and go once another process
// wrote, whose key is then found.
TEST(TagProcesses, TheIndexLockKeepsBufferedBlocksUntilAnotherProcessWrites) {
    TreeFile f(tagK(), 1000000, 0);
    bufferTreeFile(f);
    addUnderLock(f, 1, 2000);
    const int32_t held = file4bufferedBlocks(&f.file->file);
    ASSERT_GT(held, 4);

    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(index4lock(f.file, 1), 0);
        EXPECT_EQ(file4bufferedBlocks(&f.file->file), held) << "round " << round;
        ASSERT_EQ(index4unlock(f.file, 1), 0);
    }

    const std::string added = keyOf(5000);
    ASSERT_TRUE(changeInAnotherProcess(
        f.path, [&](tag4file* k) { return tag4addKey(k, added.data(), 5000, 0) == 0; }));

    ASSERT_EQ(index4lock(f.file, 1), 0);
    EXPECT_EQ(file4bufferedBlocks(&f.file->file), 0);
    EXPECT_EQ(tag4seek(f.tag("K"), added.data(), kKeyLength), 0);
    EXPECT_EQ(tag4recordNumber(f.tag("K")), 5000);
    ASSERT_EQ(index4unlock(f.file, 1), 0);
    EXPECT_EQ(problemsOf(f.check()), "");
}

// Written back from the buffer, an index's nodes reach the disk before its change counter:
// a write-back cut short leaves the old counter, so no reader trusts nodes never written.
TEST(TagProcesses, TheChangeCounterReachesTheDiskAfterTheNodes) {
    TreeFile f(tagK(), 1000000, 0);
    bufferTreeFile(f);
    addUnderLock(f, 1, 300);
    const uint32_t before = counterOnDisk(f.path);

    ASSERT_EQ(index4lock(f.file, 1), 0);
    ASSERT_EQ(tag4addKey(f.tag("K"), keyOf(301).data(), 301, 0), 0);
    file4failWrite(file4kindIndex, 1);
    EXPECT_LT(index4unlock(f.file, 1), 0);
    file4failWrite(0, 0);
    EXPECT_EQ(counterOnDisk(f.path), before);

    // Written again in full, everything arrives, the counter with it.
    error4setCode(&f.env, 0);
    ASSERT_EQ(index4lock(f.file, 1), 0);
    ASSERT_EQ(index4unlock(f.file, 1), 0);
    EXPECT_NE(counterOnDisk(f.path), before);
    EXPECT_EQ(problemsOf(f.check()), "");
}

}  // namespace
