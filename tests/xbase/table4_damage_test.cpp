// Damaged or foreign data-file headers are refused with an error code and
// never crash, loop or allocate without bound.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "table_helpers.h"
#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"

namespace {

const field4def kFields[] = {{"NAME", 'C', 10, 0, 0},
                             {"AMOUNT", 'N', 6, 2, 0},
                             {"BORN", 'D', 0, 0, 0},
                             {nullptr, 0, 0, 0, 0}};

// A valid table with three records, as bytes.
std::string validTable(env4* env, const std::string& path, int compatibility) {
    env->compatibility = compatibility;
    env->accessMode = 1;
    const field4def nullable[] = {
        {"NAME", 'C', 10, 0, field4nullable}, {"CNT", 'I', 0, 0, 0}, {nullptr, 0, 0, 0, 0}};
    table4* t = table4create(env, path.c_str(), compatibility == 30 ? nullable : kFields, nullptr);
    for (int i = 0; t != nullptr && i < 3; ++i) appendRaw(t, blankRecord(t));
    (void)table4close(t);
    env->compatibility = 0;
    env->accessMode = 0;
    return readWhole(path);
}

void put16(std::string& b, size_t at, int v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

// Opens the file shared and exclusive: success (fields inside the record) or
// an error code, and the file is left as it was.
void openEither(env4* env, const std::string& path, const std::string& bytes) {
    for (int8_t mode : {0, 1}) {
        env->accessMode = mode;
        table4* t = table4open(env, path.c_str());
        if (t != nullptr) {
            EXPECT_GE(t->fieldCount, 1);
            for (int32_t i = 0; i < t->fieldCount; ++i)
                EXPECT_LE(t->fields[i].offset + t->fields[i].len, t->dataFile->recordLen);
            EXPECT_EQ(table4close(t), 0);
        } else {
            EXPECT_LT(env->errorCode, 0);
        }
        env->errorCode = 0;
    }
    env->accessMode = 0;
    EXPECT_EQ(readWhole(path), bytes);
}

TEST(DamagedHeader, KnownDamageIsRefused) {
    TempDir dir;
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    std::string path = dir.file("t.dbf");
    const std::string good = validTable(&env, dir.file("base03.dbf"), 0);
    const std::string good30 = validTable(&env, dir.file("base30.dbf"), 30);
    struct Case {
        const char* what;
        bool v30;
        void (*damage)(std::string&);
        int32_t code;
    } cases[] = {
        {"record length 0", false, [](std::string& b) { put16(b, 10, 0); }, e4data},
        {"negative count", false, [](std::string& b) { b[7] = static_cast<char>(0x80); }, e4data},
        {"header of 32", false, [](std::string& b) { put16(b, 8, 32); }, e4data},
        {"header past the end", false, [](std::string& b) { put16(b, 8, 60000); }, e4data},
        {"no terminator", false, [](std::string& b) { b[32 + 96] = 'X'; }, e4data},
        {"no fields", false, [](std::string& b) { b[32] = 0x0D; }, e4data},
        {"unknown type", false, [](std::string& b) { b[32 + 11] = 'Q'; }, e4data},
        {"integer in a plain file", false, [](std::string& b) { b[32 + 11] = 'I'; }, e4data},
        {"fields wider than the record", false, [](std::string& b) { b[32 + 16] = 100; }, e4data},
        {"wide character field", false, [](std::string& b) { b[32 + 17] = 1; }, e4data},
        {"shorter than a header", false, [](std::string& b) { b.resize(10); }, e4read},
        {"null bit without null flags", true, [](std::string& b) { b[96 + 11] = 'C'; }, e4data},
        {"null flags too short", true, [](std::string& b) { b[96 + 16] = 0; }, e4data},
        {"null flags in a plain file", true, [](std::string& b) { b[0] = 0x03; }, e4data},
    };
    for (const Case& c : cases) {
        std::string bytes = c.v30 ? good30 : good;
        c.damage(bytes);
        writeWhole(path, bytes);
        EXPECT_EQ(table4open(&env, path.c_str()), nullptr) << c.what;
        EXPECT_EQ(env.errorCode, c.code) << c.what;
        env.errorCode = 0;
        EXPECT_EQ(readWhole(path), bytes) << c.what;
    }
    EXPECT_EQ(env.dataFiles.nLink, 0);
    EXPECT_EQ(env.files.nLink, 0);
    (void)env4release(&env);
}

void mutateAndOpen(uint32_t seed, int rounds) {
    TempDir dir;
    env4 env;
    (void)env4init(&env, env4version);
    std::string path = dir.file("t.dbf");
    const std::string bases[] = {validTable(&env, dir.file("base03.dbf"), 0),
                                 validTable(&env, dir.file("base30.dbf"), 30)};
    std::mt19937 rng(seed);
    auto pick = [&](size_t lo, size_t hi) {
        return std::uniform_int_distribution<size_t>(lo, hi)(rng);
    };
    for (int round = 0; round < rounds; ++round) {
        std::string bytes = bases[round % 2];
        size_t header = static_cast<uint8_t>(bytes[8]) | static_cast<uint8_t>(bytes[9]) << 8;
        for (size_t n = pick(1, 4); n > 0; --n) {
            switch (pick(0, 5)) {
                case 0:  // any byte of the header
                    bytes[pick(0, header)] = static_cast<char>(pick(0, 255));
                    break;
                case 1:  // a bit of the fixed part
                    bytes[pick(0, 31)] ^= static_cast<char>(1 << pick(0, 7));
                    break;
                case 2:  // a length or offset of a descriptor
                    bytes[32 + 32 * pick(0, 2) + (pick(0, 1) ? pick(16, 18) : pick(11, 13))] =
                        static_cast<char>(pick(0, 255));
                    break;
                case 3:  // header and record lengths at their extremes
                    put16(bytes, pick(0, 1) ? 8 : 10,
                          static_cast<int>(pick(0, 2) == 0 ? 65535 : pick(0, 700)));
                    break;
                case 4:  // the file cut short
                    bytes.resize(pick(0, bytes.size()));
                    break;
                default:  // the record count
                    bytes[pick(4, 7)] = static_cast<char>(pick(0, 255));
                    break;
            }
        }
        writeWhole(path, bytes);
        openEither(&env, path, bytes);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "seed " << seed << " round " << round;
            break;
        }
    }
    EXPECT_EQ(env.dataFiles.nLink, 0);
    EXPECT_EQ(env4release(&env), 0);
}

TEST(DamagedHeader, RandomMutationsEndInSuccessOrAnError) {
    mutateAndOpen(7, 400);
}

TEST(DamagedHeader, LONG_RandomMutationsEndInSuccessOrAnError) {
    for (uint32_t seed = 1; seed <= 10; ++seed) mutateAndOpen(seed, 5000);
}

}  // namespace
