// Read brackets: a walk that fails under another's change is started again after the buffers
// are dropped; a walk that fails every time (a damaged index) gives up after a bounded number of
// restarts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "ztfile_helpers.h"

namespace {

TEST(ZTFileReads, ABracketRecoversAnError) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    EXPECT_FALSE(file.recoverRead());  // outside a bracket nothing is recovered
    file.beginRead();
    file.beginRead();
    EXPECT_EQ(file.getReadDepth(), 2);
    EXPECT_FALSE(file.recoverRead());            // no error: a real end
    (void)error4setCode(file.getEnv(), e4read);  // a walk failed under a change
    EXPECT_TRUE(file.recoverRead());
    EXPECT_EQ(error4code(file.getEnv()), 0);
    table4* t = file.getRowTable();
    ASSERT_NE(table4selectTag(t, file.getRowTag(2)), nullptr);
    EXPECT_EQ(table4goTop(t), 0);                // the walk starts again and succeeds
    (void)error4setCode(file.getEnv(), e4read);  // a walk failed under a change
    file.endRead();
    EXPECT_NE(error4code(file.getEnv()), 0);  // kept until the outermost bracket ends
    file.endRead();
    EXPECT_EQ(error4code(file.getEnv()), 0);
    EXPECT_EQ(file.getReadDepth(), 0);

    ZTFile exclusive(base.c_str());
    file.close();
    ASSERT_EQ(exclusive.open(7, true), 7u);
    exclusive.beginRead();
    EXPECT_EQ(exclusive.getReadDepth(), 0);
    (void)error4setCode(exclusive.getEnv(), e4read);
    EXPECT_FALSE(exclusive.recoverRead());
    exclusive.endRead();
}

TEST(ZTFileReads, AReaderOfADamagedIndexGivesUp) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    index4checkReport index;
    ASSERT_EQ(index4checkFile((base + ".IX").c_str(), &index), 0);
    uint32_t root = 0;
    for (const index4checkTag& tag : index.tags)
        if (tag.name == "ZTW2") root = tag.header.root;
    ASSERT_NE(root, 0u);
    std::FILE* f = std::fopen((base + ".IX").c_str(), "r+b");
    std::fseek(f, long(root) + 12, SEEK_SET);
    for (int i = 0; i < 400; ++i) std::fputc(0xA5, f);
    std::fclose(f);

    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    // Under the counted lock the library reports the damage at once rather than waiting out
    // a writer that is not there; the reader still walks inside its bracket.
    ASSERT_TRUE(file.lock(false));
    file.beginRead();
    table4* t = file.getRowTable();
    int restarts = 0;
    bool walked = false;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (table4selectTag(t, file.getRowTag(2)) != nullptr && table4goTop(t) == 0) {
            walked = true;
            break;
        }
        if (!file.recoverRead()) break;
        ++restarts;
    }
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(walked);
    EXPECT_EQ(restarts, ZTFile::kMaxReadRestarts);
    EXPECT_GT(seconds, 1.0);  // the pauses grow
    EXPECT_LT(seconds, 30.0);
    file.endRead();
    EXPECT_EQ(error4code(file.getEnv()), 0);
    file.unlock();
}

}  // namespace
