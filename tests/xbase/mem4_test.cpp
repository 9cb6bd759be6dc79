#include "xbase/mem4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "error_capture.h"
#include "xbase/env4.h"

namespace {

class Mem4 : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(mem4liveEnvironments(), 0);
        ASSERT_EQ(env4init(&env, env4version), 0);
    }
    void TearDown() override { EXPECT_EQ(env4release(&env), 0); }
    env4 env;
};

TEST(Mem4Idle, NothingIsHandedOutWithoutALiveEnvironment) {
    ASSERT_EQ(mem4liveEnvironments(), 0);
    EXPECT_EQ(mem4alloc(16), nullptr);
    EXPECT_EQ(pool4create(nullptr, 1, 16, 1, 0), nullptr);
}

TEST_F(Mem4, SharedPoolsAreCountedAndFreedAtTheLastRelease) {
    pool4* a = pool4create(&env, 2, 12, 3, 0);
    pool4* b = pool4create(&env, 5, 12, 1, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->useCount, 2);
    EXPECT_EQ(a->firstCount, 5);
    EXPECT_EQ(a->growCount, 3);
    void* e = pool4alloc(a, &env);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(pool4free(a, e), 0);
    pool4release(a);
    EXPECT_EQ(a->useCount, 1);
    EXPECT_EQ(a->chunks.nLink, 1);
    pool4release(a);
    EXPECT_EQ(a->chunks.nLink, 0);
    EXPECT_EQ(a->useCount, 0);
    // A private pool of the same size is never shared.
    pool4* p = pool4create(&env, 1, 12, 1, 1);
    pool4* q = pool4create(&env, 1, 12, 1, 1);
    EXPECT_NE(p, q);
    EXPECT_EQ(p->useCount, -1);
    pool4release(p);
    pool4release(q);
}

TEST_F(Mem4, ElementSizesIncludeTheFrame) {
    pool4* small = pool4create(&env, 1, 4, 1, 1);
    EXPECT_EQ(small->elementSize, 32);
    pool4* odd = pool4create(&env, 1, 13, 1, 1);
    EXPECT_EQ(odd->elementSize % 8, 0);
    EXPECT_GE(odd->elementSize, 13 + mem4frameBytes);
    pool4release(small);
    pool4release(odd);
    ErrorCapture errors;
    EXPECT_EQ(pool4create(&env, 0, 8, 1, 0), nullptr);
    EXPECT_EQ(env.errorCode, e4parm);
    env.errorCode = 0;
}

TEST_F(Mem4, PoolElementsAreZeroedAlignedAndReused) {
    pool4* pool = pool4create(&env, 2, 40, 2, 1);
    std::vector<void*> elements;
    for (int i = 0; i < 7; ++i) {
        auto* e = static_cast<unsigned char*>(pool4alloc(pool, &env));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(e) % 8, 0u);
        for (int k = 0; k < 40; ++k) ASSERT_EQ(e[k], 0);
        std::memset(e, 0xAB, 40);
        elements.push_back(e);
    }
    EXPECT_EQ(pool->inUse, 7);
    EXPECT_EQ(pool->chunks.nLink, 4);  // 2 + 2 + 2 + 2 elements
    void* last = elements.back();
    EXPECT_EQ(pool4free(pool, last), 0);
    auto* again = static_cast<unsigned char*>(pool4alloc(pool, &env));
    EXPECT_EQ(again, last);
    EXPECT_EQ(again[0], 0);
    for (void* e : elements) EXPECT_EQ(pool4free(pool, e), 0);
    ErrorCapture errors;
    EXPECT_EQ(pool4free(pool, elements[0]), e4result);  // nothing in use any more
    pool4release(pool);
}

TEST_F(Mem4, AllocationFailsQuietlyWhileAnErrorIsPending) {
    pool4* pool = pool4create(&env, 1, 8, 1, 1);
    env.errorCode = e4write;
    EXPECT_EQ(pool4alloc(pool, &env), nullptr);
    EXPECT_EQ(env.errorCode, e4write);
    env.errorCode = 0;
    pool4release(pool);
}

TEST_F(Mem4, ADamagedElementIsNeverHandedOutAgain) {
    pool4* pool = pool4create(&env, 1, 16, 1, 1);
    auto* e = static_cast<unsigned char*>(pool4alloc(pool, &env));
    e[16] = 0;  // one byte past the caller's bytes
    ErrorCapture errors;
    EXPECT_EQ(pool4free(pool, e), e4result);
    void* next = pool4alloc(pool, &env);
    EXPECT_NE(next, e);
    pool4free(pool, next);
    pool4release(pool);
}

