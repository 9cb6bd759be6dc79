// While an error is pending every public call refuses at once and changes
// nothing on disk; clearing the code lets work resume.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/xbase.h"

namespace {

TEST(StickyError, EveryCallRefusesAndLeavesFilesAlone) {
    TempDir dir;
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    env.bufferMemory = 64 * 1024;
    env.writeBehind = 1;
    ASSERT_EQ(buffer4start(&env), 0);
    const field4def defs[] = {{"NAME", 'C', 10, 0, 0}, {nullptr, 0, 0, 0, 0}};
    std::string tablePath = dir.file("t.dbf"), plainPath = dir.file("p.dat");
    table4* t = table4create(&env, tablePath.c_str(), defs, nullptr);
    ASSERT_NE(t, nullptr);
    file4 f{};
    ASSERT_EQ(file4create(&f, &env, plainPath.c_str(), 1), 0);
    ASSERT_EQ(file4write(&f, 0, "0123456789", 10), 0);
    ASSERT_EQ(file4flush(&f), 0);
    const std::string tableBytes = readWhole(tablePath), plainBytes = readWhole(plainPath);
    ASSERT_EQ(file4write(&f, 0, "held", 4), 0);  // held in the buffer, not yet on disk

    ASSERT_EQ(error4raise(&env, e4write, 80606), e4write);
    char buf[16];
    file4 other{};
    file4seqWriter w;
    file4seqWriteInit(&w, &f, 0, buf, 0);
    pool4* pool = pool4create(&env, 1, 16, 1, 1);
    struct Call {
        const char* name;
        std::function<bool()> refused;
    } calls[] = {
        {"table4open", [&] { return table4open(&env, tablePath.c_str()) == nullptr; }},
        {"table4create",
         [&] { return table4create(&env, dir.file("n").c_str(), defs, nullptr) == nullptr; }},
        {"file4open", [&] { return file4open(&other, &env, plainPath.c_str(), 1) == e4codeBase; }},
        {"file4create",
         [&] { return file4create(&other, &env, dir.file("m").c_str(), 1) == e4codeBase; }},
        {"file4read", [&] { return file4read(&f, 0, buf, 10) == -1; }},
        {"file4readLow", [&] { return file4readLow(&f, 0, buf, 10) == -1; }},
        {"file4readAll", [&] { return file4readAll(&f, 0, buf, 10) == e4codeBase; }},
        {"file4write", [&] { return file4write(&f, 0, "x", 1) == e4codeBase; }},
        {"file4seqWrite", [&] { return file4seqWrite(&w, "x", 1) == e4codeBase; }},
        {"file4setLength", [&] { return file4setLength(&f, 0) == e4codeBase; }},
        {"file4length", [&] { return file4length(&f) == e4codeBase; }},
        {"file4flush", [&] { return file4flush(&f) == e4codeBase; }},
        {"file4dropBuffers", [&] { return file4dropBuffers(&f) == e4codeBase; }},
        {"buffer4start", [&] { return buffer4start(&env) == e4codeBase; }},
        {"table4recordCountLow",
         [&] { return table4recordCountLow(t->dataFile, t->lockOwner) == e4codeBase; }},
        {"table4writeHeader", [&] { return table4writeHeader(t->dataFile, 1, 0) == e4codeBase; }},
        {"table4setReadAhead", [&] { return table4setReadAhead(t, 1) == e4codeBase; }},
        {"table4setWriteBehind", [&] { return table4setWriteBehind(t, 0) == e4codeBase; }},
        {"pool4alloc", [&] { return pool4alloc(pool, &env) == nullptr; }},
    };
    for (const Call& call : calls) {
        EXPECT_TRUE(call.refused()) << call.name;
        EXPECT_EQ(env.errorCode, e4write) << call.name;
        EXPECT_EQ(readWhole(tablePath), tableBytes) << call.name;
        EXPECT_EQ(readWhole(plainPath), plainBytes) << call.name;
    }
    EXPECT_NE(access(dir.file("n.dbf").c_str(), F_OK), 0);
    EXPECT_NE(access(dir.file("m").c_str(), F_OK), 0);

    EXPECT_EQ(error4setCode(&env, 0), e4write);
    EXPECT_EQ(file4flush(&f), 0);
    EXPECT_EQ(readWhole(plainPath), "held456789");
    table4* again = nullptr;
    env.singleOpen = 0;
    again = table4open(&env, tablePath.c_str());
    EXPECT_NE(again, nullptr);
    pool4release(pool);
    (void)file4close(&f);
    EXPECT_EQ(env4release(&env), 0);
}

}  // namespace
