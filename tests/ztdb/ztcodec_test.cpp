#include "ztdb/ztcodec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes stored(const ZTStr& s) {
    return Bytes(s.text, s.text + s.length);
}

const unsigned char* u(const ZTStr& s) {
    return reinterpret_cast<const unsigned char*>(s.text);
}

TEST(Base255Test, RoundTripsWithoutZeroBytes) {
    struct Case {
        uint32_t value;
        int digits;
    } cases[] = {{0, 2},           {1, 2},
                 {254, 2},         {255, 2},
                 {65024, 2},       {255 * 255 * 255 - 1, 3},
                 {0, 1},           {254, 1},
                 {0, 3},           {65025, 3},
                 {4294967295u, 5}, {0, 4},
                 {123456789u, 4},  {255u * 255 * 255 * 255 - 1, 4}};
    for (const Case& c : cases) {
        unsigned char out[6] = {0, 0, 0, 0, 0, 0};
        writeBase255(c.value, out, c.digits);
        for (int i = 0; i < c.digits; ++i) EXPECT_NE(out[i], 0) << c.value;
        EXPECT_EQ(out[c.digits], 0);  // writes only its digits
        EXPECT_EQ(readBase255(out, c.digits), c.value);
    }
    EXPECT_EQ(readBase255(nullptr, 0), 0u);
    // A zero byte (a blank column) reads as the digit 0 at every width.
    const unsigned char zeros[5] = {0, 3, 0, 0, 2};
    EXPECT_EQ(readBase255(zeros, 2), 2u);
    EXPECT_EQ(readBase255(zeros, 3), 2u * 255);
    EXPECT_EQ(readBase255(zeros, 4), 2u * 255 * 255);
    EXPECT_EQ(readBase255(zeros, 5), 2u * 255 * 255 * 255 + 1);
}

TEST(Base255Test, ShortForm) {
    unsigned char out[2];
    encodeShort255(0, out);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{1, 1}));
    encodeShort255(65024, out);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{255, 255}));
    EXPECT_EQ(decodeShort255(out), 65024u);
    encodeShort255(255, out);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{2, 1}));
    // Too large for two digits: the high part goes, and still no byte is zero.
    encodeShort255(65025, out);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{1, 1}));
    encodeShort255(65025 + 300, out);
    EXPECT_EQ(decodeShort255(out), 300u);
}

TEST(GetITagTest, FindsTheTypingSection) {
    ZTStr out;
    EXPECT_TRUE(
        getITag("Shown\x1bi12.5\x1b"
                "ax",
                &out));
    EXPECT_STREQ(out.text, "12.5");
    EXPECT_TRUE(getITag("\x1bi", &out));
    EXPECT_EQ(out.length, 0u);
    EXPECT_FALSE(getITag("Plain", &out));
    EXPECT_FALSE(
        getITag("i\x1b"
                "ai",
                &out));
    EXPECT_FALSE(getITag(nullptr, &out));
}

TEST(PackTextTest, StoredBytes) {
    struct Case {
        std::string input;
        Bytes packed;
    } cases[] = {
        {"", {1}},
        {std::string(300, ' '), {1, 255, 2, 46, 0x2F, 0x42, 0xF4, 0x2F, 0x42, 0xF4, 0x2A, 0x40}},
        // A run of 7 letters: one repeat of 4, then three single codes.
        {"aaaaaaa", {1, 7, 0x20, 0xAA, 0xAA}},
        // Bytes from 128 are never taken as runs.
        {std::string(7, char(200)),
         {1, 7, 0x1C, 0x81, 0xC8, 0x1C, 0x81, 0xC8, 0x1C, 0x81, 0xC8, 0x1C, 0x80}},
        // The last digit's nibble falls into the terminator.
        {"x0", {1, 2, 0x17, 0x83}},
        {std::string("a\0b", 3), {1, 3, 0xAF, 0x16, 0x20}},
        {"tea 42", {1, 6, 0x9B, 0xA4, 0x34, 0x32}},
    };
    for (const Case& c : cases) {
        ZTStr out;
        uint32_t ratio = packText(reinterpret_cast<const unsigned char*>(c.input.data()),
                                  uint32_t(c.input.size()), &out);
        EXPECT_GT(ratio, 0u);
        EXPECT_EQ(stored(out), c.packed) << c.input.size();
        std::vector<char> back{'?'};
        ASSERT_TRUE(unpackText(out.text, &back));
        EXPECT_EQ(std::string(back.begin(), back.end()), c.input);
    }
    ZTStr out;
    EXPECT_EQ(packText(nullptr, 0, &out), 100u);
}

