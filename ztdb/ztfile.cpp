#include "ztdb/ztfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ofd_lock.h"
#include "platform/share_mode.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztcache.h"
#include "ztdb/ztnames.h"

namespace {

const char kRowAlias[] = "RQMENCZ1";
const char kCreateAlias[] = "RQMENCZ2";
const char* const kRowTagNames[3] = {"ZTW1", "ZTW2", "ZTW3"};
const char kDictionaryTagName[] = "ZTWC1";
const tag4def kRowTags[] = {{"ZTW1", "B+D+E+F", nullptr, 0, 0},
                            {"ZTW2", "A+B+C+D", nullptr, 0, 0},
                            {"ZTW3", "E+F", nullptr, 0, 0},
                            {nullptr, nullptr, nullptr, 0, 0}};
const tag4def kDictionaryTags[] = {{"ZTWC1", "A+B", nullptr, 0, 0},
                                   {nullptr, nullptr, nullptr, 0, 0}};
constexpr int32_t kDefaultBufferBytes = 300000;
constexpr char kEndOfFile = 0x1A;

// The absolute form of a folder with "." and ".." resolved by name, for folders that do not
// exist (realpath resolves the ones that do).
std::string lexicalFolder(const std::string& folder) {
    std::string whole = folder;
    if (whole.empty() || whole[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        whole = std::string(cwd != nullptr ? cwd : "") + "/" + whole;
        free(cwd);
    }
    std::string out;
    size_t at = 0;
    while (at <= whole.size()) {
        size_t end = whole.find('/', at);
        if (end == std::string::npos) end = whole.size();
        std::string piece = whole.substr(at, end - at);
        if (piece == "..") {
            size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
        } else if (!piece.empty() && piece != ".") {
            out += "/" + piece;
        }
        at = end + 1;
    }
    return out;
}

// The canonical folder of a path (case kept, symbolic links resolved) and its last component.
bool splitCanonical(const std::string& name, std::string* folder, std::string* last) {
    size_t slash = name.rfind('/');
    *last = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    if (last->empty() || *last == "." || *last == "..") return false;
    if (char* real = realpath(dir.c_str(), nullptr)) {
        *folder = real;
        free(real);
    } else {
        *folder = lexicalFolder(dir);
    }
    if (*folder == "/") folder->clear();
    return true;
}

}  // namespace

// An existing file base.ext in any letter case of the extension: upper case first, then lower
// case, then whatever the folder holds.
std::string ZTFile::findTablePath(const std::string& base, const char* ext) {
    std::string upper = base + "." + ext;
    std::string lower = upper;
    for (size_t i = base.size(); i < lower.size(); ++i)
        lower[i] = char(lower[i] >= 'A' && lower[i] <= 'Z' ? lower[i] + 32 : lower[i]);
    struct stat st {};
    if (lstat(upper.c_str(), &st) == 0) return upper;
    if (lstat(lower.c_str(), &st) == 0) return lower;
    size_t slash = base.rfind('/');
    std::string folder = slash == 0 ? "/" : base.substr(0, slash);
    std::string stem = base.substr(slash + 1) + ".";
    std::string found;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            const char* n = e->d_name;
            if (std::strlen(n) == stem.size() + std::strlen(ext) &&
                std::strncmp(n, stem.c_str(), stem.size()) == 0 &&
                strcasecmp(n + stem.size(), ext) == 0) {
                found = base.substr(0, slash + 1) + n;
                break;
            }
        }
        closedir(d);
    }
    return found.empty() ? upper : found;
}

namespace {

bool fileExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// Whether another opener holds the file in a way that keeps an open for reading out: any
// opener for deny-read-write (exclusive probe), an exclusive one for deny-none.
bool heldElsewhere(const std::string& path, bool exclusive) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held =
        exclusive ? qv::shareInUseByOther(fd) : qv::ofdHeldByOther(fd, qv::kShareDenyRead, 1);
    ::close(fd);
    return held;
}

}  // namespace

