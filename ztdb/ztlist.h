#pragma once
// The uses of a search: record lists, value lists and scans; and browsing, which reports each ID
// of a given list without a search.
//
// ZTBrowse: a job (ZTThread) that reports each record ID of its list to the callback, code 41
// with a = the ID and b = the progress (i * 100 / count in percent mode, else i), while it is not
// asked to stop. A threaded browse ends with the job's end notice.
#include <cstdint>

#include "ztdb/ztarray.h"
#include "ztdb/ztthread.h"

class ZTBrowse : public ZTThread {
  public:
    static constexpr uint32_t kProgressPercent = 1;

    explicit ZTBrowse(ZTFile* file = nullptr, bool threaded = false);
    ~ZTBrowse() override;

    // Copies the IDs and the progress mode and starts the job. The job must have a file.
    bool start(const ZTArray<uint32_t>& ids, ZTCallback callback, void* context,
               uint32_t progressMode);
    using ZTThread::start;

    void run() override;

  private:
    ZTArray<uint32_t> ids_;
    uint32_t progressMode_ = 0;
};
