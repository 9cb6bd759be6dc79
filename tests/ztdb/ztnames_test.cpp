#include "ztdb/ztnames.h"

#include <gtest/gtest.h>

#include <string>

#include "ztdb/ztstr.h"

namespace {

std::string folded(std::string text, const char* keep) {
    foldSearchChars(text.data(), keep);
    return text.c_str();
}

TEST(FoldSearchCharsTest, FoldsNamesForSearching) {
    EXPECT_EQ(folded("\xC9lan-Vital", nullptr), "elanvital");
    EXPECT_EQ(folded("\xC9lan-Vital", "-"), "elan-vital");
    EXPECT_EQ(folded("ABCxyz 0129", nullptr), "abcxyz0129");
    // Every byte from 192 up has its letter but the multiplication and division signs.
    EXPECT_EQ(folded("\xC0\xC6\xC7\xD1\xD7\xD8\xDF\xE6\xF7\xF8\xFF", nullptr), "aacnzzazy");
    EXPECT_EQ(folded("\x8C\x9C", nullptr), "oo");
    EXPECT_EQ(folded("a\x80\x9F\xA0\xBF\x01\x7F.,;b", nullptr), "ab");
    // A kept byte stays as it is, even one that would fold.
    EXPECT_EQ(folded("\xC9t\xE9", "\xE9"), "et\xE9");
    EXPECT_EQ(folded("", nullptr), "");
}

TEST(FoldSearchCharsTest, ZTStrFoldSetsLengthAndNeverWritesTheSharedText) {
    ZTStr s;
    s.assign("A-B c");
    s.fold(nullptr);
    EXPECT_STREQ(s.text, "abc");
    EXPECT_EQ(s.length, 3u);
    ZTStr empty;
    empty.fold(nullptr);
    EXPECT_EQ(empty.text, ZTStr().text);
    ZTStr onlyRemoved;
    onlyRemoved.assign("--");
    onlyRemoved.fold(nullptr);
    EXPECT_EQ(onlyRemoved.length, 0u);
}

TEST(HashStringTest, SignedBytesIn32Bits) {
    EXPECT_EQ(hashString(nullptr), 4294967295u);
    EXPECT_EQ(hashString(""), 0u);
    EXPECT_EQ(hashString("a"), 97u);
    EXPECT_EQ(hashString("ab"), (97u + 1) * 98u);
    EXPECT_EQ(hashString("abc"), ((97u + 1) * 98u + 1) * 99u);
    // Bytes from 128 count as negative numbers.
    EXPECT_EQ(hashString("\xE9"), uint32_t(-23));
    EXPECT_EQ(hashString("a\xE9"), uint32_t((97 + 1) * -23));
    // The arithmetic wraps at 32 bits.
    std::string longName(40, 'z');
    uint32_t h = 'z';
    for (size_t i = 1; i < longName.size(); ++i) h = (h + 1) * uint32_t('z');
    EXPECT_EQ(hashString(longName.c_str()), h);
}

}  // namespace
