#include "xbase/record/table4format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Every piece the header is updated or read by is the whole header's bytes at its place,
// so that a piece written or read alone agrees with the header written whole.
TEST(TableHeader, PiecesAreTheWholeHeadersBytesAtTheirPlace) {
    table4header h{};
    h.version = table4version03;
    h.date[0] = 124;
    h.date[1] = 2;
    h.date[2] = 29;
    h.count = 0x01020304;
    h.headerLen = 0x0161;
    h.recordLen = 0x0102;
    h.flags = table4flagProduction;
    h.codePage = 0x57;
    unsigned char whole[table4headerSize];
    table4headerEncode(h, whole);

    struct Case {
        bool date, count;
        int32_t offset, size;  // what an update rewrites
    } cases[] = {
        {true, true, 0, 10}, {false, true, 4, 6}, {true, false, 0, 4}, {false, false, 4, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "date " << c.date << " count " << c.count);
        const bytes4slice piece = table4headerEncodeUpdate(h, c.date, c.count);
        EXPECT_EQ(piece.offset, c.offset);
        ASSERT_EQ(piece.size, c.size);
        EXPECT_EQ(std::memcmp(piece.bytes, whole + piece.offset, size_t(piece.size)), 0);
    }
    const bytes4slice flags = table4headerEncodeFlags(h.flags);
    ASSERT_EQ(flags.size, 1);
    EXPECT_EQ(flags.offset, 28);
    EXPECT_EQ(flags.bytes[0], whole[flags.offset]);

    bytes4slice count = table4headerCountSlice();
    ASSERT_LE(count.size, int32_t(sizeof count.bytes));
    std::memcpy(count.bytes, whole + count.offset, size_t(count.size));
    EXPECT_EQ(table4headerDecodeCount(count), h.count);

    table4header back{};
    table4headerDecode(whole, back);
    EXPECT_EQ(back.count, h.count);
    EXPECT_EQ(back.headerLen, h.headerLen);
    EXPECT_EQ(back.recordLen, h.recordLen);
    EXPECT_EQ(back.flags, h.flags);
    EXPECT_EQ(back.codePage, h.codePage);
    EXPECT_EQ(std::memcmp(back.date, h.date, 3), 0);
}

}  // namespace
