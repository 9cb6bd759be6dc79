#include "xbase/file/file4.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "error_capture.h"
#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/file/buffer4.h"
#include "xbase/table/env4release.h"

namespace {

class File4 : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(env4init(&env, env4version), 0); }
    void TearDown() override {
        env.errorCode = 0;
        EXPECT_EQ(env4release(&env), 0);
    }
    std::string path(const char* name) { return dir.file(name); }
    env4 env;
    TempDir dir;
    ErrorCapture errors;
};

TEST_F(File4, OpenFailuresAreRaisedOrQuiet) {
    file4 f{};
    EXPECT_EQ(file4open(&f, &env, path("missing.dbf").c_str(), 1), e4fileFind);
    EXPECT_EQ(env.errorCode, e4fileFind);
    EXPECT_EQ(file4open(&f, &env, path("x").c_str(), 1), e4codeBase);  // sticky
    env.errorCode = 0;
    env.errOpen = 0;
    EXPECT_EQ(file4open(&f, &env, path("missing.dbf").c_str(), 1), r4noOpen);
    EXPECT_EQ(env.errorCode, r4noOpen);
    EXPECT_FALSE(file4isOpen(&f));
    env.errorCode = 0;
    env.errOpen = 1;
    writeWhole(path("a.dat"), "abc");
    env.accessMode = 3;
    EXPECT_EQ(file4open(&f, &env, path("a.dat").c_str(), 1), e4open);
    env.errorCode = 0;
    env.accessMode = 0;
    EXPECT_EQ(file4open(&f, &env, dir.path().c_str(), 1), e4open);  // a folder is no file
}

