// Damaged index files are input like any other: opening, walking, seeking and changing
// them ends in success or an error code, never a crash, a hang or a read out of bounds.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "tree_file.h"
#include "xbase/key4.h"

namespace {

// A sound file of three tags, several levels deep, written key by key (free nodes too).
std::string soundImage() {
    std::vector<IndexImageTag> tags(3);
    tags[0].name = "NAME";
    tags[0].keyLength = 20;
    tags[1].name = "WIDE";
    tags[1].keyLength = 120;
    tags[2].name = "NUM";
    tags[2].keyLength = 8;
    tags[2].pad = 0;
    TreeFile f(tags, 3000, 1, {"NUM"});
    std::mt19937 rng(21);
    for (int32_t r = 1; r <= 1500; r++) {
        const std::string name = padKey("N" + std::to_string(rng() % 700), 20);
        EXPECT_EQ(tag4addKey(f.tag("NAME"), name.data(), r, 0), 0);
        const std::string wide = padKey(std::string(rng() % 60, 'W') + std::to_string(r), 120);
        EXPECT_EQ(tag4addKey(f.tag("WIDE"), wide.data(), r, 0), 0);
        uint8_t key[8];
        key4fromDouble(key, double(rng() % 100));
        EXPECT_EQ(tag4addKey(f.tag("NUM"), key, r, 0), 0);
        if (r % 3 == 0) {
            EXPECT_EQ(tag4removeKey(f.tag("NAME"), name.data(), r), 0);
        }
    }
    EXPECT_EQ(problemsOf(f.check()), "");
    f.close();
    return readWhole(f.path);
}

bool acceptable(int32_t rc) {
    return rc >= 0 || rc == e4index || rc == e4info || rc == e4codeBase;
}

// Opens a damaged copy and uses every tag; every result must be a success or -310/-910.
void useDamaged(const std::string& bytes, int accessMode, std::mt19937& rng) {
    TempDir dir;
    const std::string path = dir.file("damaged.cdx");
    writeWhole(path, bytes);
    env4 env;
    (void)env4init(&env, env4version);
    env.accessMode = int8_t(accessMode);
    env.lockAttempts = 1;
    index4file* file = index4fileOpen(&env, nullptr, path.c_str(), nullptr);
    if (file == nullptr) {
        EXPECT_TRUE(acceptable(env.errorCode)) << env.errorCode;
        (void)env4release(&env);
        return;
    }
    for (auto* t = static_cast<tag4file*>(list4first(&file->tags)); t != nullptr;
         t = static_cast<tag4file*>(list4next(&file->tags, t))) {
        error4setCode(&env, 0);
        walk(t, rng() % 2 == 0, 100000);
        EXPECT_TRUE(acceptable(env.errorCode)) << env.errorCode;
        error4setCode(&env, 0);
        std::string key(t->keyLength, 'N');
        key[1] = char('0' + rng() % 10);
        EXPECT_TRUE(acceptable(tag4seek(t, key.data(), t->keyLength)));
        error4setCode(&env, 0);
        if (accessMode == 1) {
            EXPECT_TRUE(acceptable(tag4addKey(t, key.data(), 5000, 0)));
            error4setCode(&env, 0);
            EXPECT_TRUE(acceptable(tag4removeKey(t, key.data(), int32_t(1 + rng() % 1500))));
            error4setCode(&env, 0);
        }
        EXPECT_TRUE(acceptable(tag4setPosition(t, 0.5)));
        error4setCode(&env, 0);
    }
    const int32_t closed = index4fileClose(file);
    EXPECT_TRUE(acceptable(closed) || closed == e4write) << closed;
    (void)env4release(&env);
}

std::string mutate(const std::string& sound, std::mt19937& rng) {
    std::string bytes = sound;
    const int changes = 1 + int(rng() % 6);
    for (int c = 0; c < changes; c++) {
        size_t at = rng() % bytes.size();
        switch (rng() % 4) {
            case 0:  // a node's header: attribute, count, siblings, widths
                at = (at & ~size_t(511)) + rng() % 24;
                break;
            case 1:  // the start of a tag header: root, free list, key length, options
                at = (rng() % 4) * 1024 + rng() % 16;
                break;
            default:
                break;
        }
        bytes[at] = char(rng());
    }
    if (rng() % 20 == 0) bytes.resize(rng() % bytes.size());
    return bytes;
}

void damageRun(int rounds, uint32_t seed) {
    static const std::string sound = soundImage();
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; round++) {
        SCOPED_TRACE(round);
        useDamaged(mutate(sound, rng), 1, rng);
        if (testing::Test::HasFailure()) return;
    }
}

TEST(TagDamage, DamagedFilesGiveErrorsNotCrashes) {
    damageRun(150, 31);
}

TEST(TagDamage, LONG_DamagedFilesGiveErrorsNotCrashes) {
    damageRun(5000, 32);
}

// A reader without the lock takes a bad node for another process's change in progress:
// it tries again a bounded number of times, sleeping in between, then reports -310.
TEST(TagDamage, UnlockedReaderGivesUpInBoundedTime) {
    static const std::string sound = soundImage();
    std::string bytes = sound;
    // Every node's attribute becomes 7: nothing can be read.
    for (size_t at = 4 * 1024; at < bytes.size(); at += 512) bytes[at] = 7;
    TempDir dir;
    const std::string path = dir.file("bad.cdx");
    writeWhole(path, sound);
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    env.lockAttempts = 1;
    index4file* file = index4fileOpen(&env, nullptr, path.c_str(), nullptr);
    ASSERT_NE(file, nullptr);
    writeWhole(path, bytes);  // damaged while open
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tag4top(index4fileTag(file, "NAME")), e4index);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_GT(took, std::chrono::milliseconds(100));  // it did wait for the writer
    error4setCode(&env, 0);
    (void)index4fileClose(file);
    (void)env4release(&env);
}

}  // namespace
