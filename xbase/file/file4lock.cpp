// Byte-range locks of one file: each an open-file-description lock, exclusive,
// tried again as the environment's lock settings say. The index and table
// locks above are made of these.
#include <cstdint>

#include "platform/ofd_lock.h"
#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/util4.h"
#include "xbase/file/file4.h"

namespace {

// Only a writable file opened shared takes system locks.
bool needsSystemLock(const file4* f) {
    return !f->isReadOnly && f->accessMode == 0;
}

// Common entry checks of file4lock and file4unlock: 0 to go on, else the result.
int32_t enterRange(file4* f, int64_t position, int64_t length, error4span<3> location) {
    if (f == nullptr) return error4raise(nullptr, e4parmNull, location.at<0>());
    if (!file4isOpen(f)) return error4raise(f->env, e4struct, location.at<1>());
    if (error4pending(f->env)) return e4codeBase;
    if (position < 0 || length < 0) return error4raise(f->env, e4parm, location.at<2>());
    return 0;
}

}  // namespace

bool file4unlockLow(file4* f, int64_t position, int64_t length) {
    if (length == 0 || !needsSystemLock(f)) return true;
    if (f->writeBehind && f->bufferKind != 0 && !error4pending(f->env) && file4writeBack(f) < 0)
        return false;
    // Whatever this handle wrote in place outside a commit is on its way: the change sequence
    // is made even before another process may take the lock and write.
    file4seqEnd(f->seq);
    return qv::ofdUnlock(f->fd, position, length);
}

int32_t file4lock(file4* f, int64_t position, int64_t length) {
    if (int32_t rc = enterRange(f, position, length, E4LOC(90810))) return rc;
    env4* env = f->env;
    if (length == 0 || !needsSystemLock(f)) return 0;
    int32_t attempts = env->lockAttempts == 0 ? 1 : env->lockAttempts;
    for (;;) {
        qv::OfdResult r = qv::ofdTryLock(f->fd, position, length, true);
        if (r == qv::OfdResult::ok) return 0;
        if (r == qv::OfdResult::failed) return error4raiseText(env, e4lock, E4LOC(90813), f->name);
        if (attempts == 1) return r4locked;
        if (attempts > 1) attempts--;
        u4delayHundredth(env->lockDelay);
    }
}

int32_t file4unlock(file4* f, int64_t position, int64_t length) {
    if (int32_t rc = enterRange(f, position, length, E4LOC(90815))) return rc;
    if (!file4unlockLow(f, position, length))
        return error4raiseText(f->env, e4unlock, E4LOC(90818), f->name);
    return 0;
}