TEST(PackBinaryTest, StoredBytes) {
    const unsigned char data[] = {0, 16, 208};
    ZTStr out;
    EXPECT_EQ(packBinary(data, 3, &out), (6u + 1) * 100 / 3);
    EXPECT_EQ(stored(out), (Bytes{2, 1, 4, 0xF2, 0x0E, 0xD0}));
    EXPECT_EQ(packedBinaryLength(u(out)), 3u);
    Bytes back;
    ASSERT_TRUE(unpackBinary(u(out), &back));
    EXPECT_EQ(back, Bytes(data, data + 3));

    // The last byte's low nibble 0 falls into the terminator.
    const unsigned char sixteen[] = {5, 16};
    EXPECT_GT(packBinary(sixteen, 2, &out), 0u);
    EXPECT_EQ(stored(out), (Bytes{2, 1, 3, 0x15, 0x20}));
    ASSERT_TRUE(unpackBinary(u(out), &back));
    EXPECT_EQ(back, Bytes(sixteen, sixteen + 2));

    EXPECT_EQ(packBinary(nullptr, 0, &out), 100u);
    EXPECT_EQ(stored(out), (Bytes{2, 1, 1}));
    back = {9};
    EXPECT_TRUE(unpackBinary(u(out), &back));
    EXPECT_TRUE(back.empty());
}

TEST(PackTest, OversizedInputsAreRefusedAndLeaveTheOutputAlone) {
    std::string words;
    while (words.size() < 65500) words += "the cat sat on the mat ";
    words.resize(65500);
    ZTStr out;
    out.assign("unchanged");
    auto* data = reinterpret_cast<const unsigned char*>(words.data());
    EXPECT_EQ(packText(data, 65500, &out), 0u);
    EXPECT_EQ(packText(data, kMaxPackedLength, &out), 0u);
    EXPECT_EQ(packBinary(data, 65500, &out), 0u);
    EXPECT_STREQ(out.text, "unchanged");
    // Incompressible input fails the size bound instead of overrunning.
    Bytes noise(1000);
    std::mt19937 rng(7);
    for (auto& b : noise) b = uint8_t(128 + rng() % 128);
    EXPECT_EQ(packText(noise.data(), 1000, &out), 0u);
    EXPECT_STREQ(out.text, "unchanged");
}

// Packs with both kinds, where the packing succeeds, and decodes back.
void expectRoundTrip(const Bytes& data, bool textMustPack) {
    ZTStr packed;
    uint32_t n = uint32_t(data.size());
    uint32_t ratio = packText(data.data(), n, &packed);
    EXPECT_TRUE(ratio > 0 || !textMustPack) << n;
    if (ratio) {
        std::vector<char> back;
        ASSERT_TRUE(unpackText(packed.text, &back)) << n;
        ASSERT_EQ(Bytes(back.begin(), back.end()), data) << n;
    }
    if (packBinary(data.data(), n, &packed)) {
        Bytes back;
        ASSERT_TRUE(unpackBinary(u(packed), &back)) << n;
        ASSERT_EQ(back, data) << n;
        Bytes into(n + 1, 0xAA);
        uint32_t got = 0;
        ASSERT_TRUE(unpackBinaryInto(u(packed), into.data(), n, &got));
        ASSERT_EQ(got, n);
        ASSERT_EQ(Bytes(into.begin(), into.begin() + n), data);
        EXPECT_EQ(into[n], 0xAA);
    }
}

TEST(PackTest, VariedCorpusRoundTrips) {
    std::mt19937 rng(12345);
    // Random bytes of every kind, short and long.
    for (uint32_t n : {1u, 2u, 3u, 17u, 255u, 256u, 1000u, 20000u, 43000u}) {
        Bytes data(n);
        for (auto& b : data) b = uint8_t(rng());
        expectRoundTrip(data, false);
    }
    // Runs around the repeat limits, of low and high bytes and zeros.
    for (unsigned char c : {uint8_t(' '), uint8_t('Q'), uint8_t(0), uint8_t(127), uint8_t(200)})
        for (uint32_t run : {1u, 3u, 4u, 5u, 63u, 64u, 65u, 67u, 68u, 300u, 5000u}) {
            Bytes data(run, c);
            data.push_back('z');
            data.insert(data.begin(), 'a');
            expectRoundTrip(data, c < 128);
        }
    // Words, digits and punctuation, up to the longest value that can be packed.
    const char* words[] = {"the", "Quorvane",   "record", "12.50",  "Z\xFCrich",
                           "and", "2003/02/01", "(x)",    "0",      "  ",
                           "\t",  "naïve",      "ITEM-7", "\x80uro"};
    for (uint32_t n : {10u, 100u, 5000u, 65023u}) {
        std::string text;
        while (text.size() < n) text += std::string(words[rng() % 14]) + ' ';
        text.resize(n);
        expectRoundTrip(Bytes(text.begin(), text.end()), true);
    }
    expectRoundTrip(Bytes(65023, 'a'), true);
}

