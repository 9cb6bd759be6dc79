#include "ztdb/ztglobalmem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assert_capture.h"
#include "platform/error_box.h"
#include "ztdb/ztclipboard.h"
#include "ztdb/ztsystem.h"

namespace {

TEST(ZTGlobalMemTest, WritesGrowByTheStep) {
    ZTGlobalMem mem(100);
    EXPECT_EQ(mem.size(), 100u);
    std::vector<unsigned char> bytes(250, 7);
    EXPECT_TRUE(mem.write(bytes.data(), 100));
    EXPECT_EQ(mem.size(), 100u);
    EXPECT_TRUE(mem.write(bytes.data(), 250));
    EXPECT_EQ(mem.size(), 100u + 250 + 100);

    ZTGlobalMem fresh(100);
    EXPECT_TRUE(fresh.write(bytes.data(), 250));
    EXPECT_EQ(fresh.size(), 350u);
}

TEST(ZTGlobalMemTest, ValuesRoundTrip) {
    ZTGlobalMem mem(8);
    ZTArray<uint32_t> ids;
    ids.append(1).append(0xFFFFFFFFu).append(1001);
    ZTStr name;
    name.assign("Caf\xE9");
    EXPECT_TRUE(mem.putULong(0xA1B2C3D4u));
    EXPECT_TRUE(mem.putInt(-5));
    EXPECT_TRUE(mem.putArray(ids));
    EXPECT_TRUE(mem.putString("plain"));
    EXPECT_TRUE(mem.putString(nullptr));
    EXPECT_TRUE(mem.putStr(name));
    EXPECT_TRUE(mem.writeEnd());

    std::vector<unsigned char> held = mem.release();
    ASSERT_EQ(held.size(), 4u + 4 + 16 + 6 + 1 + 5 + 1);
    EXPECT_EQ(held[0], 0xD4);  // little-endian
    EXPECT_EQ(held[3], 0xA1);

    ZTGlobalMem in(16);
    in.attach(held.data(), uint32_t(held.size()));
    EXPECT_EQ(in.getULong(), 0xA1B2C3D4u);
    EXPECT_EQ(in.getInt(), -5);
    ZTArray<uint32_t> back;
    back.append(42);
    EXPECT_TRUE(in.getArray(&back));
    EXPECT_TRUE(back.equals(ids));
    EXPECT_STREQ(in.getString(), "plain");
    EXPECT_STREQ(in.getString(), "");
    ZTStr nameBack;
    EXPECT_TRUE(in.getStr(&nameBack));
    EXPECT_TRUE(nameBack.equals(name.text));
    const unsigned char* end = in.skip(1);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(*end, 0);
    EXPECT_FALSE(in.readFailed());
}

TEST(ZTGlobalMemTest, ReadsNeverPassTheBytesHeld) {
    // Data from another program's clipboard: short, with counts and texts that lie.
    const unsigned char shortInt[] = {1, 2, 3};
    ZTGlobalMem mem(16);
    mem.attach(shortInt, 3);
    EXPECT_EQ(mem.getULong(), 0u);
    EXPECT_TRUE(mem.readFailed());
    EXPECT_EQ(mem.readPosition(), 0u);

    const unsigned char hugeCount[] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0};
    mem.attach(hugeCount, sizeof hugeCount);
    ZTArray<uint32_t> items;
    EXPECT_FALSE(mem.getArray(&items));
    EXPECT_EQ(items.size, 0u);
    EXPECT_EQ(items.capacity, 0u);

    const char unterminated[] = {'a', 'b', 'c'};
    mem.attach(unterminated, 3);
    EXPECT_EQ(mem.getString(), nullptr);
    ZTStr text;
    text.assign("old");
    EXPECT_FALSE(mem.getStr(&text));
    EXPECT_EQ(text.length, 0u);
    EXPECT_EQ(mem.skip(4), nullptr);
    unsigned char out[4] = {9, 9, 9, 9};
    EXPECT_FALSE(mem.read(out, 4));
    EXPECT_EQ(out[0], 9);
    EXPECT_TRUE(mem.read(out, 3));
    EXPECT_EQ(out[2], 'c');

    // What the block holds beyond the bytes written is not readable either.
    ZTGlobalMem written(64);
    written.putULong(7);
    EXPECT_EQ(written.getULong(), 7u);
    EXPECT_EQ(written.getULong(), 0u);
    EXPECT_TRUE(written.readFailed());
}

