#include "xbase/values/collate4.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string hex(const std::vector<uint8_t>& b) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < b.size(); i++) {
        if (i > 0) out += ' ';
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
    }
    return out;
}

std::vector<uint8_t> collate(const std::string& text, int keyLength, int codePage = 0) {
    const uint8_t* table = nullptr;
    EXPECT_EQ(collate4codePage(codePage, &table), 0);
    std::vector<uint8_t> key(size_t(keyLength), 0xEE);
    const int n = collate4key(reinterpret_cast<const uint8_t*>(text.data()), int(text.size()),
                              table, key.data(), keyLength);
    EXPECT_GE(n, 0);
    key.resize(size_t(std::max(n, 0)));
    return key;
}

TEST(GeneralCollation, Keys) {
    struct Case {
        std::string text;
        int keyLength;
        int codePage;
        const char* key;
    };
    const Case cases[] = {
        {"Ab", 4, 0, "60 61 00 00"},
        {"aB", 4, 0, "60 61 00 00"},  // case folds away entirely
        // Accents keep the primary weight and add a secondary one.
        {"\xc1"
         "b",
         4, 0, "60 61 01 00"},
        // Trailing blanks are dropped before the key is made.
        {"AB  ", 8, 0, "60 61 00 00 00 00 00 00"},
        // Short texts give primary weights only: a search key matching longer ones.
        {"ab", 10, 0, "60 61"},
        {"AB ", 10, 0, "60 61 11"},
        // Expanding characters: AE, SS, TH, OE.
        {"\xc6sop", 8, 0, "60 66 76 72 73 00 00 00"},
        {"\xc6sop", 12, 0, "60 66 76 72 73"},
        {"\xdf", 2, 0, "76 76"},
        {"ss", 2, 0, "76 76"},
        {"\xfe", 2, 0, "77 69"},
        {"\x9c"
         "a",
         4, 0, "72 66 60 00"},
        // Both parts stop at the key length.
        {"abcdef", 4, 0, "60 61 62 64"},
        // Code page 437: 0x81 is u with diaeresis; without the table it is a control.
        {"\x81", 2, 1, "78 04"},
        {"\x81", 2, 0, "10 00"},
        {"\x81", 2, 3, "10 00"},
        {"\xb0", 2, 1, "10 00"},  // no equivalent: character 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(collate(c.text, c.keyLength, c.codePage)), c.key) << c.text;

    const uint8_t* table = nullptr;
    EXPECT_EQ(collate4codePage(2, &table), -930);
    EXPECT_EQ(collate4codePage(437, &table), -930);
    uint8_t key[4];
    EXPECT_EQ(collate4key(reinterpret_cast<const uint8_t*>("A"), 1, nullptr, key, 0), -930);
    EXPECT_EQ(collate4key(nullptr, 1, nullptr, key, 4), -935);
}

TEST(GeneralCollation, FullKeysSortCaseBlindThenByAccent) {
    const std::vector<std::string> ordered = {"a",    "\xe1", "\xe0", "b", "c",
                                              "\xe7", "e",    "\xe9", "z"};
    for (size_t i = 1; i < ordered.size(); i++)
        EXPECT_LT(collate(ordered[i - 1], 2), collate(ordered[i], 2))
            << int(uint8_t(ordered[i - 1][0])) << " before " << int(uint8_t(ordered[i][0]));
    EXPECT_EQ(collate("Smith", 10), collate("SMITH", 10));
}

int compare(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& search,
            int allowance = 0) {
    return collate4compare(stored.data(), int(stored.size()), search.data(), int(search.size()),
                           allowance);
}

TEST(GeneralCollation, ComparesStoredWithSearchKeys) {
    const auto abc = collate("ABC", 6);  // 60 61 62 00 00 00
    struct Case {
        const char* name;
        std::vector<uint8_t> stored, search;
        int allowance, result;
    };
    const Case cases[] = {
        {"equal", abc, collate("abc", 6), 0, 0},
        {"search is a prefix", abc, collate("AB", 6), 0, 0},
        {"search primary greater", abc, collate("ABD", 6), 0, -1},
        {"search primary smaller", abc, collate("ABB", 6), 0, 1},
        {"search longer than the stored primary", collate("AB ", 6), collate("ABC", 6), 0, -1},
        {"blank at the stored key's end is passed over", collate("AB ", 6), collate("AB ", 10), 0,
         0},
        {"blank against a stored letter", abc, collate("AB ", 10), 0, 1},
        {"stored accent greater",
         collate("\xc1"
                 "B",
                 4),
         collate("AB", 4), 0, 1},
        {"stored accent smaller", collate("AB", 4),
         collate("\xc1"
                 "B",
                 4),
         0, -1},
        {"accent equal",
         collate("\xc1"
                 "B",
                 4),
         collate("\xe1"
                 "b",
                 4),
         0, 0},
        {"stored ends, zero allowed", {0x60, 0x61, 0x00}, {0x60, 0x61, 0x00, 0x00}, 1, 0},
        {"stored ends, no allowance", {0x60, 0x61, 0x00}, {0x60, 0x61, 0x00, 0x00}, 0, -1},
        {"stored ends, nonzero search byte", {0x60, 0x61, 0x00}, {0x60, 0x61, 0x00, 0x01}, 5, -1},
        {"left-over stored primary wins a later difference", abc, {0x60, 0x61, 0x00, 0x01}, 0, 1},
        {"left-over stored primary wins at its end", {0x60, 0x61, 0x62}, {0x60, 0x61, 0x00}, 0, 1},
        {"search stops at a primary byte in its secondary part",
         abc,
         {0x60, 0x61, 0x62, 0x00, 0x60},
         0,
         0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare(c.stored, c.search, c.allowance), c.result) << c.name;
}

}  // namespace
