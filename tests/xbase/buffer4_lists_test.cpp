// The block buffer's replacement lists: a long stream of data blocks read once
// passes through without taking an index block (branch node or leaf) that is
// touched now and then (as every key lookup does), although it goes longer
// untouched than the buffer has blocks; a data block earns the same only by
// being read again after other blocks came in.
// Whether a block is still held is seen by changing the file behind the
// buffer's back: a held block still shows the old bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "buffer_env.h"
#include "temp_dir.h"
#include "xbase/core/env4.h"
#include "xbase/file/file4.h"
#include "xbase/table/env4release.h"

namespace {

constexpr int32_t kNode = 512;
constexpr int32_t kStream = 960;      // data blocks read, many times the buffer's 72
constexpr int32_t kTouchEvery = 120;  // more than the buffer's blocks

void overwriteOnDisk(const std::string& path, int32_t pos, char byte) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string bytes(kNode, byte);
    ASSERT_EQ(::pwrite(fd, bytes.data(), kNode, pos), kNode);
    ::close(fd);
}

// Byte 2 of the block at `pos` as the buffer reads it.
char seen(file4* f, int32_t pos) {
    char got[kNode];
    EXPECT_EQ(file4read(f, pos, got, kNode), kNode);
    return got[2];
}

TEST(BufferLists, BranchNodesOutliveADataStream) {
    struct Case {
        uint16_t attribute;
        bool held;
    } const cases[] = {{0, true}, {1, true}, {2, true}, {3, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("attribute " + std::to_string(c.attribute));
        TempDir dir;
        env4 env;
        // 36 groups: 72 blocks
        ASSERT_EQ(startBufferedEnv(&env, kNode, 2 * kNode, 40 * (2 * kNode - 2)), 0);
        file4 data{}, index{};
        data.kind = file4kindData;
        index.kind = file4kindIndex;
        std::string dataPath = dir.file("d"), indexPath = dir.file("i");
        ASSERT_EQ(file4create(&data, &env, dataPath.c_str(), 1), 0);
        ASSERT_EQ(file4create(&index, &env, indexPath.c_str(), 1), 0);

        std::string rows(kStream * kNode, 'd');
        ASSERT_EQ(file4write(&data, 0, rows.data(), static_cast<int32_t>(rows.size())), 0);
        ASSERT_EQ(file4dropBuffers(&data), 0);
        // Two nodes, each in a block of its own; the second is a leaf.
        std::string nodes(2 * kNode, 'n');
        nodes[0] = static_cast<char>(c.attribute & 0xff);
        nodes[1] = static_cast<char>(c.attribute >> 8);
        nodes[kNode] = 2;
        nodes[kNode + 1] = 0;
        ASSERT_EQ(file4write(&index, 0, nodes.data(), 2 * kNode), 0);
        ASSERT_EQ(file4flush(&index), 0);

        for (int32_t i = 0; i < kStream; ++i) {
            if (i % kTouchEvery == 0) {
                EXPECT_EQ(seen(&index, 0), 'n');
                EXPECT_EQ(seen(&index, kNode), 'n');
            }
            EXPECT_EQ(seen(&data, i * kNode), 'd');
        }

        overwriteOnDisk(indexPath, 0, 'x');
        EXPECT_EQ(seen(&index, 0), c.held ? 'n' : 'x');
        ASSERT_EQ(file4close(&data), 0);
        ASSERT_EQ(file4close(&index), 0);
        EXPECT_EQ(env4release(&env), 0);
    }
}

// A data block read a second time stays through a stream of blocks read once, but only when
// the second read came after other blocks (a record read in pieces is one use), or when it
// was written.
TEST(BufferLists, DataUsedAgainOutlivesAStreamReadOnce) {
    enum class Again { never, atOnce, later, written };
    struct Case {
        const char* name;
        Again again;
        bool held;
    } const cases[] = {{"read once", Again::never, false},
                       {"read again at once", Again::atOnce, false},
                       {"read again later", Again::later, true},
                       {"written", Again::written, true}};
    constexpr int32_t kKept = 3 * kNode;  // past the first block, which has a list of its own
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        env4 env;
        ASSERT_EQ(startBufferedEnv(&env, kNode, 2 * kNode, 40 * (2 * kNode - 2)), 0);
        file4 data{};
        data.kind = file4kindData;
        std::string dataPath = dir.file("d");
        ASSERT_EQ(file4create(&data, &env, dataPath.c_str(), 1), 0);
        std::string rows(kStream * kNode, 'd');
        ASSERT_EQ(file4write(&data, 0, rows.data(), static_cast<int32_t>(rows.size())), 0);
        ASSERT_EQ(file4dropBuffers(&data), 0);

        EXPECT_EQ(seen(&data, kKept), 'd');
        if (c.again == Again::atOnce) {
            EXPECT_EQ(seen(&data, kKept), 'd');
        }
        for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(seen(&data, (10 + i) * kNode), 'd');
        if (c.again == Again::later) {
            EXPECT_EQ(seen(&data, kKept), 'd');
        }
        if (c.again == Again::written) {
            ASSERT_EQ(file4write(&data, kKept, "w", 1), 0);
            ASSERT_EQ(file4flush(&data), 0);
        }
        for (int32_t i = 20; i < kStream; ++i) EXPECT_EQ(seen(&data, i * kNode), 'd');

        overwriteOnDisk(dataPath, kKept, 'x');
        EXPECT_EQ(seen(&data, kKept), c.held ? 'd' : 'x');
        ASSERT_EQ(file4close(&data), 0);
        EXPECT_EQ(env4release(&env), 0);
    }
}

}  // namespace