// ---- the documents' cache ----

int CCacheFindExecutable::find(const char* name) const {
    for (int i = 0; i < kSize; ++i)
        if (!names_[i].equals("") && names_[i].equals(name)) return i;
    return -1;
}

void CCacheFindExecutable::put(const char* name, int answer) {
    int i = find(name);
    if (i < 0) {
        i = next_;
        next_ = (next_ + 1) % kSize;
        names_[i].assign(name);
    }
    answers_[i] = answer;
}

int CCacheFindExecutable::get(const char* name) const {
    int i = find(name);
    return i < 0 ? -1 : answers_[i];
}

// ---- construction and naming ----

ZTFile::ZTFile(const char* name, uint32_t flags) : flags_(flags) {
    initEnvironment();
    setName(name);
}

ZTFile::~ZTFile() {
    ZT_ASSERT(!fastNet_);
    ZT_ASSERT(!fileLocked_ && !complLocked_);
    dropFieldCache();
    closeTables();
    // The environment is released whatever it still reports: the object goes.
    (void)env4release(&env_);
}

void ZTFile::initEnvironment() {
    quietTakes_ = ~uint64_t(0);
    if (env4init(&env_, env4version) != 0) return;  // a wrong library: every call refuses
    env_.autoOpen = 0;                              // the engine opens ".IX" and ".IX2" itself
    env_.errOpen = 0;  // a failed open leaves the quiet 70 that open tests
    env_.errCreate = 1;
    env_.lockAttempts = 1;  // the engine waits and tries again itself
    env_.readAhead = 1;
    env_.writeBehind = 1;
    env_.readLock = 0;
    env_.bufferMemory = 0;  // no block buffer until the database is usable
    env_.memStartTable = 4;
    env_.memStartData = 4;
    env_.memStartIndex = 8;
    env_.memStartLock = 1;
    env_.memExpandLock = 1;
    env_.memStartSort = 1;
}

std::string ZTFile::canonicalBase(const char* name) {
    std::string folder, last;
    if (name == nullptr || *name == '\0' || !splitCanonical(name, &folder, &last)) return "";
    size_t dot = last.find('.', 1);  // a leading '.' belongs to the name
    return folder + "/" + last.substr(0, dot);
}

void ZTFile::dropFieldCache() {
    delete fieldCache_;
    fieldCache_ = nullptr;
}

ZTFieldCache* ZTFile::getFieldCache() {
    if (!fieldCache_) fieldCache_ = new ZTFieldCache(this, kFieldCacheSize);
    return fieldCache_;
}

void ZTFile::setName(const char* name) {
    dropFieldCache();
    if (isValid()) close();
    path_.clear();
    takePath(canonicalBase(name));
    openMode_ = 0;
    fastNet_ = 0;
    fileLocked_ = 0;
    complLocked_ = false;
    appendMark_ = false;
    reuseRows_ = true;
    access_ = 15;
    clearOptions();
}

void ZTFile::takePath(const std::string& base) {
    path_ = base;
    fileID_ = 0;
    setFileByID(isValid() ? getFileID() : 0);
}

