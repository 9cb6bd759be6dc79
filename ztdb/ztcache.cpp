#include "ztdb/ztcache.h"

#include <dirent.h>
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The open bits a caller asks for; the rest of the open-mode word reports what happened.
constexpr uint32_t kRequestBits = kOpenTables | kOpenUsable | kOpenExclusive | kOpenReadOnly;

// The name by which the registry knows a database: its row table's real path without extension,
// so that a symbolic link to the table, to a folder, or "dir/../dir" find the same entry.
std::string canonicalPath(const char* path) {
    std::string base = ZTFile::canonicalBase(path);
    if (base.empty()) return base;
    const std::string table = ZTFile::findTablePath(base, "ZT");
    if (char* real = realpath(table.c_str(), nullptr)) {
        base = ZTFile::canonicalBase(real);
        free(real);
    }
    return base;
}

}  // namespace

ZTField* ZTFieldCache::createRecord() {
    // A definition needs no field cache of its own filled: it reads its own first values.
    return new ZTField(getFile(), nullptr);
}

void ZTFieldCache::readRecord(ZTField* image, uint32_t recordID) {
    image->read(recordID);
}

ZTFileCache::~ZTFileCache() {
    clear();
}

int ZTFileCache::indexOf(const char* canonicalPath) const {
    for (uint32_t i = entries_.size; i-- > 0;)
        if (entries_[i]->path.equals(canonicalPath)) return int(i);
    return -1;
}

int ZTFileCache::indexOf(const ZTFile* file) const {
    for (uint32_t i = entries_.size; i-- > 0;)
        if (entries_[i]->file == file) return int(i);
    return -1;
}

ZTFile* ZTFileCache::open(const char* path, uint32_t mode) {
    const std::string key = canonicalPath(path);
    if (key.empty()) return nullptr;
    const bool wantsTables = (mode & kOpenTables) != 0;
    const int at = indexOf(key.c_str());
    if (at >= 0) {
        anZTFile* entry = entries_[uint32_t(at)];
        // A database that was missing or held exclusively elsewhere stays usable once it is
        // there: try again. A file that opened once and was closed by its users is theirs.
        if (entry->openFailed && !entry->file->isOpen()) {
            entry->file->open(mode, false);
            entry->openFailed = wantsTables && !entry->file->isOpen();
        }
        ++entry->useCount;
        return entry->file;
    }
    auto entry = std::make_unique<anZTFile>();
    entry->file = new ZTFile(key.c_str());
    entry->path.assign(entry->file->getFileName());
    entry->file->open(mode, false);
    entry->openFailed = wantsTables && !entry->file->isOpen();
    entries_.add(entry.get(), true);
    return entry.release()->file;
}

ZTFile* ZTFileCache::openRelated(ZTFile* file, uint32_t databaseRecordID, uint32_t mode) {
    if (!ZT_ASSERT(file != nullptr)) return nullptr;
    if (databaseRecordID == kThisDatabase) {
        const int at = indexOf(file);
        if (at >= 0) ++entries_[uint32_t(at)]->useCount;
        return file;
    }
    if (!file->isUsable()) return nullptr;
    ZTStr name, extension;
    if (!file->getDatabaseRecordName(databaseRecordID, &name, &extension) || name.length == 0)
        return nullptr;
    const std::string path = resolveReference(file, name.text);
    return path.empty() ? nullptr : open(path.c_str(), mode);
}

std::string ZTFileCache::resolveReference(ZTFile* file, const char* name) {
    if (!name || !*name) return "";
    const bool drive = ((name[0] | 32) >= 'a' && (name[0] | 32) <= 'z') && name[1] == ':';
    if (!drive && !std::strchr(name, '\\')) return name;
    // Never rewritten: the old reference is only read, by its file name.
    std::string stem = name;
    const size_t cut = stem.find_last_of("\\/:");
    if (cut != std::string::npos) stem.erase(0, cut + 1);
    const size_t dot = stem.find('.', 1);
    if (dot != std::string::npos) stem.erase(dot);
    if (stem.empty() || !file || !file->isValid()) return "";
    ZTStr folder;
    file->getFolder(&folder);
    std::string found;
    if (DIR* d = opendir(folder.text)) {
        while (dirent* e = readdir(d)) {
            const char* n = e->d_name;
            const size_t len = std::strlen(n);
            if (len == stem.size() + 3 && strncasecmp(n, stem.c_str(), stem.size()) == 0 &&
                strcasecmp(n + stem.size(), ".zt") == 0) {
                found = std::string(folder.text) + "/" + std::string(n, stem.size());
                break;
            }
        }
        closedir(d);
    }
    return found;
}

int ZTFileCache::release(ZTFile* file) {
    const int at = indexOf(file);
    if (at < 0) return 0;
    anZTFile* entry = entries_[uint32_t(at)];
    if (entry->useCount > 1)
        --entry->useCount;
    else
        entries_.removeAt(uint32_t(at));
    return 1;
}

ZTFile* ZTFileCache::find(const char* path) const {
    const std::string key = canonicalPath(path);
    const int at = key.empty() ? -1 : indexOf(key.c_str());
    return at >= 0 ? entries_[uint32_t(at)]->file : nullptr;
}

ZTFile* ZTFileCache::findByFileID(uint32_t fileID) const {
    for (uint32_t i = 0; i < entries_.size; ++i)
        if (entries_[i]->file->getFileID() == fileID) return entries_[i]->file;
    return nullptr;
}

bool ZTFileCache::rename(ZTFile* file, const char* newName) {
    if (!ZT_ASSERT(file != nullptr && file->isValid())) return false;
    const int at = indexOf(file);
    const uint32_t mode = file->getOpenMode();
    const bool renamed = file->rename(newName);
    if (at >= 0 && renamed) entries_[uint32_t(at)]->path.assign(file->getFileName());
    file->open(mode & kRequestBits, false);
    return renamed;
}

ZTFile* ZTFileCache::getFile(uint32_t index) const {
    return index < entries_.size ? entries_[index]->file : nullptr;
}

int ZTFileCache::refresh(ZTRefreshInfo* info, void* arg) {
    int result = 0;
    for (uint32_t i = 0; i < entries_.size; ++i)
        result |= entries_[i]->file->dispatchRefresh(info, arg);
    return result;
}
