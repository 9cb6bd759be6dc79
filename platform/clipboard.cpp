#include "platform/clipboard.h"

#include <atomic>

namespace qv {

bool InProcessClipboard::open(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ownership_.open(owner);
}

void InProcessClipboard::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    ownership_.close();
}

bool InProcessClipboard::empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ownership_.isOpen()) return false;
    data_.clear();
    return true;
}

ClipboardFormat InProcessClipboard::registerFormat(const char* name) {
    if (!name || !*name) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, added] = names_.try_emplace(name, ClipboardFormat(0));
    if (added) it->second = kFirstRegisteredFormat + ClipboardFormat(names_.size() - 1);
    return it->second;
}

bool InProcessClipboard::setData(ClipboardFormat format, std::vector<unsigned char> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ownership_.isOpen() || format == 0) return false;
    data_[format] = std::move(bytes);
    return true;
}

bool InProcessClipboard::isAvailable(ClipboardFormat format) {
    std::lock_guard<std::mutex> lock(mutex_);
    return format != 0 && data_.count(format) != 0;
}

bool InProcessClipboard::getData(ClipboardFormat format, std::vector<unsigned char>* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = data_.find(format);
    if (!ownership_.isOpen() || it == data_.end()) return false;
    *out = it->second;
    return true;
}

namespace {

InProcessClipboard& processClipboard() {
    static InProcessClipboard board;
    return board;
}

std::atomic<Clipboard*> gInstalled{nullptr};

}  // namespace

Clipboard& clipboard() {
    Clipboard* installed = gInstalled.load();
    return installed ? *installed : processClipboard();
}

void setClipboard(Clipboard* board) {
    gInstalled.store(board);
}

}  // namespace qv