const char* ZTFile::getTitle() const {
    ZT_ASSERT(isValid());
    size_t slash = path_.rfind('/');
    return path_.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

ZTStr* ZTFile::getFolder(ZTStr* out) const {
    ZT_ASSERT(isValid());
    out->assign(path_.c_str());
    out->keepFolder();
    return out;
}

uint32_t ZTFile::getFileID() {
    if (fileID_ == 0 && isValid()) fileID_ = hashString(path_.c_str());
    return fileID_;
}

uint32_t ZTFile::setAccess(uint32_t flags) {
    access_ = (flags & 1) ? flags : flags & ~uint32_t(15);
    return access_;
}

void ZTFile::addJob() {
    if (ZT_ASSERT(isOpen())) ++openLockCount_;
}

void ZTFile::removeJob() {
    if (ZT_ASSERT(isOpen()) && openLockCount_ > 0) --openLockCount_;
}

int32_t ZTFile::takeError() {
    return error4setCode(&env_, 0);
}

// ---- open and close ----

void ZTFile::closeTables() {
    checkpointAtClose();
    journal4close(&journal_);
    if (env4isLive(&env_)) {
        // Closing drops locks and writes back what the library still holds; a failure there
        // leaves nothing this object could do about it.
        (void)env4closeAll(&env_);
        takeError();
    }
    rowTable_ = dictTable_ = nullptr;
    quietTakes_ = ~uint64_t(0);
    rowIndex_ = dictIndex_ = nullptr;
    rowTags_[0] = rowTags_[1] = rowTags_[2] = nullptr;
    dictTag_ = nullptr;
    rowBuffer_ = dictBuffer_ = nullptr;
    rowsChanged_ = dictionaryChanged_ = false;
    chainGuess_.forget();  // the files opened next may hold other records
    ++localChanges_;
    fileLocked_ = 0;
    complLocked_ = false;
    fastNet_ = 0;
    readRestarts_ = 0;
    openMode_ = 0;
}

uint32_t ZTFile::open(uint32_t mode, bool verify) {
    if (!ZT_ASSERT(openLockCount_ == 0)) return openMode_;
    closeTables();
    if (!(mode & kOpenTables)) return 0;
    if (!ZT_ASSERT(isValid()) || !env4isLive(&env_)) return 0;
    openMode_ = openTables(mode, verify);
    if (verify && isUsable() && !isReadOnly()) checkIDCounter();
    return openMode_;
}

uint32_t ZTFile::openTables(uint32_t mode, bool verify) {
    const bool exclusive = (mode & kOpenExclusive) != 0;
    env_.readOnly = 0;
    env_.accessMode = exclusive ? 1 : 0;
    const std::string rowPath = tablePath("ZT");
    rowTable_ = table4open(&env_, rowPath.c_str());
    if (rowTable_ != nullptr && rowTable_->dataFile->file.isReadOnly) env_.readOnly = 1;
    const bool firstFine = rowTable_ != nullptr && env_.readOnly == 0;
    if (((mode & kOpenReadOnly) || rowTable_ == nullptr) && env_.readOnly == 0) {
        takeError();
        closeTables();
        env_.readOnly = 1;
        rowTable_ = table4open(&env_, rowPath.c_str());
        if (rowTable_ == nullptr) env_.readOnly = 0;
    }
    if (rowTable_ != nullptr) {
        if (table4setAlias(rowTable_, kRowAlias) == 0)
            dictTable_ = table4open(&env_, tablePath("ZT2").c_str());
    }
    if (rowTable_ == nullptr || dictTable_ == nullptr) {
        const int32_t code = takeError();
        closeTables();
        return code == r4noOpen && heldElsewhere(rowPath, exclusive) ? kOpenInUse : 0;
    }
    // A foreign or damaged table is refused before anything could be written to it.
    if (!layoutFits()) {
        closeTables();
        return 0;
    }
    // A pack killed on its way is undone before anything reads the tables; they are opened
    // again so that every header is read from the restored files.
    if (env_.readOnly == 0 && hasPackCopy()) {
        bool restored = false;
        if (exclusive) {
            restored = restorePackCopy() >= 0;
        } else if (openJournalFile() && lockRetry(rowTable_, false)) {
            // The journal's sequence tells readers elsewhere that the files are rewritten.
            restored = restoreAfterKilledPack();
            if (table4unlock(rowTable_) != 0) takeError();
        }
        closeTables();
        if (!restored) return 0;
        return openTables(mode, verify);
    }
    if (env_.readOnly == 0) {
        const int journal = openJournal(exclusive);
        if (journal != 0) closeTables();
        if (journal < 0) return 0;
        if (journal > 0) return openTables(mode, verify);
    } else if (!exclusive && fileExists(tablePath("ZTJ"))) {
        // A reader maps the change sequence of a journal that is there; without one it
        // guards every read (and a missing one is no error to report).
        (void)openJournalFile();
    }
    bool repaired = false;
    if (verify) {
        for (table4* t : {rowTable_, dictTable_}) {
            int r = checkRecordCount(t, env_.readOnly != 0);
            if (r == 2) {
                closeTables();
                return 0;
            }
            repaired |= r == 1;
        }
    }
    uint32_t word = kOpenTables;
    if (exclusive) word |= kOpenExclusive;
    if (env_.readOnly) word |= kOpenReadOnly;
    if (env_.readOnly && firstFine) word |= kOpenReadOnlyAsked;
    if (repaired) word |= kOpenRepaired;
    setAccess(access_ & ~uint32_t(1));  // callers set the access they want after opening
    rowBuffer_ = table4recordBuffer(rowTable_);
    dictBuffer_ = table4recordBuffer(dictTable_);
    if (!(mode & kOpenUsable)) return word;

    if (!openIndexes()) {
        const int32_t code = takeError();
        word |= code == r4noOpen ? kOpenNoIndexFile : kOpenIndexFailed;
        for (index4** ix : {&rowIndex_, &dictIndex_}) {
            if (*ix != nullptr && index4close(*ix) != 0) takeError();
            *ix = nullptr;
        }
        rowTags_[0] = rowTags_[1] = rowTags_[2] = dictTag_ = nullptr;
        return word;
    }
    word |= kOpenUsable;
    seekWord_ = 0;
    if (!exclusive) attachJournal();
    startBuffering();
    return word;
}

bool ZTFile::openJournalFile() {
    if (journal_.open) return true;
    const std::string paths[journal4slots] = {tablePath("ZT"), tablePath("IX"), tablePath("ZT2"),
                                              tablePath("IX2")};
    const char* names[journal4slots];
    for (int i = 0; i < journal4slots; ++i) names[i] = paths[i].c_str();
    const std::string path = tablePath("ZTJ"), sequence = tablePath("ZTS");
    if (journal4open(&journal_, &env_, path.c_str(), sequence.c_str(), names) == 0) return true;
    takeError();
    // No journal can be made here (a folder that takes no new file): commits sync the four
    // files themselves, as they would without one. One that is there must be used.
    struct stat st {};
    return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

int ZTFile::openJournal(bool exclusive) {
    if (!openJournalFile()) return -1;
    if (!journal_.open) return 0;
    // A change sequence not yet made (or too short to map) is made under the lock, so that
    // readers trust single reads from the start.
    if (!journal4mayNeedRecovery(&journal_) && (exclusive || journal4mapSequence(&journal_)))
        return 0;
    if (!exclusive && !lockRetry(rowTable_, false)) return -1;
    int32_t rc = journal4recover(&journal_);
    if (rc >= 0 && journal_.end > journal4headerSize && journal4checkpoint(&journal_) != 0) rc = -1;
    if (rc < 0) takeError();
    if (!exclusive && table4unlock(rowTable_) != 0) takeError();
    return rc < 0 ? -1 : rc > 0 ? 1 : 0;
}

void ZTFile::attachJournal() {
    if (!journal_.open) return;
    file4* files[journal4slots] = {&rowTable_->dataFile->file, &rowIndex_->indexFile->file,
                                   &dictTable_->dataFile->file, &dictIndex_->indexFile->file};
    for (int i = 0; i < journal4slots; ++i) {
        if (env_.readOnly == 0) journal4attach(&journal_, i, files[i]);
        // Reads of the files trust the change sequence; writes outside a commit move it.
        files[i]->seq = &journal_.changes;
    }
}

bool ZTFile::beginChange() {
    viewDoubtful_ = true;
    if (isExclusive() || journal4beginChange(&journal_) == 0) return true;
    takeError();
    return false;
}

void ZTFile::checkpointAtClose() {
    if (!journal_.open || journal_.commits == 0 || fileLocked_ != 0 || rowTable_ == nullptr ||
        isExclusive())
        return;
    // Another writer may hold the lock: it, or whoever closes last, checkpoints instead.
    if (!lockRetry(rowTable_, true)) return;
    if (journal4recover(&journal_) != 0 || journal4checkpoint(&journal_) != 0) takeError();
    if (table4unlock(rowTable_) != 0) takeError();
}

bool ZTFile::journalPause() {
    if (!journal_.holding) return true;
    if (journal4end(&journal_) == 0 && journal4checkpoint(&journal_) == 0) return true;
    takeError();
    return false;
}

void ZTFile::journalResume() {
    if (fileLocked_ > 0 && !isExclusive()) journal4begin(&journal_);
}

// The widths the engine works with, taken from the files; false for any other layout.
bool ZTFile::layoutFits() {
    struct Want {
        table4* table;
        int n;
        const char* name;
        int min, max;
    };
    const Want wants[] = {
        {rowTable_, 1, "A", 3, 4},    {rowTable_, 2, "B", 3, 4},  {rowTable_, 3, "C", 2, 2},
        {rowTable_, 4, "D", 20, 240}, {rowTable_, 5, "E", 4, 4},  {rowTable_, 6, "F", 1, 1},
        {dictTable_, 1, "A", 4, 4},   {dictTable_, 2, "B", 2, 2}, {dictTable_, 3, "C", 5, 65535}};
    if (table4fieldCount(rowTable_) != 6 || table4fieldCount(dictTable_) != 3) return false;
    for (const Want& w : wants) {
        field4* f = table4field(w.table, w.n);
        if (f == nullptr) return false;
        const char* name = field4name(f);
        bool nameFits =
            w.n == 3 && w.table == dictTable_ ? name[0] == 'C' : std::strcmp(name, w.name) == 0;
        if (!nameFits || field4type(f) != 'C' || f->dec != 0 || field4length(f) < w.min ||
            field4length(f) > w.max)
            return false;
    }
    lenID_ = field4length(table4field(rowTable_, 1));
    lenKey_ = field4length(table4field(rowTable_, 4));
    lenDictionaryChunk_ = field4length(table4field(dictTable_, 3));
    keyLengths_ = ZTKeyLengths::forKeyLength(lenKey_);
    return field4length(table4field(rowTable_, 2)) == lenID_;
}

bool ZTFile::openIndexes() {
    rowIndex_ = index4open(rowTable_, tablePath("IX").c_str());
    if (rowIndex_ == nullptr) return false;
    dictIndex_ = index4open(dictTable_, tablePath("IX2").c_str());
    if (dictIndex_ == nullptr) return false;
    // The tags must be the engine's: a foreign index is no index to this database.
    const int32_t keyLengths[3] = {lenID_ + lenKey_ + 5, 2 * lenID_ + 2 + lenKey_, 5};
    for (int i = 0; i < 3; ++i) {
        rowTags_[i] = index4tag(rowIndex_, kRowTagNames[i]);
        if (rowTags_[i] == nullptr || rowTags_[i]->tagFile->keyLength != keyLengths[i] ||
            strcasecmp(rowTags_[i]->tagFile->exprText, kRowTags[i].expression) != 0)
            return false;
    }
    dictTag_ = index4tag(dictIndex_, kDictionaryTagName);
    if (dictTag_ == nullptr || dictTag_->tagFile->keyLength != 6 ||
        strcasecmp(dictTag_->tagFile->exprText, kDictionaryTags[0].expression) != 0)
        return false;
    return table4selectTag(dictTable_, dictTag_) != nullptr;
}

void ZTFile::startBuffering() {
    if (buffer4suspend(&env_) != 0) takeError();
    env_.bufferMemory = 0;
    if (bufferSetting_ != 0) {
        env_.bufferMemory = bufferSetting_ < 0 ? kDefaultBufferBytes : bufferSetting_ * 1024;
        // Without memory for a buffer the database still works, unbuffered.
        if (buffer4start(&env_) != 0) {
            takeError();
            env_.bufferMemory = 0;
        }
    }
    for (table4* t : {rowTable_, dictTable_})
        if (table4setReadAhead(t, 1) != 0 || table4setWriteBehind(t, 1) != 0) takeError();
}

// ---- the record-count check ----

int ZTFile::checkRecordCount(table4* table, bool noRepair) {
    if (!ZT_ASSERT(table != nullptr)) return 2;
    table4file* d = table->dataFile;
    // Every in-place write of a shared database is made under the row table's lock, which is
    // what lets the next holder tell a writer that died from one at work.
    const bool rowsToo = table != rowTable_ && !env_.readOnly && !noRepair;
    auto unlockAll = [&] {
        if (table4unlock(table) != 0) takeError();
        if (rowsToo && table4unlock(rowTable_) != 0) takeError();
    };
    for (int pass = 1; pass <= 2; ++pass) {
        if (pass == 2 && rowsToo && !lockRetry(rowTable_, false)) return 2;
        if (pass == 2 && !lockRetry(table, false)) {
            if (rowsToo && table4unlock(rowTable_) != 0) takeError();
            return 2;
        }
        int32_t count = -1, length = -1;
        if (file4dropBuffers(&d->file) == 0) {
            count = table4recordCountLow(d, table->lockOwner);
            length = file4length(&d->file);
        }
        if (count < 0 || length < 0) {
            takeError();
            if (pass == 2) unlockAll();
            return 2;
        }
        const int64_t header = d->headerLen, width = d->recordLen;
        const int64_t whole = length >= header ? (length - header) / width : -1;
        if (length > 0 && whole == count) {
            if (pass == 2) unlockAll();
            return 0;
        }
        if (pass == 1) continue;
        int result = 2;
        if (whole >= 0 && noRepair) {
            // Nothing is written: the records the header counts can be read, so the table
            // opens (read-only); a short file cannot.
            result = whole >= count ? 0 : 2;
        } else if (whole >= 0) {
            // The header's count is trusted when the records are there: surplus records are
            // cut (an append whose count never reached the header); a short file keeps only
            // its whole records. The index is rebuilt from the new count first, so that no
            // entry of a record cut away is left behind, and nothing is changed when it cannot.
            const int32_t kept = int32_t(std::min<int64_t>(count, whole));
            d->heldCount = kept;
            if (beginChange() && rebuildIndexOf(table)) {
                d->headerChanged = d->countChanged = 1;
                const char end = kEndOfFile;
                const int32_t at = int32_t(header + kept * width);
                if (table4writeHeader(d, 0, 1) == 0 && file4setLength(&d->file, at + 1) == 0 &&
                    file4write(&d->file, at, &end, 1) == 0 && file4flush(&d->file) == 0)
                    result = 1;
            } else {
                d->heldCount = count;
            }
            if (result != 1) takeError();
            journal4endChange(&journal_);
        }
        unlockAll();
        return result;
    }
    return 2;
}

// Rebuilds the index file of one table (when it has one) from the table's records as counted
// now; the caller holds the table's lock.
bool ZTFile::rebuildIndexOf(table4* table) {
    const std::string path = tablePath(table == rowTable_ ? "IX" : "IX2");
    if (!fileExists(path)) return true;  // nothing to keep in step; open reports the index
    index4* ix = index4open(table, path.c_str());
    if (ix == nullptr) {
        takeError();
        return false;
    }
    bool ok = index4reindex(ix) == 0;
    if (index4close(ix) != 0) ok = false;
    if (table == dictTable_) chainGuess_.forget();
    if (!ok) takeError();
    return ok;
}

// ---- create, probe, rebuild, duplicate ----

bool ZTFile::create(int32_t lenID, int32_t lenKey, int32_t lenDictionaryChunk) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(!isUsable()) || !ZT_ASSERT(lenID >= 3 && lenID <= 4) ||
        !ZT_ASSERT(lenKey >= 20) || !ZT_ASSERT(lenDictionaryChunk >= 5))
        return false;
    // A table in any letter case of its extension is never replaced.
    for (const char* ext : {"ZT", "ZT2"})
        if (fileExists(tablePath(ext))) return false;
    // A commit journal left by an earlier database of this name would be replayed into the new
    // files at their first shared open: it went with the tables it served.
    if (unlink(tablePath("ZTJ").c_str()) != 0 && errno != ENOENT) return false;
    const field4def rowFields[] = {{"A", 'C', uint16_t(lenID), 0, 0},
                                   {"B", 'C', uint16_t(lenID), 0, 0},
                                   {"C", 'C', 2, 0, 0},
                                   {"D", 'C', uint16_t(lenKey), 0, 0},
                                   {"E", 'C', 4, 0, 0},
                                   {"F", 'C', 1, 0, 0},
                                   {nullptr, 0, 0, 0, 0}};
    const field4def dictFields[] = {{"A", 'C', 4, 0, 0},
                                    {"B", 'C', 2, 0, 0},
                                    {"C600", 'C', uint16_t(lenDictionaryChunk), 0, 0},
                                    {nullptr, 0, 0, 0, 0}};
    env_.safety = 1;
    env_.accessMode = 1;
    env_.readOnly = 0;
    const std::string paths[4] = {path_ + ".ZT", path_ + ".ZT2", path_ + ".IX", path_ + ".IX2"};
    bool made[4] = {};
    table4* rows = table4create(&env_, paths[0].c_str(), rowFields, nullptr);
    made[0] = rows != nullptr;
    table4* dict = nullptr;
    if (rows != nullptr && table4setAlias(rows, kCreateAlias) == 0) {
        dict = table4create(&env_, paths[1].c_str(), dictFields, nullptr);
        made[1] = dict != nullptr;
    }
    bool ok = rows != nullptr && dict != nullptr;
    if (ok) {
        made[2] = made[3] = true;  // replaced index files belong to this database now
        ok = createIndexes(rows, dict);
    }
    ok = ok && error4code(&env_) == 0;
    takeError();
    closeTables();
    if (!ok)
        for (int i = 0; i < 4; ++i)
            if (made[i]) unlink(paths[i].c_str());
    return ok;
}