TEST_F(Mem4, AnOverrunBlockIsReportedAndLeftAllocated) {
    ErrorCapture errors;
    auto* block = static_cast<unsigned char*>(mem4alloc(10));
    ASSERT_NE(block, nullptr);
    int32_t registered = mem4registeredCount();
    block[10] = 'x';
    EXPECT_EQ(mem4free(block), -1);
    EXPECT_TRUE(errors.saw(e4result));
    EXPECT_EQ(mem4registeredCount(), registered);
    block[10] = 0x55;  // mend it so the block can go
    EXPECT_EQ(mem4free(block), 0);
    EXPECT_EQ(mem4registeredCount(), registered - 1);
    // An underrun hits the front guard the same way.
    block = static_cast<unsigned char*>(mem4alloc(3));
    block[-1] = 0;
    EXPECT_EQ(mem4free(block), -1);
    block[-1] = 0x55;
    EXPECT_EQ(mem4free(block), 0);
    EXPECT_EQ(mem4alloc(0), nullptr);
}

// A full allocation table leaves plain blocks unregistered and never limits pool
// elements, which their pool accounts for.
TEST_F(Mem4, BlocksBeyondTheAllocationTableAreStillHandedOut) {
    std::vector<void*> blocks;
    while (mem4registeredCount() < mem4tableMax) blocks.push_back(mem4alloc(8));
    ErrorCapture errors;
    void* extra = mem4alloc(8);
    ASSERT_NE(extra, nullptr);
    EXPECT_TRUE(errors.saw(e4result));
    EXPECT_EQ(mem4registeredCount(), mem4tableMax);
    errors.clear();
    EXPECT_EQ(mem4free(extra), 0);
    EXPECT_TRUE(errors.saw(e4result));  // it was never registered

    errors.clear();
    pool4* pool = pool4create(&env, 64, 16, 64, 0);
    std::vector<void*> elements;
    for (int i = 0; i < mem4tableMax / 4; ++i) {
        elements.push_back(pool4alloc(pool, &env));
        ASSERT_NE(elements.back(), nullptr) << i;
    }
    EXPECT_EQ(pool->inUse, mem4tableMax / 4);
    for (void* e : elements) EXPECT_EQ(pool4free(pool, e), 0);
    EXPECT_EQ(env.errorCode, 0);
    EXPECT_FALSE(errors.saw(e4result));
    EXPECT_FALSE(errors.saw(e4memory));
    EXPECT_EQ(mem4registeredCount(), mem4tableMax);
    pool4release(pool);

    for (void* b : blocks) EXPECT_EQ(mem4free(b), 0);
    EXPECT_EQ(mem4registeredCount(), 0);
}

// A free checks the frame before the element goes back: a second free finds it free
// already (zeroed guards, or poisoned under the sanitizer) and is refused.
TEST_F(Mem4, AnElementFreedTwiceIsRefused) {
    pool4* pool = pool4create(&env, 4, 24, 4, 1);
    void* kept = pool4alloc(pool, &env);
    void* e = pool4alloc(pool, &env);
    ASSERT_EQ(pool4free(pool, e), 0);
    ErrorCapture errors;
    EXPECT_EQ(pool4free(pool, e), e4result);
    // Refused, so it is on the free list once, not twice.
    void* first = pool4alloc(pool, &env);
    void* second = pool4alloc(pool, &env);
    EXPECT_EQ(first, e);
    EXPECT_NE(second, e);
    EXPECT_NE(second, kept);
    pool4release(pool);
}

#if MEM4_POISONS
// Under the sanitizer a freed element is poisoned until the pool hands it out again:
// a read through a stale handle is reported where it happens.
using Mem4DeathTest = Mem4;

TEST_F(Mem4DeathTest, AReadOfAFreedElementIsReported) {
    pool4* pool = pool4create(&env, 2, 40, 2, 0);
    auto* e = static_cast<volatile unsigned char*>(pool4alloc(pool, &env));
    ASSERT_NE(e, nullptr);
    e[39] = 7;
    EXPECT_EQ(e[39], 7);
    ASSERT_EQ(pool4free(pool, const_cast<unsigned char*>(e)), 0);
    EXPECT_DEATH((void)e[0], "use-after-poison");
    EXPECT_DEATH((void)e[-16], "use-after-poison");  // its frame as well
    // Handed out again, it reads as a fresh zeroed element.
    auto* again = static_cast<volatile unsigned char*>(pool4alloc(pool, &env));
    ASSERT_EQ(again, e);
    EXPECT_EQ(again[39], 0);
    EXPECT_EQ(pool4free(pool, const_cast<unsigned char*>(again)), 0);
    pool4release(pool);
}
#endif

TEST(Mem4Threads, EnvironmentsOnSeveralThreadsShareOnePoolSafely) {
    env4 keeper;  // keeps the module alive while the workers come and go
    ASSERT_EQ(env4init(&keeper, env4version), 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([] {
            env4 env;
            (void)env4init(&env, env4version);
            pool4* pool = pool4create(&env, 4, 48, 4, 0);
            std::vector<void*> held;
            for (int round = 0; round < 2000; ++round) {
                held.push_back(pool4alloc(pool, &env));
                if (round % 3 == 0) {
                    pool4free(pool, held.back());
                    held.pop_back();
                }
            }
            for (void* e : held) pool4free(pool, e);
            pool4release(pool);
            (void)env4release(&env);
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(mem4registeredCount(), 0);
    EXPECT_EQ(env4release(&keeper), 0);
    EXPECT_EQ(mem4liveEnvironments(), 0);
}

}  // namespace