TEST_F(File4, AFileWithoutWritePermissionOpensReadOnly) {
    writeWhole(path("ro.dat"), "0123456789");
    chmod(path("ro.dat").c_str(), 0444);
    file4 f{};
    ASSERT_EQ(file4open(&f, &env, path("ro.dat").c_str(), 1), 0);
    EXPECT_TRUE(f.isReadOnly);
    char buf[4];
    EXPECT_EQ(file4read(&f, 2, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "2345");
    EXPECT_EQ(file4write(&f, 0, "x", 1), e4write);
    env.errorCode = 0;
    EXPECT_EQ(file4close(&f), 0);
    EXPECT_EQ(readWhole(path("ro.dat")), "0123456789");
}

TEST_F(File4, ReadsAndWritesAtPositions) {
    file4 f{};
    ASSERT_EQ(file4create(&f, &env, path("a.dat").c_str(), 1), 0);
    EXPECT_EQ(file4write(&f, 5, "hello", 5), 0);
    EXPECT_EQ(file4length(&f), 10);
    char buf[16] = {};
    EXPECT_EQ(file4read(&f, 0, buf, 16), 10);
    EXPECT_EQ(std::string(buf, 10), std::string(5, '\0') + "hello");
    EXPECT_EQ(file4readAll(&f, 8, buf, 3), e4read);  // 100 bytes at the end of 50 alike
    env.errorCode = 0;
    EXPECT_EQ(file4readAll(&f, 5, buf, 5), 0);
    EXPECT_EQ(file4write(&f, -1, "x", 1), e4parm);
    env.errorCode = 0;
    EXPECT_EQ(file4write(&f, 0, nullptr, 1), e4parm);
    env.errorCode = 0;
    EXPECT_EQ(file4read(&f, -1, buf, 1), e4parmNull);
    env.errorCode = 0;
    EXPECT_EQ(file4setLength(&f, 7), 0);
    EXPECT_EQ(file4length(&f), 7);
    EXPECT_EQ(file4flush(&f), 0);
    EXPECT_EQ(file4close(&f), 0);
    EXPECT_EQ(readWhole(path("a.dat")), std::string(5, '\0') + "he");
}

TEST_F(File4, SetLengthIsBlockedByAPendingErrorOnly) {
    file4 f{};
    ASSERT_EQ(file4create(&f, &env, path("a.dat").c_str(), 1), 0);
    env.errorCode = r4noCreate;  // a stored outcome, not an error
    EXPECT_EQ(file4setLength(&f, 100), 0);
    EXPECT_EQ(file4length(&f), 100);
    env.errorCode = e4write;
    EXPECT_EQ(file4setLength(&f, 10), e4codeBase);
    env.errorCode = 0;
    EXPECT_EQ(file4length(&f), 100);
    (void)file4close(&f);
}

TEST_F(File4, CreateRespectsSafetyAndNeverReplacesAFileInUse) {
    writeWhole(path("old.dat"), "precious");
    file4 f{};
    EXPECT_EQ(file4create(&f, &env, path("old.dat").c_str(), 1), e4create);
    env.errorCode = 0;
    env.errCreate = 0;
    EXPECT_EQ(file4create(&f, &env, path("old.dat").c_str(), 1), r4noCreate);
    EXPECT_EQ(readWhole(path("old.dat")), "precious");
    env.errorCode = 0;
    // Held open by another environment of this process: not replaced.
    env4 other;
    ASSERT_EQ(env4init(&other, env4version), 0);
    file4 holder{};
    ASSERT_EQ(file4open(&holder, &other, path("old.dat").c_str(), 1), 0);
    env.safety = 0;
    EXPECT_EQ(file4create(&f, &env, path("old.dat").c_str(), 1), r4noCreate);
    EXPECT_EQ(readWhole(path("old.dat")), "precious");
    env.errorCode = 0;
    (void)file4close(&holder);
    (void)env4release(&other);
    ASSERT_EQ(file4create(&f, &env, path("old.dat").c_str(), 1), 0);
    EXPECT_EQ(file4length(&f), 0);
    (void)file4close(&f);
}

TEST_F(File4, TemporaryFilesLiveInTheBufferUntilTheyMustReachTheDisk) {
    setenv("TEMP", dir.path().c_str(), 1);
    env.bufferMemory = 64 * 1024;
    ASSERT_EQ(buffer4start(&env), 0);
    file4 t{};
    ASSERT_EQ(file4create(&t, &env, nullptr, 0), 0);
    EXPECT_TRUE(file4isOpen(&t));
    EXPECT_EQ(t.fd, -1);
    EXPECT_EQ(file4write(&t, 0, "spill", 5), 0);
    char buf[5];
    EXPECT_EQ(file4read(&t, 0, buf, 5), 5);
    EXPECT_EQ(file4length(&t), 5);
    EXPECT_TRUE(dir.entries().empty());
    EXPECT_EQ(file4close(&t), 0);
    EXPECT_TRUE(dir.entries().empty());  // never reached the disk

    // Suspending the buffer gives it a real file, which goes when closed.
    ASSERT_EQ(file4create(&t, &env, nullptr, 0), 0);
    EXPECT_EQ(file4write(&t, 0, "spill", 5), 0);
    EXPECT_EQ(buffer4suspend(&env), 0);
    ASSERT_EQ(dir.entries().size(), 1u);
    EXPECT_EQ(readWhole(t.name), "spill");
    EXPECT_EQ(file4close(&t), 0);
    EXPECT_TRUE(dir.entries().empty());

    // Without a buffer the file is made at once with an unguessable name.
    ASSERT_EQ(file4create(&t, &env, nullptr, 0), 0);
    ASSERT_EQ(dir.entries().size(), 1u);
    EXPECT_EQ(t.accessMode, 1);
    EXPECT_EQ(file4close(&t), 0);
    EXPECT_TRUE(dir.entries().empty());
    unsetenv("TEMP");
}

// Sectors a reader settled are copied out of the buffer without the disk, and only whole
// sectors of one block that the buffer holds; a write into their block, dropped buffers or a
// shorter file unsettle them.
TEST_F(File4, SettledSectorsServeReadsUntilTheirBlockChanges) {
    env.bufferMemory = 64 * 1024;
    env.blockSize = 1024;
    env.readAhead = 1;
    ASSERT_EQ(buffer4start(&env), 0);
    writeWhole(path("s.dat"), std::string(4096, 'a'));
    file4 f{};
    ASSERT_EQ(file4open(&f, &env, path("s.dat").c_str(), 1), 0);
    char sector[512], out[512];
    std::memset(sector, 's', sizeof sector);
    const auto settleFirstBlock = [&] {
        ASSERT_EQ(file4read(&f, 512, out, 512), 512);
        file4settle(&f, 512, sector, 512);
        ASSERT_EQ(file4readSettled(&f, 512, out, 512), 512);
        EXPECT_EQ(std::memcmp(out, sector, 512), 0);
    };
    ASSERT_EQ(file4read(&f, 512, out, 512), 512);
    EXPECT_EQ(file4readSettled(&f, 512, out, 512), 0);  // read, but not confirmed
    settleFirstBlock();
    EXPECT_EQ(file4readSettled(&f, 0, out, 512), 0);    // its neighbour in the block
    EXPECT_EQ(file4readSettled(&f, 512, out, 256), 0);  // part of a sector
    EXPECT_EQ(file4readSettled(&f, 768, out, 512), 0);  // across two blocks
    file4settle(&f, 3072, sector, 512);                 // a block the buffer lacks
    EXPECT_EQ(file4readSettled(&f, 3072, out, 512), 0);

    struct Case {
        const char* name;
        std::function<void()> change;
    } cases[] = {
        {"a write into the block", [&] { EXPECT_EQ(file4write(&f, 100, "w", 1), 0); }},
        {"dropped buffers", [&] { EXPECT_EQ(file4dropBuffers(&f), 0); }},
        {"a shorter file", [&] { EXPECT_EQ(file4setLength(&f, 900), 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(file4setLength(&f, 4096), 0);
        settleFirstBlock();
        c.change();
        EXPECT_EQ(file4readSettled(&f, 512, out, 512), 0);
    }
    EXPECT_EQ(file4close(&f), 0);
}

TEST_F(File4, AFirstBlockWhoseFirstBytesAloneChangedWritesBackOnlyThem) {
    // An index's first block: its first 16 bytes (the change counter) reach the disk last.
    // Whether the rest of the block was written back is seen by changing it on the disk behind
    // the buffer's back.
    env.bufferMemory = 64 * 1024;
    env.blockSize = 1024;
    env.readAhead = 1;
    env.writeBehind = 1;
    ASSERT_EQ(buffer4start(&env), 0);
    struct Case {
        const char* name;
        std::vector<std::pair<int32_t, std::string>> writes;
        bool restWritten;
    } const cases[] = {
        {"the first bytes", {{0, std::string(16, 'c')}}, false},
        {"some of the first bytes, twice", {{4, "cc"}, {8, "dd"}}, false},
        {"the rest", {{600, "rr"}}, true},
        {"across the boundary", {{10, std::string(10, 'x')}}, true},
        {"the first bytes, then the rest", {{0, "c"}, {900, "r"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeWhole(path("i.idx"), std::string(2048, 'a'));
        file4 f{};
        ASSERT_EQ(file4open(&f, &env, path("i.idx").c_str(), 1), 0);
        f.kind = file4kindIndex;
        f.lastBytes = 16;
        ASSERT_EQ(file4setWriteBehind(&f, 1), 0);
        char block[1024];
        ASSERT_EQ(file4read(&f, 0, block, 1024), 1024);
        std::string disk = readWhole(path("i.idx"));
        disk.replace(300, 100, std::string(100, 'X'));
        writeWhole(path("i.idx"), disk);
        std::string buffered(2048, 'a');
        for (const auto& [pos, bytes] : c.writes) {
            ASSERT_EQ(file4write(&f, pos, bytes.data(), int32_t(bytes.size())), 0);
            buffered.replace(size_t(pos), bytes.size(), bytes);
            disk.replace(0, 16, buffered.substr(0, 16));
        }
        ASSERT_EQ(file4writeBack(&f), 0);
        EXPECT_EQ(readWhole(path("i.idx")), c.restWritten ? buffered : disk);
        EXPECT_EQ(file4close(&f), 0);
    }
}

TEST_F(File4, BufferStartRoundsBlocksToSectors) {
    struct Case {
        int32_t blockSize, groupSize, wantBlock, wantGroup;
    } cases[] = {{1000, 32768, 512, 32768},
                 {100, 32768, 512, 32768},
                 {1024, 3000, 1024, 2048},
                 {2048, 1000, 2048, 2048}};
    for (const Case& c : cases) {
        env.blockSize = c.blockSize;
        env.bufferGroupSize = c.groupSize;
        env.bufferMemory = 1 << 20;
        ASSERT_EQ(buffer4start(&env), 0);
        EXPECT_EQ(env.buffer->blockSize, c.wantBlock) << c.blockSize;
        EXPECT_EQ(env.buffer->groupBytes, c.wantGroup) << c.blockSize;
        EXPECT_GE(env.buffer->groups, 4);
        EXPECT_GT(env.buffer->hashSize, env.buffer->totalBlocks);
        EXPECT_EQ(buffer4suspend(&env), 0);
    }
    env.blockSize = 0;
    EXPECT_EQ(buffer4start(&env), e4struct);
    env.errorCode = 0;
    env.blockSize = 512;
    env.bufferMemory = 100;  // not even eight groups of one block
    EXPECT_EQ(buffer4start(&env), -1);
    EXPECT_FALSE(buffer4running(&env));
}

TEST_F(File4, SequentialReaderAndWriterRoundTrip) {
    file4 f{};
    ASSERT_EQ(file4create(&f, &env, path("seq.dat").c_str(), 1), 0);
    std::string expected;
    char wbuf[2048];
    file4seqWriter w;
    file4seqWriteInit(&w, &f, 100, wbuf, sizeof wbuf);
    for (int i = 0; i < 500; ++i) {
        std::string piece = std::to_string(i) + ",";
        ASSERT_EQ(file4seqWrite(&w, piece.data(), static_cast<int32_t>(piece.size())), 0);
        expected += piece;
    }
    ASSERT_EQ(file4seqWriteRepeat(&w, 1300, 'z'), 0);
    expected += std::string(1300, 'z');
    ASSERT_EQ(file4seqWriteFlush(&w), 0);
    char rbuf[3000];
    file4seqReader r;
    file4seqReadInit(&r, &f, 100, rbuf, sizeof rbuf);
    std::string got(expected.size(), '\0');
    size_t at = 0;
    for (int32_t step = 1; at < got.size(); step = step * 3 % 997 + 1) {
        int32_t n = static_cast<int32_t>(std::min<size_t>(step, got.size() - at));
        ASSERT_EQ(file4seqReadAll(&r, got.data() + at, n), 0);
        at += n;
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(file4seqReadAll(&r, rbuf, 1), e4read);
    env.errorCode = 0;
    (void)file4close(&f);
}

}  // namespace