TEST(ZTGlobalMemTest, ABlockMadeFromReceivedBytesHoldsACopy) {
    unsigned char received[] = {5, 0, 0, 0, 'h', 'i', 0};
    ZTGlobalMem mem(32, received, sizeof received);
    received[0] = 9;  // the sender's buffer may change or go
    EXPECT_EQ(mem.filled(), sizeof received);
    EXPECT_EQ(mem.getULong(), 5u);
    EXPECT_STREQ(mem.getString(), "hi");
    EXPECT_EQ(mem.getULong(), 0u);
    EXPECT_TRUE(mem.readFailed());
}

TEST(ZTGlobalMemTest, AFailedGrowKeepsTheOldBlock) {
    ZTGlobalMem mem(16);
    ASSERT_TRUE(mem.putString("kept"));
    unsigned char byte = 1;
    EXPECT_FALSE(mem.write(&byte, 0xFFFFFFF0u));  // cannot be had: nothing is read from byte
    EXPECT_EQ(mem.writePosition(), 5u);
    EXPECT_TRUE(mem.putString("more"));
    EXPECT_STREQ(mem.getString(), "kept");
    EXPECT_STREQ(mem.getString(), "more");
}

TEST(ZTGlobalMemTest, AccessAfterUnlockIsAProgrammingError) {
    ZTGlobalMem mem(16);
    mem.unlock();
    AssertCapture capture;
    EXPECT_FALSE(mem.putULong(1));
    EXPECT_EQ(mem.getString(), nullptr);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0], "memPtr");
}

class ZTClipboardTest : public ::testing::Test {
  protected:
    void SetUp() override { qv::setClipboard(&board_); }
    void TearDown() override { qv::setClipboard(nullptr); }
    qv::InProcessClipboard board_;
    int window_ = 0, otherWindow_ = 0;
};

TEST_F(ZTClipboardTest, WriteThenReadAPrivateFormat) {
    {
        ZTClipboard clip;
        ASSERT_TRUE(clip.openForWrite(&window_));
        ZTGlobalMem* mem = clip.createMem(4);
        mem->putULong(3);
        mem->putString("record");
        EXPECT_TRUE(clip.setData("Quorvane Records"));
        EXPECT_FALSE(clip.setData(qv::kClipboardText));  // the block went with the first
        clip.close();
    }
    ZTClipboard clip;
    EXPECT_TRUE(clip.isAvailable("Quorvane Records"));
    EXPECT_FALSE(clip.isAvailable(qv::kClipboardText));
    EXPECT_FALSE(clip.isAvailable(qv::ClipboardFormat(0)));
    ASSERT_TRUE(clip.openForRead(&window_));
    ZTGlobalMem mem(16);
    ASSERT_TRUE(clip.getData(&mem, "Quorvane Records"));
    EXPECT_FALSE(clip.getData(&mem, qv::kClipboardText));
    clip.close();
    EXPECT_EQ(mem.getULong(), 3u);
    EXPECT_STREQ(mem.getString(), "record");
}

TEST_F(ZTClipboardTest, OneOwnerAtATime) {
    ZTClipboard mine, theirs;
    ASSERT_TRUE(mine.openForRead(&window_));
    EXPECT_FALSE(mine.isBusy(&window_));
    EXPECT_TRUE(theirs.isBusy(&otherWindow_));
    EXPECT_FALSE(theirs.openForWrite(&otherWindow_));
    theirs.close();  // closes nothing it did not open
    EXPECT_TRUE(ZTClipboard().isBusy(&otherWindow_));
    mine.close();
    EXPECT_FALSE(theirs.isBusy(&otherWindow_));
    {
        ZTClipboard leftOpen;
        ASSERT_TRUE(leftOpen.openForRead(&otherWindow_));
    }
    EXPECT_FALSE(mine.isBusy(&window_));
}

std::string gShown;
void recordError(const char* text) {
    gShown = text;
}

TEST(ZTSystemTest, ErrorBoxFormatsBounded) {
    qv::ErrorBoxSink previous = qv::setErrorBoxSink(&recordError);
    showErrorBox("Cannot open %s (%d)", "base.zt2", 5);
    EXPECT_EQ(gShown, "Cannot open base.zt2 (5)");
    std::string longText(2000, 'x');
    showErrorBox("%s", longText.c_str());
    EXPECT_EQ(gShown, std::string(499, 'x'));
    qv::setErrorBoxSink(previous);
}

TEST(ZTSystemTest, UserNameAndStamp) {
    ZTStr out;
    EXPECT_GT(std::string(getCurrentUserName(&out)).size(), 0u);
    const char* stamp = getNowStamp(&out);
    ASSERT_EQ(out.length, 19u) << stamp;
    for (int i : {4, 7}) EXPECT_EQ(stamp[i], '/');
    for (int i : {13, 16}) EXPECT_EQ(stamp[i], ':');
    EXPECT_EQ(stamp[10], ' ');
}

}  // namespace
