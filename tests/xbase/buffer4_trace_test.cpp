// The block buffer must be invisible: a random trace of reads, writes and
// length changes over several files gives the same bytes as a plain model,
// whatever the buffer's size and settings, and the same files once flushed.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"

namespace {

struct Config {
    const char* name;
    bool buffered;
    int32_t blockSize, groupSize, memory;
    int32_t readAhead, writeBehind;
    int8_t accessMode = 0;  // unshared files read nothing past the end of the disk's file
};

const Config kConfigs[] = {
    {"unbuffered", false, 0, 0, 0, 0, 0},
    {"tiny-512", true, 512, 1024, 8200, 1, 1},        // 8 blocks: constant eviction
    {"tiny-1024", true, 1024, 4096, 4 * 8190, 1, 1},  // 16 blocks, long runs
    {"read-ahead-only", true, 512, 2048, 40000, 1, 0},
    {"write-behind-only", true, 512, 1024, 8200, 0, 1},
    {"exclusive-tiny-1024", true, 1024, 4096, 4 * 8190, 1, 1, 1},
    {"exclusive-write-behind-only", true, 512, 1024, 8200, 0, 1, 1},
};

void runTrace(const Config& config, uint32_t seed, int steps) {
    SCOPED_TRACE(std::string(config.name) + " seed " + std::to_string(seed));
    TempDir dir;
    env4 env;
    ASSERT_EQ(env4init(&env, env4version), 0);
    env.readAhead = config.readAhead;
    env.writeBehind = config.writeBehind;
    env.accessMode = config.accessMode;
    if (config.buffered) {
        env.blockSize = config.blockSize;
        env.bufferGroupSize = config.groupSize;
        env.bufferMemory = config.memory;
        ASSERT_EQ(buffer4start(&env), 0);
    }
    const int8_t kinds[] = {file4kindData, file4kindIndex, file4kindOther};
    file4 files[3] = {};
    std::vector<std::string> model(3);
    for (int i = 0; i < 3; ++i) {
        files[i].kind = kinds[i];
        ASSERT_EQ(file4create(&files[i], &env, dir.file("f" + std::to_string(i)).c_str(), 1), 0);
    }
    std::mt19937 rng(seed);
    auto pick = [&](int32_t lo, int32_t hi) {
        return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
    };
    const int32_t span = 1536;  // crosses block ends for every block size used
    for (int step = 0; step < steps; ++step) {
        int which = pick(0, 2);
        file4& f = files[which];
        std::string& m = model[which];
        int32_t len = static_cast<int32_t>(m.size());
        int op = pick(0, 99);
        env.buffer.sequential = op % 7 == 0;
        if (op < 40) {
            int32_t pos = pick(0, len + span), n = pick(1, span);
            std::string data(n, '\0');
            for (char& c : data) c = static_cast<char>(pick(1, 255));
            ASSERT_EQ(file4write(&f, pos, data.data(), n), 0) << "step " << step;
            if (static_cast<int32_t>(m.size()) < pos + n) m.resize(pos + n, '\0');
            m.replace(pos, n, data);
        } else if (op < 80) {
            int32_t pos = pick(0, len + 600), n = pick(0, 2 * span);
            std::string got(n, '?');
            int32_t want = std::max(0, std::min(n, len - pos));
            ASSERT_EQ(file4read(&f, pos, got.data(), n), want) << "step " << step;
            ASSERT_EQ(got.substr(0, want), m.substr(std::min(pos, len), want)) << "step " << step;
        } else if (op < 88) {
            int32_t newLen = pick(0, len + span);
            ASSERT_EQ(file4setLength(&f, newLen), 0);
            m.resize(newLen, '\0');
        } else if (op < 92) {
            ASSERT_EQ(file4flush(&f), 0);
        } else if (op < 97) {
            ASSERT_EQ(file4dropBuffers(&f), 0);
        } else if (op < 98 && config.buffered) {
            ASSERT_EQ(buffer4suspend(&env), 0);
            ASSERT_EQ(buffer4start(&env), 0);
        } else {
            ASSERT_EQ(file4length(&f), len);
        }
        ASSERT_EQ(env.errorCode, 0);
    }
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(file4length(&files[i]), static_cast<int32_t>(model[i].size()));
        ASSERT_EQ(file4flush(&files[i]), 0);
        EXPECT_EQ(readWhole(dir.file("f" + std::to_string(i))), model[i]) << "file " << i;
        ASSERT_EQ(file4close(&files[i]), 0);
    }
    EXPECT_EQ(env4release(&env), 0);
}

TEST(BufferTrace, MatchesAPlainModel) {
    for (const Config& config : kConfigs)
        for (uint32_t seed = 1; seed <= 3; ++seed) runTrace(config, seed, 1500);
}

TEST(BufferTrace, LONG_MatchesAPlainModel) {
    for (const Config& config : kConfigs)
        for (uint32_t seed = 100; seed < 140; ++seed) runTrace(config, seed, 20000);
}

}  // namespace
