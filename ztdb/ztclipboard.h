#pragma once

#include "platform/clipboard.h"
#include "ztdb/ztglobalmem.h"

// ZTClipboard: one session with the clipboard in force (qv::clipboard()). Writing: openForWrite,
// createMem and fill the block, setData for each format, close. Reading: openForRead, isAvailable,
// getData into a ZTGlobalMem (a copy: the clipboard may change later), close. Failures are results;
// callers show their own messages. Destroying a session that is still open closes it.
class ZTClipboard {
  public:
    ZTClipboard() = default;
    ~ZTClipboard();
    ZTClipboard(const ZTClipboard&) = delete;
    ZTClipboard& operator=(const ZTClipboard&) = delete;

    // Opens and empties the clipboard; true when both succeed.
    bool openForWrite(const void* owner);
    // The pending block, to be filled and then handed over by setData.
    ZTGlobalMem* createMem(uint32_t size);
    // Hands the pending block over under the format (a name is registered first); the block is
    // gone afterwards, whatever the result.
    bool setData(qv::ClipboardFormat format);
    bool setData(const char* formatName);
    // Drops a pending block and closes the clipboard.
    void close();

    bool openForRead(const void* owner);
    bool isAvailable(qv::ClipboardFormat format);
    bool isAvailable(const char* formatName);
    // Attaches mem to a copy of the format's bytes; false when the format is not there.
    bool getData(ZTGlobalMem* mem, qv::ClipboardFormat format);
    bool getData(ZTGlobalMem* mem, const char* formatName);
    // True when the clipboard cannot be opened now.
    bool isBusy(const void* owner);

  private:
    ZTGlobalMem* pending_ = nullptr;
    bool open_ = false;
};