TEST(UnpackTest, DamagedValuesAreErrors) {
    std::vector<char> text{'x'};
    struct Case {
        const char* encoded;
        const char* why;
    } texts[] = {
        {"\x02\x03", "wrong kind"},
        {"\x01\x05\xA0", "ends early"},
        {"\x01\x05\xAA", "ends at the terminator"},
        {"\x01\x03\x2F\xA0", "repeat of 64 into 3"},
        {"\x01\x09\x22\xA0", "repeat of a repeat"},
        {"\x01\xFF", "length digits missing"},
        {"\x01\xFF\x01", "length digit missing"},
        {"\x01\x02\x3A\x31", "digit nibble above 9"},
        {"\x01\x02\xA1", "literal cut by the terminator"},
    };
    for (const Case& c : texts) {
        EXPECT_FALSE(unpackText(c.encoded, &text)) << c.why;
        EXPECT_TRUE(text.empty()) << c.why;
    }
    EXPECT_FALSE(unpackText(nullptr, &text));

    Bytes bin{9};
    const unsigned char* binaries[] = {
        reinterpret_cast<const unsigned char*>("\x01\x01\x02"),          // wrong kind
        reinterpret_cast<const unsigned char*>("\x02\x01"),              // length cut
        reinterpret_cast<const unsigned char*>("\x02\x01\x04\xF1"),      // ends early
        reinterpret_cast<const unsigned char*>("\x02\x01\x03\xFE"),      // 14 cut short
        reinterpret_cast<const unsigned char*>("\x02\x01\x03\x0F\x11"),  // code 0 in a group
    };
    for (const unsigned char* b : binaries) {
        EXPECT_FALSE(unpackBinary(b, &bin));
        EXPECT_TRUE(bin.empty());
        unsigned char buffer[8] = {7, 7, 7, 7, 7, 7, 7, 7};
        uint32_t n = 5;
        EXPECT_FALSE(unpackBinaryInto(b, buffer, 8, &n));
        EXPECT_EQ(n, 0u);
        EXPECT_EQ(buffer[0], 0);
    }
    EXPECT_FALSE(unpackBinary(nullptr, &bin));
    EXPECT_EQ(packedBinaryLength(reinterpret_cast<const unsigned char*>("\x01\x05")), 0u);
    EXPECT_EQ(packedBinaryLength(reinterpret_cast<const unsigned char*>("\x02")), 0u);
}

TEST(UnpackTest, IntoTheCallersBuffer) {
    const unsigned char data[] = {1, 2, 3, 4};
    ZTStr packed;
    ASSERT_GT(packBinary(data, 4, &packed), 0u);
    unsigned char buffer[4] = {9, 9, 9, 9};
    uint32_t n = 7;
    EXPECT_FALSE(unpackBinaryInto(u(packed), buffer, 3, &n));  // too small
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[3], 9);
    EXPECT_FALSE(unpackBinaryInto(u(packed), nullptr, 0, &n));
    packBinary(nullptr, 0, &packed);
    buffer[0] = 9;
    EXPECT_TRUE(unpackBinaryInto(u(packed), buffer, 4, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer[0], 0);
}

// Feeds the decoders random and mangled stored forms; the sanitizers watch every access.
void fuzzDecoders(uint32_t rounds, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<char> text;
    Bytes bin, buffer(70000);
    for (uint32_t round = 0; round < rounds; ++round) {
        std::string form;
        if (round % 2) {
            // A valid packing with a few bytes changed, cut or added.
            std::string value(rng() % 300, ' ');
            for (char& c : value) c = "aaeet 19xyz\x01\xC8"[rng() % 14];
            ZTStr packed;
            auto* data = reinterpret_cast<const unsigned char*>(value.data());
            if (!(round % 4 == 1 ? packText(data, uint32_t(value.size()), &packed)
                                 : packBinary(data, uint32_t(value.size()), &packed)))
                continue;
            form.assign(packed.text, packed.length);
            for (uint32_t k = rng() % 4; k > 0 && !form.empty(); --k) {
                size_t at = rng() % form.size();
                switch (rng() % 3) {
                    case 0:
                        form[at] = char(1 + rng() % 255);
                        break;
                    case 1:
                        form.resize(at == 0 ? 1 : at);
                        break;
                    default:
                        form.insert(at, 1, char(1 + rng() % 255));
                        break;
                }
            }
        } else {
            form.assign(1, char(1 + rng() % 2));
            for (uint32_t k = rng() % 40; k > 0; --k) form += char(1 + rng() % 255);
        }
        bool ok = unpackText(form.c_str(), &text);
        ASSERT_TRUE(ok || text.empty());
        auto* b = reinterpret_cast<const unsigned char*>(form.c_str());
        ok = unpackBinary(b, &bin);
        ASSERT_TRUE(!ok || bin.size() == packedBinaryLength(b));
        uint32_t cap = uint32_t(rng() % 400), n = 0;
        Bytes small(cap);
        ok = unpackBinaryInto(b, cap ? small.data() : nullptr, cap, &n);
        ASSERT_LE(n, cap);
    }
}

TEST(UnpackFuzzTest, RandomFormsNeverReachOutOfBounds) {
    fuzzDecoders(20000, 1);
}

TEST(UnpackFuzzTest, LONG_RandomFormsNeverReachOutOfBounds) {
    fuzzDecoders(3000000, 2);
}

}  // namespace
