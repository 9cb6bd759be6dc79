#include "platform/share_mode.h"

#include <time.h>

#include <random>

#include "platform/ofd_lock.h"

namespace qv {

namespace {

struct Markers {
    bool write, denyRead, denyWrite;
};

bool takeShared(int fd, int64_t marker) {
    return ofdTryLock(fd, marker, 1, false) == OfdResult::ok;
}

// One attempt: take our markers, then look for another opener we clash with.
ShareResult attempt(int fd, const Markers& m) {
    if (!takeShared(fd, kShareReader) || (m.write && !takeShared(fd, kShareWriter)) ||
        (m.denyRead && !takeShared(fd, kShareDenyRead)) ||
        (m.denyWrite && !takeShared(fd, kShareDenyWrite))) {
        shareRelease(fd);
        return ShareResult::failed;
    }
    bool clash = ofdHeldByOther(fd, kShareDenyRead, 1) ||
                 (m.write && ofdHeldByOther(fd, kShareDenyWrite, 1)) ||
                 (m.denyRead && ofdHeldByOther(fd, kShareReader, 1)) ||
                 (m.denyWrite && ofdHeldByOther(fd, kShareWriter, 1));
    if (clash) {
        shareRelease(fd);
        return ShareResult::conflict;
    }
    return ShareResult::ok;
}

void shortPause() {
    thread_local std::minstd_rand rng{std::random_device{}()};
    struct timespec ts {
        0, static_cast<long>(200000 + rng() % 800000)
    };
    nanosleep(&ts, nullptr);
}

}  // namespace

ShareResult shareAcquire(int fd, bool writable, ShareMode mode) {
    Markers m{writable, mode == ShareMode::exclusive,
              mode == ShareMode::exclusive || mode == ShareMode::denyWrite};
    ShareResult r = ShareResult::failed;
    for (int tries = 0; tries < 4; ++tries) {
        r = attempt(fd, m);
        if (r != ShareResult::conflict) return r;
        shortPause();
    }
    return r;
}

void shareRelease(int fd) {
    ofdUnlock(fd, kShareMarkerBase, 4);
}

bool shareInUseByOther(int fd) {
    return ofdHeldByOther(fd, kShareMarkerBase, 4);
}

}  // namespace qv
