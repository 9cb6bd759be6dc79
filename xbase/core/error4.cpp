#include "xbase/core/error4.h"

#include <atomic>

#include "xbase/core/env4.h"

namespace {
std::atomic<error4hookFn> hookFn{nullptr};
}

void error4setHook(error4hookFn hook) {
    hookFn.store(hook);
}

int32_t error4raiseText(env4* env, int32_t code, int32_t location, const char* text1,
                        const char* text2, const char* text3) {
    if (env != nullptr) {
        env->errorCode = code;
        env->errorLocation = location;
    }
    if (error4hookFn hook = hookFn.load()) hook(env, code, location, text1, text2, text3);
    return code;
}

int32_t error4raise(env4* env, int32_t code, int32_t location) {
    return error4raiseText(env, code, location, nullptr, nullptr, nullptr);
}

int32_t error4setCode(env4* env, int32_t code) {
    if (env == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(96601));
    int32_t previous = env->errorCode;
    env->errorCode = code;
    return previous;
}

int32_t error4code(const env4* env) {
    return env == nullptr ? e4parmNull : env->errorCode;
}
