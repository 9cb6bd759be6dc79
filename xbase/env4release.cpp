#include "xbase/env4release.h"

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/expr4.h"
#include "xbase/file4.h"
#include "xbase/mem4.h"
#include "xbase/table4.h"

namespace {

void releasePool(pool4*& pool) {
    pool4release(pool);
    pool = nullptr;
}

}  // namespace

int32_t env4closeAll(env4* env) {
    if (env == nullptr) return error4raise(nullptr, e4parmNull, 91003);
    while (auto* t = static_cast<table4*>(list4first(&env->tables))) {
        table4close(t);
        if (list4first(&env->tables) == t) return -1;  // the list did not advance
    }
    return env->errorCode < 0 ? env->errorCode : 0;
}

int32_t env4release(env4* env) {
    if (!env4isLive(env)) return 0;
    if (mem4liveEnvironments() < 1) return error4raise(env, e4info, 81004);
    buffer4suspend(env);
    env4closeAll(env);
    expr4calcReleaseAll(env);
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
    buffer4release(env);
    env->initMarker = 0;
    int32_t code = env->errorCode;
    mem4envLeave();
    return code;
}