bool ZTFile::createIndexes(table4* rows, table4* dictionary) {
    env_.safety = 0;  // existing index files are replaced
    index4* ix = index4create(rows, (path_ + ".IX").c_str(), kRowTags);
    index4* ix2 = ix != nullptr
                      ? index4create(dictionary, (path_ + ".IX2").c_str(), kDictionaryTags)
                      : nullptr;
    env_.safety = 1;
    return ix != nullptr && ix2 != nullptr;
}

bool ZTFile::exists() {
    return isUsable() || probeTables();
}

bool ZTFile::probeTables() {
    if (!ZT_ASSERT(isValid())) return false;
    if (isOpen()) return true;
    env_.safety = 0;
    env_.readOnly = 1;
    env_.accessMode = 0;
    bool answer = true;
    if (table4open(&env_, tablePath("ZT").c_str()) == nullptr && takeError() == r4noOpen) {
        answer = table4open(&env_, tablePath("ZT2").c_str()) != nullptr || takeError() != r4noOpen;
    }
    closeTables();
    env_.safety = 1;
    return answer;
}

bool ZTFile::isInUse() {
    return isOpen() || heldElsewhere(tablePath("ZT"), true);
}

bool ZTFile::rebuildIndexes() {
    if (!ZT_ASSERT(isValid())) return false;
    const uint32_t former = openMode_;
    const bool reopen =
        (former & (kOpenTables | kOpenExclusive | kOpenUsable)) != (kOpenTables | kOpenExclusive);
    if (reopen) open(kOpenTables | kOpenExclusive, false);
    bool ok = false;
    if ((openMode_ & (kOpenTables | kOpenExclusive)) == (kOpenTables | kOpenExclusive)) {
        ok = createIndexes(rowTable_, dictTable_);
        takeError();
        // The new index files stay on the table handles; the state says "no indexes".
        for (table4* t : {rowTable_, dictTable_})
            while (index4* ix = static_cast<index4*>(list4first(&t->indexes)))
                if (index4close(ix) != 0) {
                    takeError();
                    break;
                }
    }
    if (reopen) open(former & 15, true);
    return ok;
}

