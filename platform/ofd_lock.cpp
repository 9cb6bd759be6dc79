#include "platform/ofd_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace qv {

namespace {

struct flock makeRange(short type, int64_t start, int64_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(length);
    fl.l_pid = 0;  // required to be 0 for OFD locks
    return fl;
}

}  // namespace

OfdResult ofdTryLock(int fd, int64_t start, int64_t length, bool exclusive) {
    struct flock fl = makeRange(exclusive ? F_WRLCK : F_RDLCK, start, length);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return OfdResult::ok;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return OfdResult::busy;
        return OfdResult::failed;
    }
}

bool ofdLockWait(int fd, int64_t start, int64_t length, bool exclusive) {
    struct flock fl = makeRange(exclusive ? F_WRLCK : F_RDLCK, start, length);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLKW, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool ofdUnlock(int fd, int64_t start, int64_t length) {
    struct flock fl = makeRange(F_UNLCK, start, length);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool ofdHeldByOther(int fd, int64_t start, int64_t length) {
    struct flock fl = makeRange(F_WRLCK, start, length);
    if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace qv
