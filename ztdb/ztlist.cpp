#include "ztdb/ztlist.h"

#include "ztdb/ztassert.h"

ZTBrowse::ZTBrowse(ZTFile* file, bool threaded) : ZTThread(file, threaded) {}

ZTBrowse::~ZTBrowse() {
    waitForEnd();  // the thread may still read the list
}

bool ZTBrowse::start(const ZTArray<uint32_t>& ids, ZTCallback callback, void* context,
                     uint32_t progressMode) {
    if (!ZT_ASSERT(getThreadFile() != nullptr)) return false;
    waitForEnd();  // a running browse still reads the list being replaced
    ids_.copyFrom(ids);
    progressMode_ = progressMode;
    return ZTThread::start(callback, context);
}

void ZTBrowse::run() {
    const uint32_t count = ids_.size;
    for (uint32_t i = 0; i < count && isRunning(); ++i) {
        if (!hasCallback()) continue;
        uint64_t progress = progressMode_ == kProgressPercent ? uint64_t(i) * 100 / count : i;
        notify(kZTCodeBrowsed, ids_.data[i], uintptr_t(progress));
    }
}
