// Tables shared by processes: appends from several processes under their locks, and an
// unlocked reader seeking while a writer changes keys.
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "child_process.h"
#include "people_table.h"
#include "xbase/lock4.h"

namespace {

const field4def kStampFields[] = {{"PROC", 'N', 2, 0, 0},
                                  {"SEQ", 'N', 6, 0, 0},
                                  {"PAYLOAD", 'C', 30, 0, 0},
                                  {nullptr, 0, 0, 0, 0}};
const tag4def kStampTags[] = {{"STAMP", "STR(PROC,2)+STR(SEQ,6)", nullptr, tag4uniqueRefuse, 0},
                              {nullptr, nullptr, nullptr, 0, 0}};

// What record (process, sequence) carries: a torn record shows as a mismatch.
std::string payloadOf(int process, int sequence) {
    std::string s;
    for (int i = 0; s.size() < 30; ++i) s += char('a' + (process * 7 + sequence * 13 + i) % 26);
    return s;
}

std::string number(int value, int width) {
    std::string s(size_t(width), ' ');
    c4ltoa(value, s.data(), width);
    return s;
}

// One appending process: each append takes and gives up the append lock itself. With
// `buffered`, every file reads ahead and writes behind through the block buffer, and
// nothing is flushed by hand. Answers 'k' when every append succeeded.
void appender(const std::string& path, int process, int appends, bool buffered, int out) {
    env4 env;
    (void)env4init(&env, env4version);
    env.lockAttempts = -1;
    env.lockDelay = 0;
    if (buffered) {
        env.readAhead = 1;
        env.writeBehind = 1;
        env.bufferMemory = 1 << 20;
    }
    bool ok = false;
    table4* t = table4open(&env, path.c_str());
    if (t != nullptr && buffered && buffer4start(&env) != 0) t = nullptr;
    if (t != nullptr) {
        field4* proc = table4fieldByName(t, "PROC");
        field4* seq = table4fieldByName(t, "SEQ");
        field4* payload = table4fieldByName(t, "PAYLOAD");
        ok = true;
        for (int i = 1; ok && i <= appends; ++i) {
            ok = table4blank(t) == 0 && field4assign(proc, number(process, 2).c_str()) == 0 &&
                 field4assign(seq, number(i, 6).c_str()) == 0 &&
                 field4assign(payload, payloadOf(process, i).c_str()) == 0 &&
                 table4append(t) == 0 && table4unlock(t) == 0;
        }
        ok = table4close(t) == 0 && ok;
    }
    (void)env4release(&env);
    answer(out, ok ? 'k' : 'x');
}

class TableProcesses : public PeopleTest {
  protected:
    void appendStress(int processes, int appends, bool buffered) {
        env.accessMode = 1;
        table4* t = table4create(&env, dir.file("stamps").c_str(), kStampFields, kStampTags);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(table4close(t), 0);
        const std::string path = dir.file("stamps.dbf");
        {
            std::vector<std::unique_ptr<Child>> children;
            for (int p = 1; p <= processes; ++p)
                children.push_back(std::make_unique<Child>(
                    [&, p](int, int out) { appender(path, p, appends, buffered, out); }));
            for (auto& child : children) EXPECT_EQ(child->receive(), 'k');
        }
        t = open("stamps", 1);
        ASSERT_NE(t, nullptr);
        const int32_t total = processes * appends;
        ASSERT_EQ(table4recordCount(t), total);
        table4file* d = t->dataFile;
        const std::string bytes = readWhole(path);
        EXPECT_EQ(bytes.size(), size_t(d->headerLen) + size_t(total) * d->recordLen + 1);
        EXPECT_EQ(bytes.back(), '\x1A');
        std::vector<std::vector<int>> seen(size_t(processes + 1),
                                           std::vector<int>(size_t(appends + 1)));
        for (int32_t r = 1; r <= total; ++r) {
            ASSERT_EQ(table4go(t, r), 0);
            field4* f = table4fieldByName(t, "PROC");
            const int process = c4atoiN(field4pointer(f), 2);
            f = table4fieldByName(t, "SEQ");
            const int sequence = c4atoiN(field4pointer(f), 6);
            ASSERT_TRUE(process >= 1 && process <= processes && sequence >= 1 &&
                        sequence <= appends)
                << "record " << r;
            f = table4fieldByName(t, "PAYLOAD");
            ASSERT_EQ(std::string(field4pointer(f), 30), payloadOf(process, sequence))
                << "record " << r;
            ASSERT_EQ(table4isDeleted(t), 0);
            seen[size_t(process)][size_t(sequence)]++;
        }
        for (int p = 1; p <= processes; ++p)
            for (int i = 1; i <= appends; ++i)
                ASSERT_EQ(seen[size_t(p)][size_t(i)], 1) << p << "/" << i;
        // The tag holds every pair once, each pointing at its record.
        const index4checkReport report = checkIndex(indexPath(t));
        EXPECT_EQ(problemsOf(report), "");
        const index4checkTag* stamp = reportTag(report, "STAMP");
        ASSERT_NE(stamp, nullptr);
        ASSERT_EQ(stamp->entries.size(), size_t(total));
        table4selectTag(t, table4findTag(t, "STAMP"));
        int32_t walked = 0;
        for (int32_t rc = table4goTop(t); rc == 0; rc = table4skip(t, 1)) {
            const index4checkEntry& e = stamp->entries[size_t(walked++)];
            ASSERT_EQ(uint32_t(t->recNum), e.record);
            const std::string key(table4recordBuffer(t) + 1, 8);
            ASSERT_EQ(key, e.key);
        }
        EXPECT_EQ(walked, total);
    }
};

TEST_F(TableProcesses, FourProcessesAppendUnderTheirLocks) {
    appendStress(4, 10000, false);
}

// What a process writes under a lock reaches the disk before the lock goes, and the
// count an append starts from is read from the disk: block buffers change nothing.
TEST_F(TableProcesses, FourBufferedProcessesAppendUnderTheirLocks) {
    appendStress(4, 5000, true);
}

// A process that closes a buffered shared table after another appended to it leaves
// the other's count in the header.
TEST_F(TableProcesses, ClosingABufferedSharedTableKeepsOthersAppends) {
    env.accessMode = 1;
    table4* t = table4create(&env, dir.file("stamps").c_str(), kStampFields, kStampTags);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(table4close(t), 0);
    const std::string path = dir.file("stamps.dbf");
    env.readAhead = env.writeBehind = 1;
    env.bufferMemory = 1 << 20;
    t = open("stamps", 0);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(buffer4start(&env), 0);
    ASSERT_EQ(table4blank(t), 0);
    ASSERT_EQ(table4append(t), 0);
    ASSERT_EQ(table4unlock(t), 0);
    // A record written under its own lock leaves the header's date to be written at close.
    ASSERT_EQ(table4go(t, 1), 0);
    ASSERT_EQ(field4assign(table4fieldByName(t, "PAYLOAD"), "changed"), 0);
    ASSERT_EQ(table4write(t, -1, 1), 0);
    {
        Child other([&](int, int out) { appender(path, 2, 5, true, out); });
        EXPECT_EQ(other.receive(), 'k');
    }
    ASSERT_EQ(table4close(t), 0);
    env.readAhead = env.writeBehind = -1;
    t = open("stamps", 1);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(table4recordCount(t), 6);
}

bool stopAsked(int in) {
    pollfd p{in, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

constexpr int kRecords = 300;

std::string nameKey(std::mt19937& rng) {
    std::string s;
    s += char('A' + rng() % 6);
    s += char('A' + rng() % 6);
    s += std::to_string(rng() % 1000);
    return s;
}

// The writer: changes the NAME key of random records under their record locks until
// asked to stop. Answers 'k' when every write succeeded, with the count of writes.
void keyWriter(const std::string& path, int in, int out) {
    env4 env;
    (void)env4init(&env, env4version);
    env.lockAttempts = -1;
    env.lockDelay = 0;
    std::mt19937 rng(4242);
    bool ok = false;
    int32_t writes = 0;
    if (table4* t = table4open(&env, path.c_str())) {
        field4* name = table4fieldByName(t, "NAME");
        ok = true;
        while (ok && !stopAsked(in)) {
            const int32_t r = int32_t(1 + rng() % kRecords);
            ok = table4lockRecord(t, r) == 0 && table4go(t, r) == 0 &&
                 field4assign(name, nameKey(rng).c_str()) == 0 && table4write(t, -1, 1) == 0;
            writes++;
        }
        ok = table4close(t) == 0 && ok;
    }
    (void)env4release(&env);
    await(in);
    answer(out, ok ? 'k' : 'x');
    writeValue(out, writes);
}

TEST_F(TableProcesses, UnlockedSeeksFindRecordsThatHoldTheirKeys) {
    table4* t = create("people", 1);
    ASSERT_NE(t, nullptr);
    std::mt19937 rng(99);
    for (int i = 1; i <= kRecords; ++i)
        ASSERT_EQ(appendPerson(t, {nameKey(rng), double(i), std::to_string(i), ""}), 0);
    ASSERT_EQ(table4close(t), 0);
    t = open("people", 0);
    ASSERT_NE(t, nullptr);
    table4selectTag(t, table4findTag(t, "NAME"));
    const std::string path = dir.file("people.dbf");

    Child child([&](int in, int out) { keyWriter(path, in, out); });
    int found = 0, wrong = 0, errorsSeen = 0;
    // At least 3,000 seeks and a second of the writer's work.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3000 || std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
         ++i) {
        std::string prefix = nameKey(rng).substr(0, size_t(1 + i % 3));
        const int32_t rc = table4seekN(t, prefix.data(), int32_t(prefix.size()));
        if (rc < 0) {
            errorsSeen++;
            clearError();
            continue;
        }
        if (rc != 0) continue;
        found++;
        const std::string name = personOf(t).name;
        if (name.compare(0, prefix.size(), prefix) != 0) wrong++;
    }
    child.send('s');
    child.send('s');
    EXPECT_EQ(child.receive(), 'k');
    const int32_t writes = child.receiveValue<int32_t>(0);
    EXPECT_GT(writes, 100);
    EXPECT_GT(found, 100);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(errorsSeen, 0);
}

}  // namespace
