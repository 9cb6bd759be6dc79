#include "xbase/env4.h"

#include <gtest/gtest.h>

#include <cstring>

#include "error_capture.h"
#include "xbase/error4.h"
#include "xbase/mem4.h"

namespace {

// The caller's record may hold anything before env4init: every byte the defaults leave
// alone must come out zero, so two records that held different garbage end up alike.
TEST(Env4, InitLeavesNothingOfWhatTheRecordHeld) {
    env4 dirty, clean;
    std::memset(&dirty, 0x7F, sizeof dirty);
    std::memset(&clean, 0, sizeof clean);
    ASSERT_EQ(env4init(&dirty, env4version), 0);
    ASSERT_EQ(env4init(&clean, env4version), 0);
    EXPECT_TRUE(env4isLive(&dirty));
    EXPECT_EQ(std::memcmp(&dirty, &clean, sizeof dirty), 0);
    EXPECT_EQ(env4release(&dirty), 0);
    EXPECT_EQ(env4release(&clean), 0);
    EXPECT_FALSE(env4isLive(&dirty));
    EXPECT_EQ(mem4liveEnvironments(), 0);
}

TEST(Env4, AWrongVersionLeavesTheRecordUnusable) {
    ErrorCapture errors;
    env4 env;
    EXPECT_EQ(env4init(&env, 6299), e4version);
    EXPECT_EQ(env.errorCode, e4version);
    EXPECT_FALSE(env4isLive(&env));
    EXPECT_EQ(mem4liveEnvironments(), 0);
    EXPECT_EQ(env4release(&env), 0);  // never live: nothing to do
    EXPECT_EQ(env4init(nullptr, 6300), e4parm);
}

TEST(Env4, ErrorsStayPendingUntilCleared) {
    env4 env;
    ASSERT_EQ(env4init(&env, 6300), 0);
    EXPECT_FALSE(error4pending(&env));
    EXPECT_EQ(error4raise(&env, e4write, 80606), e4write);
    EXPECT_EQ(env.errorLocation, 80606);
    EXPECT_TRUE(error4pending(&env));
    EXPECT_EQ(error4setCode(&env, 0), e4write);
    EXPECT_FALSE(error4pending(&env));
    EXPECT_EQ(error4setCode(&env, r4noOpen), 0);  // an outcome is not an error
    EXPECT_FALSE(error4pending(&env));
    ErrorCapture errors;
    EXPECT_EQ(error4setCode(nullptr, 0), e4parmNull);
    error4raise(&env, e4data, 90701);
    EXPECT_EQ(env4release(&env), e4data);  // the pending code comes back
}

TEST(Env4, ReleasingEnvironmentsCountsThemOut) {
    env4 a, b;
    ASSERT_EQ(env4init(&a, 6300), 0);
    ASSERT_EQ(env4init(&b, 6300), 0);
    EXPECT_EQ(mem4liveEnvironments(), 2);
    EXPECT_EQ(env4release(&a), 0);
    EXPECT_EQ(mem4liveEnvironments(), 1);
    EXPECT_EQ(env4release(&a), 0);  // a second release does nothing
    EXPECT_EQ(mem4liveEnvironments(), 1);
    EXPECT_EQ(env4release(&b), 0);
    EXPECT_EQ(mem4liveEnvironments(), 0);
}

}  // namespace
