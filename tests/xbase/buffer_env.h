#pragma once
// Test helper: a live environment with a running block buffer that reads ahead and writes
// behind, of the given block size, group size and memory.
#include "xbase/core/env4.h"
#include "xbase/file/file4.h"

inline int32_t startBufferedEnv(env4* env, int32_t blockSize, int32_t groupSize, int32_t memory) {
    const int32_t rc = env4init(env, env4version);
    if (rc != 0) return rc;
    env->readAhead = 1;
    env->writeBehind = 1;
    env->blockSize = blockSize;
    env->bufferGroupSize = groupSize;
    env->bufferMemory = memory;
    return buffer4start(env);
}