ZTFile* ZTFile::duplicate(uint32_t mode) {
    if (!ZT_ASSERT(isValid())) return nullptr;
    const uint32_t wanted = mode != 0 ? mode & 15 : openMode_ & 15;
    auto* copy = new ZTFile(path_.c_str(), flags_);
    copy->bufferSetting_ = bufferSetting_;
    if ((copy->open(wanted, false) & 15) != wanted) {
        delete copy;
        return nullptr;
    }
    return copy;
}

int32_t ZTFile::getRowCount() {
    if (!ZT_ASSERT(isOpen())) return 0;
    int32_t n = readRowCount();
    if (n < 0) takeError();
    return n < 0 ? 0 : n;
}

int32_t ZTFile::getDictionaryRowCount() {
    if (!ZT_ASSERT(isOpen())) return 0;
    int32_t n = table4recordCount(dictTable_);
    if (n < 0) takeError();
    return n < 0 ? 0 : n;
}

int ZTFile::refresh(ZTRefreshInfo* info, void* arg) {
    refreshTables(false);
    return fieldCache_ ? fieldCache_->dispatchRefresh(info, arg) : 0;
}

// ---- the dictionary version ----

int32_t ZTFile::getDictionaryVersion() {
    if (!ZT_ASSERT(isOpen())) return 0;
    field4* f = table4field(dictTable_, 3);
    if (f == nullptr) return 0;
    int32_t v = 0;
    for (const char* p = field4name(f) + 1; *p >= '0' && *p <= '9'; ++p) v = v * 10 + (*p - '0');
    return v == 0 ? 500 : v;
}

