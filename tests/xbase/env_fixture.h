#pragma once
// Test fixture: a live environment, a fresh folder and a record of the errors
// raised. Tables a test leaves open are closed with the environment, whatever
// error it left pending.
#include <gtest/gtest.h>

#include <string>

#include "error_capture.h"
#include "temp_dir.h"
#include "xbase/env4.h"

class EnvFixture : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(env4init(&env, env4version), 0); }
    void TearDown() override {
        env.errorCode = 0;
        (void)env4closeAll(&env);
        EXPECT_EQ(env4release(&env), 0);
    }
    std::string path(const char* name) const { return dir.file(name); }

    env4 env;
    TempDir dir;
    ErrorCapture errors;
};
