#include "xbase/env4.h"

#include <cstring>
#include <string>

#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/mem4.h"
#include "xbase/table4.h"
#include "xbase/util4.h"

namespace {

void setDefaults(env4* env) {
    env->autoOpen = 1;
    env->errCreate = 1;
    env->errOpen = 1;
    env->safety = 1;
    env->singleOpen = 1;
    env->uniqueDefault = 25;
    env->checkNodes = 1;
    env->lockAttempts = -1;
    env->lockDelay = 100;
    env->unlockAuto = 2;
    env->errFieldName = 1;
    env->errGo = 1;
    env->errTagName = 1;
    env->readAhead = -1;
    env->writeBehind = -1;
    env->bufferPercent = 25;
    env->bufferMemory = 0xF0000;
    env->blockSize = 1024;
    env->bufferGroupSize = 32768;
    u4ncpy(env->dateFormat, "MM/DD/YY", sizeof env->dateFormat);
    env->memStartTable = 10;
    env->memExpandTable = 5;
    env->memStartData = 10;
    env->memExpandData = 5;
    env->memStartIndex = 10;
    env->memExpandIndex = 5;
    env->memStartTag = 10;
    env->memExpandTag = 5;
    env->memStartLock = 10;
    env->memExpandLock = 5;
    env->memStartSort = 10;
    env->memExpandSort = 5;
    env->memSizeSortBuffer = 4096;
    env->memSizeSortPool = 61440;
    env->buffer.blocked = 1;  // buffering starts only when asked for
}

void releasePool(pool4*& pool) {
    pool4release(pool);
    pool = nullptr;
}

}  // namespace

int32_t env4init(env4* env, int32_t version) {
    if (env == nullptr) return error4raise(nullptr, e4parm, E4LOC(91001));
    std::memset(env, 0, sizeof *env);
    if (version != env4version) {
        std::string given = std::to_string(version), expected = std::to_string(env4version);
        return error4raiseText(env, e4version, E4LOC(91002), given.c_str(), expected.c_str());
    }
    setDefaults(env);
    mem4envEnter();
    env->initMarker = env4liveMarker;
    return 0;
}

int32_t env4initForward(env4* env) {
    return env4init(env, env4version);
}

int32_t env4closeAll(env4* env) {
    if (env == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(91003));
    while (auto* t = static_cast<table4*>(list4first(&env->tables))) {
        (void)table4close(t);  // a failure stays pending and is returned below
        if (list4first(&env->tables) == t) return -1;  // the list did not advance
    }
    return env->errorCode < 0 ? env->errorCode : 0;
}

int32_t env4release(env4* env) {
    if (!env4isLive(env)) return 0;
    if (mem4liveEnvironments() < 1) return error4raise(env, e4info, E4LOC(81004));
    (void)buffer4suspend(env);  // -620 stays pending; closing the files tries the blocks again
    // A handle that would not close must not lose its memory under it.
    if (env4closeAll(env) == -1) return error4raise(env, e4info, E4LOC(81005));
    if (env->calcReleaseAll != nullptr) env->calcReleaseAll(env);
    mem4free(env->workBuffer);
    env->workBuffer = nullptr;
    env->workBufferLen = 0;
    mem4free(env->keyBuffer);
    env->keyBuffer = nullptr;
    env->keyBufferLen = 0;
    releasePool(env->tablePool);
    releasePool(env->dataFilePool);
    releasePool(env->indexPool);
    releasePool(env->indexFilePool);
    releasePool(env->tagPool);
    releasePool(env->tagFilePool);
    releasePool(env->lockPool);
    env->initMarker = 0;
    int32_t code = env->errorCode;
    (void)mem4envLeave();  // this environment is live, so one is counted
    return code;
}