bool ZTFile::setDictionaryVersion(int32_t version) {
    if (!ZT_ASSERT(isOpen()) || isReadOnly()) return false;
    if (version > 99999 || version < 0) version = 0;
    std::string name = version == 500 ? "C" : "C" + std::to_string(version);
    // The third descriptor's name: 32-byte header and two 32-byte descriptors before it.
    constexpr int32_t kNameOffset = 96;
    char bytes[11] = {};
    std::memcpy(bytes, name.c_str(), name.size());
    // Under the row table's lock, as every write of a shared database; a lock span's commit
    // carries it, else it is written in place with the change sequence odd.
    const bool tookRows = fileLocked_ == 0 && !isExclusive();
    if (tookRows && !lockRetry(rowTable_, false)) return false;
    const bool took = !complLocked_;
    if (took && !lockRetry(dictTable_, false)) {
        if (tookRows && table4unlock(rowTable_) != 0) takeError();
        return false;
    }
    table4file* d = dictTable_->dataFile;
    const bool inPlace = !journal_.holding;
    bool ok = (!inPlace || beginChange()) && file4dropBuffers(&d->file) == 0 &&
              file4write(&d->file, kNameOffset, bytes, 11) == 0 && file4flush(&d->file) == 0;
    if (inPlace) journal4endChange(&journal_);
    if (ok) {
        // The open table keeps its descriptors in memory: they follow the file.
        std::memcpy(table4field(dictTable_, 3)->name, bytes, sizeof bytes);
        std::memcpy(d->fieldBytes + kNameOffset - 32, bytes, sizeof bytes);
    }
    if (!ok) takeError();
    if (took && table4unlock(dictTable_) != 0) {
        takeError();
        ok = false;
    }
    if (tookRows && table4unlock(rowTable_) != 0) {
        takeError();
        ok = false;
    }
    return ok;
}
