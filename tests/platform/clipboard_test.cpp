#include "platform/clipboard.h"

#include <gtest/gtest.h>

namespace {

TEST(InProcessClipboardTest, FormatsAndOwnership) {
    qv::InProcessClipboard board;
    int a = 0, b = 0;
    qv::ClipboardFormat records = board.registerFormat("Records");
    EXPECT_GE(records, qv::kFirstRegisteredFormat);
    EXPECT_EQ(board.registerFormat("Records"), records);
    EXPECT_NE(board.registerFormat("Other"), records);
    EXPECT_EQ(board.registerFormat(""), 0u);

    std::vector<unsigned char> out;
    EXPECT_FALSE(board.setData(records, {1, 2}));  // not open
    ASSERT_TRUE(board.open(&a));
    EXPECT_FALSE(board.open(&b));
    EXPECT_TRUE(board.setData(records, {1, 2}));
    EXPECT_FALSE(board.setData(0, {1}));
    EXPECT_TRUE(board.isAvailable(records));
    EXPECT_FALSE(board.isAvailable(0));
    board.close();
    EXPECT_TRUE(board.isAvailable(records));  // no need to open for that
    EXPECT_FALSE(board.getData(records, &out));
    ASSERT_TRUE(board.open(&b));
    ASSERT_TRUE(board.getData(records, &out));
    EXPECT_EQ(out, (std::vector<unsigned char>{1, 2}));
    EXPECT_TRUE(board.empty());
    EXPECT_FALSE(board.isAvailable(records));
    board.close();
}

TEST(InProcessClipboardTest, TheClipboardInForceCanBeReplaced) {
    qv::Clipboard& process = qv::clipboard();
    qv::InProcessClipboard other;
    qv::setClipboard(&other);
    EXPECT_EQ(&qv::clipboard(), &other);
    qv::setClipboard(nullptr);
    EXPECT_EQ(&qv::clipboard(), &process);
}

}  // namespace
