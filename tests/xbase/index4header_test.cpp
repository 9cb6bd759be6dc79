#include "xbase/index/index4header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t at16(const Bytes& b, int offset) {
    return uint16_t(b[offset] | (b[offset + 1] << 8));
}

TEST(TagHeader, DirectoryHeaderBytes) {
    Bytes b(tag4headerSize, 0xAA);
    tag4header h = tag4headerDirectory(3072);
    h.changeCounter = 0x01020304;
    ASSERT_EQ(tag4headerEncode(h, b.data()), 0);
    Bytes expected(tag4headerSize, 0);
    const uint8_t prefix[16] = {0x00, 0x0C, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 10, 0, 224, 1};
    std::memcpy(expected.data(), prefix, 16);
    expected[504] = expected[506] = expected[510] = 1;
    EXPECT_EQ(b, expected);
}

TEST(TagHeader, RoundTripsEveryField) {
    tag4header h;
    h.root = 4096;
    h.freeHead = 5120;
    h.changeCounter = 77;
    h.keyLength = 240;
    h.options = tag4optCompact | tag4optCompound | tag4optCandidate | tag4optFilter;
    h.general = true;
    h.descending = true;
    h.expression = std::string(254, 'E');
    h.filter = std::string(254, 'F');
    Bytes b(tag4headerSize);
    ASSERT_EQ(tag4headerEncode(h, b.data()), 0);
    EXPECT_EQ(std::memcmp(b.data() + 494, "GENERAL", 8), 0);
    EXPECT_EQ(at16(b, 502), 1);
    EXPECT_EQ(at16(b, 504), 255);
    EXPECT_EQ(at16(b, 506), 255);
    EXPECT_EQ(at16(b, 510), 255);
    EXPECT_EQ(b[512 + 255], 'F');  // the filter follows the expression's zero

    tag4header back;
    ASSERT_EQ(tag4headerDecode(b.data(), &back), 0);
    EXPECT_EQ(back.root, h.root);
    EXPECT_EQ(back.freeHead, h.freeHead);
    EXPECT_EQ(back.changeCounter, h.changeCounter);
    EXPECT_EQ(back.keyLength, h.keyLength);
    EXPECT_EQ(back.options, h.options);
    EXPECT_TRUE(back.general);
    EXPECT_TRUE(back.descending);
    EXPECT_EQ(back.expression, h.expression);
    EXPECT_EQ(back.filter, h.filter);

    tag4header prefix;
    tag4headerDecodePrefix(b.data(), &prefix);
    EXPECT_EQ(prefix.changeCounter, 77u);
    EXPECT_EQ(b[11], 77);  // big-endian
}

// The root and the counter written or read alone are the whole header's bytes at their place.
TEST(TagHeader, PiecesAreTheWholeHeadersBytesAtTheirPlace) {
    tag4header h = tag4headerDirectory(0x12400);
    h.freeHead = 0x3400;
    h.changeCounter = 0x01020304;
    Bytes whole(tag4headerSize);
    ASSERT_EQ(tag4headerEncode(h, whole.data()), 0);
    for (const bytes4slice& piece :
         {tag4headerEncodeRoot(h.root), tag4headerEncodeCounter(h.freeHead, h.changeCounter)}) {
        SCOPED_TRACE(piece.offset);
        ASSERT_GT(piece.size, 0);
        EXPECT_EQ(std::memcmp(piece.bytes, whole.data() + piece.offset, size_t(piece.size)), 0);
    }
    EXPECT_EQ(tag4headerEncodeCounter(0, 0).offset, 4);  // the root before it is left alone
    bytes4slice root = tag4headerRootSlice();
    std::memcpy(root.bytes, whole.data() + root.offset, size_t(root.size));
    EXPECT_EQ(tag4headerDecodeRoot(root), h.root);
}

TEST(TagHeader, EncodeRefusesWhatCannotBeWritten) {
    tag4header good;
    good.root = 1024;
    good.keyLength = 20;
    good.options = tag4optCompact | tag4optCompound;
    good.expression = "NAME";
    struct Case {
        const char* name;
        void (*change)(tag4header&);
    };
    const Case cases[] = {
        {"key length 0", [](tag4header& h) { h.keyLength = 0; }},
        {"key length 241", [](tag4header& h) { h.keyLength = 241; }},
        {"no compact option", [](tag4header& h) { h.options = tag4optCompound; }},
        {"expression of 255", [](tag4header& h) { h.expression = std::string(255, 'X'); }},
        {"zero in the expression", [](tag4header& h) { h.expression = std::string("A\0B", 3); }},
        {"filter without option", [](tag4header& h) { h.filter = "X > 1"; }},
        {"option without filter", [](tag4header& h) { h.options |= tag4optFilter; }},
    };
    Bytes b(tag4headerSize);
    ASSERT_EQ(tag4headerEncode(good, b.data()), 0);
    for (const Case& c : cases) {
        tag4header h = good;
        c.change(h);
        EXPECT_EQ(tag4headerEncode(h, b.data()), -930) << c.name;
    }
}

// Each case damages the bytes of a valid header with a filter.
TEST(TagHeader, DecodeRefusesUntrustedHeaders) {
    tag4header h;
    h.root = 1536;
    h.keyLength = 20;
    h.options = tag4optCompact | tag4optCompound | tag4optFilter;
    h.expression = "UPPER(NAME)";
    h.filter = "AGE > 3";
    Bytes valid(tag4headerSize);
    ASSERT_EQ(tag4headerEncode(h, valid.data()), 0);
    struct Case {
        const char* name;
        void (*damage)(Bytes&);
        int code;
    };
    const Case cases[] = {
        {"signature 0", [](Bytes& b) { b[15] = 0; }, -310},
        {"options without 32", [](Bytes& b) { b[14] = 64; }, -310},
        {"key length 0", [](Bytes& b) { b[12] = 0; }, -310},
        {"key length 241", [](Bytes& b) { b[12] = 241; }, -310},
        {"key length 256",
         [](Bytes& b) {
             b[12] = 0;
             b[13] = 1;
         },
         -310},
        {"key length 65535", [](Bytes& b) { b[12] = b[13] = 0xFF; }, -310},
        {"root 0", [](Bytes& b) { b[0] = b[1] = 0; }, -310},
        {"root inside the headers",
         [](Bytes& b) {
             b[0] = 0;
             b[1] = 2;
         },
         -310},
        {"root not on a node", [](Bytes& b) { b[0] = 1; }, -310},
        {"unknown collation", [](Bytes& b) { std::memcpy(&b[494], "GENERIC", 8); }, -310},
        {"descending 2", [](Bytes& b) { b[502] = 2; }, -310},
        {"expression length 256",
         [](Bytes& b) {
             b[510] = 0;
             b[511] = 1;
         },
         -910},
        {"expression length 0", [](Bytes& b) { b[510] = 0; }, -910},
        {"expression not ending at its length", [](Bytes& b) { b[510] = 5; }, -910},
        {"filter length 300",
         [](Bytes& b) {
             b[506] = 0x2C;
             b[507] = 1;
         },
         -910},
        {"filter not ending at its length", [](Bytes& b) { b[506] = 3; }, -910},
    };
    for (const Case& c : cases) {
        Bytes b = valid;
        c.damage(b);
        tag4header out;
        out.keyLength = 99;
        EXPECT_EQ(tag4headerDecode(b.data(), &out), c.code) << c.name;
        EXPECT_EQ(out.keyLength, 99) << c.name << ": the output changed on failure";
    }
}

}  // namespace
