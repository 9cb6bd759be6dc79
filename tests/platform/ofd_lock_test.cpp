#include "platform/ofd_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/share_mode.h"

namespace {

class OfdLock : public ::testing::Test {
  protected:
    void SetUp() override {
        path = "/tmp/qvofdXXXXXX";
        int fd = mkstemp(path.data());
        ASSERT_GE(fd, 0);
        close(fd);
    }
    void TearDown() override { unlink(path.c_str()); }
    int openRw() { return open(path.c_str(), O_RDWR | O_CLOEXEC); }
    std::string path;
};

TEST_F(OfdLock, DescriptorsOfOneProcessExcludeEachOther) {
    int a = openRw(), b = openRw(), c = openRw();
    EXPECT_EQ(qv::ofdTryLock(a, 0x7FFFFFFE, 1, true), qv::OfdResult::ok);
    EXPECT_EQ(qv::ofdTryLock(b, 0x7FFFFFFE, 1, true), qv::OfdResult::busy);
    EXPECT_TRUE(qv::ofdHeldByOther(b, 0x7FFFFFFE, 1));
    EXPECT_FALSE(qv::ofdHeldByOther(a, 0x7FFFFFFE, 1));  // its own lock does not count
    close(c);  // closing another descriptor keeps a's lock
    EXPECT_EQ(qv::ofdTryLock(b, 0x7FFFFFFE, 1, true), qv::OfdResult::busy);
    EXPECT_TRUE(qv::ofdUnlock(a, 0x7FFFFFFE, 1));
    EXPECT_EQ(qv::ofdTryLock(b, 0x7FFFFFFE, 1, true), qv::OfdResult::ok);
    EXPECT_EQ(qv::ofdTryLock(a, 0x7FFFFFFE, 1, false), qv::OfdResult::busy);
    close(a);
    close(b);
}

TEST_F(OfdLock, ShareMarkersLieAboveEveryDataOffset) {
    int a = openRw(), b = openRw();
    ASSERT_EQ(qv::shareAcquire(a, true, qv::ShareMode::exclusive), qv::ShareResult::ok);
    EXPECT_EQ(qv::shareAcquire(b, false, qv::ShareMode::denyNone), qv::ShareResult::conflict);
    EXPECT_TRUE(qv::shareInUseByOther(b));
    // Byte-range locks of the data area are untouched by the markers.
    EXPECT_EQ(qv::ofdTryLock(b, 0x40000000, 0x3FFFFFFF, true), qv::OfdResult::ok);
    close(a);
    EXPECT_FALSE(qv::shareInUseByOther(b));
    EXPECT_EQ(qv::shareAcquire(b, true, qv::ShareMode::denyWrite), qv::ShareResult::ok);
    close(b);
}

}  // namespace
