// How the block buffer fills a block from disk: every byte past what the disk gave reads as
// zero, also in a block whose memory held other bytes before, whether the block was read
// before a write past the file's end or made for that write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "buffer_env.h"
#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/file/buffer4.h"
#include "xbase/file/file4.h"
#include "xbase/table/env4release.h"

namespace {

constexpr int32_t kBlock = 1024;
constexpr int32_t kBlocks = 40;

char byteOf(int32_t block) {
    return static_cast<char>('A' + block);
}

// The first byte of a block, as the buffer reads it.
char seen(file4* f, int32_t block, int32_t size = kBlock) {
    char got[kBlock];
    EXPECT_EQ(file4read(f, block * size, got, size), size);
    return got[0];
}

TEST(BufferFill, BytesPastTheDiskReadAsZeroInReusedBlocks) {
    for (const bool readFirst : {true, false}) {
        SCOPED_TRACE(readFirst ? "block read before the write" : "block made by the write");
        TempDir dir;
        env4 env;
        // 8 groups: 16 blocks, reused all the time
        ASSERT_EQ(startBufferedEnv(&env, kBlock, 2 * kBlock, 12 * (2 * kBlock - 2)), 0);
        file4 data{};
        data.kind = file4kindData;
        const std::string path = dir.file("d");
        ASSERT_EQ(file4create(&data, &env, path.c_str(), 1), 0);
        std::string rows;
        for (int32_t i = 0; i < kBlocks; ++i) rows.append(kBlock, byteOf(i));
        ASSERT_EQ(file4write(&data, 0, rows.data(), static_cast<int32_t>(rows.size())), 0);
        ASSERT_EQ(file4flush(&data), 0);
        // The file ends 100 bytes into block 37; every block of the buffer held full blocks.
        const int32_t end = 37 * kBlock + 100;
        ASSERT_EQ(file4setLength(&data, end), 0);
        ASSERT_EQ(file4flush(&data), 0);
        ASSERT_EQ(file4dropBuffers(&data), 0);
        for (int32_t i = 0; i < 37; ++i) ASSERT_EQ(seen(&data, i), byteOf(i));
        if (readFirst) {
            std::string head(100, '?');
            ASSERT_EQ(file4read(&data, 37 * kBlock, head.data(), kBlock), 100);
        }
        // Written past the end: the bytes between read as zeros.
        const std::string tail = "end";
        ASSERT_EQ(file4write(&data, end + 500, tail.data(), 3), 0);
        std::string got(603, '?');
        ASSERT_EQ(file4read(&data, end - 100, got.data(), 603), 603);
        EXPECT_EQ(got.substr(0, 100), std::string(100, byteOf(37)));
        EXPECT_EQ(got.substr(100, 500), std::string(500, '\0'));
        EXPECT_EQ(got.substr(600), tail);
        ASSERT_EQ(file4flush(&data), 0);
        EXPECT_EQ(readWhole(path).substr(end - 100), got);
        ASSERT_EQ(file4close(&data), 0);
        EXPECT_EQ(env4release(&env), 0);
    }
}

// A buffer of many groups holds them in one mapping. A file larger than the buffer, written
// through it and read back block by block, shows each block's own bytes, before and after the
// buffer is suspended (its mapping given back, changed blocks written first) and started
// again.
TEST(BufferFill, GroupsOfOneMappingKeepEveryBlockApart) {
    constexpr int32_t kGroup = 32 * kBlock;
    constexpr int32_t kMemory = 5 << 20;
    constexpr int32_t kFileBlocks = (kMemory / kBlock) * 3 / 2;
    TempDir dir;
    env4 env;
    ASSERT_EQ(startBufferedEnv(&env, kBlock, kGroup, kMemory), 0);
    ASSERT_NE(buffer4stateOf(&env)->groupMapping, nullptr);
    file4 data{};
    data.kind = file4kindData;
    const std::string path = dir.file("d");
    ASSERT_EQ(file4create(&data, &env, path.c_str(), 1), 0);
    auto blockBytes = [](int32_t n) {
        std::string b(kBlock, byteOf(n % 26));
        std::memcpy(b.data(), &n, sizeof n);
        return b;
    };
    for (int32_t n = 0; n < kFileBlocks; ++n)
        ASSERT_EQ(file4write(&data, n * kBlock, blockBytes(n).data(), kBlock), 0);
    auto readBack = [&]() {
        std::string got(kBlock, '?');
        for (int32_t n = 0; n < kFileBlocks; ++n) {
            ASSERT_EQ(file4read(&data, n * kBlock, got.data(), kBlock), kBlock);
            ASSERT_EQ(got, blockBytes(n)) << "block " << n;
        }
    };
    readBack();
    // The last blocks written are still held changed: the suspend writes them first.
    ASSERT_EQ(buffer4suspend(&env), 0);
    ASSERT_EQ(buffer4start(&env), 0);
    ASSERT_NE(buffer4stateOf(&env)->groupMapping, nullptr);
    readBack();
    ASSERT_EQ(file4close(&data), 0);
    std::string expected;
    for (int32_t n = 0; n < kFileBlocks; ++n) expected += blockBytes(n);
    EXPECT_EQ(readWhole(path), expected);
    EXPECT_EQ(env4release(&env), 0);
}

// A read-ahead transfer takes all its blocks before it places any. When one cannot be had (the
// write-back of the changed block it would reuse fails), the read fails with that error, the
// blocks already taken go back, and the changed bytes stay held: once the disk works again they
// reach the file, and the buffer serves with every one of its blocks.
TEST(BufferFill, AReadAheadThatCannotTakeItsBlocksLosesNothing) {
    constexpr int32_t kSmall = 512, kTotal = 16, kRows = 24;
    TempDir dir;
    env4 env;
    // 4 groups of 4 blocks
    ASSERT_EQ(startBufferedEnv(&env, kSmall, 4 * kSmall, 8 * (4 * kSmall - 2)), 0);
    const std::string rowsPath = dir.file("rows"), heldPath = dir.file("held");
    std::string rows;
    for (int32_t i = 0; i < kRows; ++i) rows.append(kSmall, byteOf(i));
    writeWhole(rowsPath, rows);
    file4 data{}, held{};
    data.kind = file4kindData;
    ASSERT_EQ(file4open(&data, &env, rowsPath.c_str(), 1), 0);
    ASSERT_EQ(file4create(&held, &env, heldPath.c_str(), 1), 0);
    // Every block but one holds changed bytes.
    const std::string changed((kTotal - 1) * kSmall, 'h');
    ASSERT_EQ(file4write(&held, 0, changed.data(), int32_t(changed.size())), 0);
    ASSERT_EQ(file4bufferedBlocks(&held), kTotal - 1);

    std::string got(3 * kSmall, '?');
    file4failWrite(0, 1);
    EXPECT_EQ(file4read(&data, 0, got.data(), 3 * kSmall), e4write);
    file4failWrite(0, 0);
    EXPECT_EQ(error4setCode(&env, 0), e4write);
    EXPECT_EQ(file4bufferedBlocks(&data), 0);
    EXPECT_EQ(file4bufferedBlocks(&held), kTotal - 1);

    ASSERT_EQ(file4read(&data, 0, got.data(), 3 * kSmall), 3 * kSmall);
    EXPECT_EQ(got, rows.substr(0, 3 * kSmall));
    for (int32_t i = 0; i < kRows; ++i) ASSERT_EQ(seen(&data, i, kSmall), byteOf(i)) << i;
    // No block was lost on the way: all of them hold data of one file or the other.
    EXPECT_EQ(file4bufferedBlocks(&data) + file4bufferedBlocks(&held), kTotal);
    ASSERT_EQ(file4flush(&held), 0);
    EXPECT_EQ(readWhole(heldPath), changed);
    ASSERT_EQ(file4close(&data), 0);
    ASSERT_EQ(file4close(&held), 0);
    EXPECT_EQ(env4release(&env), 0);
}

}  // namespace
