#include "ztdb/ztclipboard.h"

ZTClipboard::~ZTClipboard() {
    if (open_ || pending_) close();
}

bool ZTClipboard::openForWrite(const void* owner) {
    delete pending_;
    pending_ = nullptr;
    if (!qv::clipboard().open(owner)) return false;
    open_ = true;
    return qv::clipboard().empty();
}

ZTGlobalMem* ZTClipboard::createMem(uint32_t size) {
    delete pending_;
    pending_ = new ZTGlobalMem(size);
    return pending_;
}

bool ZTClipboard::setData(qv::ClipboardFormat format) {
    if (!pending_) return false;
    bool ok = qv::clipboard().setData(format, pending_->release());
    delete pending_;
    pending_ = nullptr;
    return ok;
}

bool ZTClipboard::setData(const char* formatName) {
    return setData(qv::clipboard().registerFormat(formatName));
}

void ZTClipboard::close() {
    delete pending_;
    pending_ = nullptr;
    if (open_) qv::clipboard().close();
    open_ = false;
}

bool ZTClipboard::openForRead(const void* owner) {
    open_ = qv::clipboard().open(owner);
    return open_;
}

bool ZTClipboard::isAvailable(qv::ClipboardFormat format) {
    return qv::clipboard().isAvailable(format);
}

bool ZTClipboard::isAvailable(const char* formatName) {
    return isAvailable(qv::clipboard().registerFormat(formatName));
}

bool ZTClipboard::getData(ZTGlobalMem* mem, qv::ClipboardFormat format) {
    std::vector<unsigned char> bytes;
    if (!isAvailable(format) || !qv::clipboard().getData(format, &bytes)) return false;
    if (bytes.size() > 0xFFFFFFFFu) return false;
    mem->attach(bytes.data(), uint32_t(bytes.size()));
    return true;
}

bool ZTClipboard::getData(ZTGlobalMem* mem, const char* formatName) {
    return getData(mem, qv::clipboard().registerFormat(formatName));
}

bool ZTClipboard::isBusy(const void* owner) {
    if (open_) return false;  // ours: opening and closing again would end our own session
    if (!qv::clipboard().open(owner)) return true;
    qv::clipboard().close();
    return false;
}
