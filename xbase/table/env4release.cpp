#include "xbase/table/env4release.h"

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/expr/expr4.h"
#include "xbase/file/file4.h"
#include "xbase/table/table4.h"

namespace {

void releasePool(pool4*& pool) {
    pool4release(pool);
    pool = nullptr;
}

}  // namespace

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
    (void)mem4envLeave();  // this environment is live, so one is counted
    return code;
}
