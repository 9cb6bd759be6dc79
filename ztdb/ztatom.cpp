#include "ztdb/ztatom.h"

#include <cmath>
#include <cstring>

#include "ztdb/ztassert.h"
#include "ztdb/ztcodec.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztset.h"

namespace {

constexpr uint32_t kNameType = 1;     // a field record's name
constexpr uint32_t kOwnerType = 121;  // owner text
constexpr uint32_t kOwnerMark = 124;  // owner marker
constexpr uint32_t kEmptyNameResult = 17;

// Index of the field in the structure, -1 when absent (or no structure).
int structureIndex(const ZTSet* structure, uint32_t fieldID) {
    if (!structure) return -1;
    for (uint32_t i = 0; i < structure->size; ++i)
        if (structure->data[i] == fieldID) return int(i);
    return -1;
}

bool listHolds(const ZTArray<unsigned long>* list, uint32_t fieldID) {
    return list && list->find(static_cast<unsigned long>(fieldID)) >= 0;
}

// Lower case of a Windows-1252 byte: A-Z, the accented capitals 192-222 (but 215, the
// multiplication sign) and the capitals of 138, 140, 142 and 159. Fixed, never the locale's.
unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return uint8_t(c + 32);
    if (c >= 192 && c <= 222 && c != 215) return uint8_t(c + 32);
    switch (c) {
        case 138:
            return 154;
        case 140:
            return 156;
        case 142:
            return 158;
        case 159:
            return 255;
        default:
            return c;
    }
}

bool equalsIgnoringCase(const char* a, const char* b) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (; *p && *q; ++p, ++q)
        if (lower1252(*p) != lower1252(*q)) return false;
    return *p == *q;
}

// The bound of a walk through the rows: as many steps as the table counts rows, plus one (more
// means a damaged order). The count is read only when a walk goes on past the first row it
// meets, which most never do.
class WalkBound {
  public:
    explicit WalkBound(ZTFile* file) : file_(file) {}
    bool more() {
        if (left_ < 0) {
            if (first_) {
                first_ = false;
                return true;
            }
            left_ = file_->getRowCount();
        }
        return left_-- > 0;
    }

  private:
    ZTFile* file_;
    int32_t left_ = -1;
    bool first_ = true;
};

}  // namespace

// ---- construction ----

ZTAtom::ZTAtom(ZTFile* file_, uint8_t mode_) : ZTFileAtom(file_), mode(mode_) {}

ZTAtom::ZTAtom(const ZTAtom& other) : ZTFileAtom(other.file) {
    *this = other;
}

ZTAtom& ZTAtom::operator=(const ZTAtom& other) {
    if (&other == this) return *this;
    copyFrom(other);
    mode = other.mode;
    state = other.state;
    linkRecord = other.linkRecord;
    linkField = other.linkField;
    relativePosition = other.relativePosition;
    return *this;
}

void ZTAtom::reset(ZTFile* file_, uint8_t mode_) {
    init(file_);
    setMode(mode_);
}

void ZTAtom::setMode(uint8_t mode_) {
    mode = mode_;
    state = 0;
    linkRecord = 0;
    linkField = 0;
}

void ZTAtom::clearRow() {
    value.clear();
    linkRecord = 0;
    linkField = 0;
}

// ---- hooks ----

bool ZTAtom::loadValue() {
    if (mode & kModeKeysOnly) return true;
    if (!readValue()) value.clear();  // an unreadable value shows as empty
    return true;
}

// Exact: the row at its own position (found by value number and flags, so that a cursor that
// loaded no text finds it too); otherwise anywhere among the record's values of the field.
int ZTAtom::reposition(bool exact) {
    if (!isValid() || rowNumber() < 1) return -1;
    const uint32_t record = recordID;
    const int r = ZTRec::findValue(exact ? nullptr : value.text, exact);
    if (r == 1 && recordID != record) {
        unlockTables();
        return -1;
    }
    return r;
}

uint32_t ZTAtom::recordFlags(uint32_t) {
    unlockTables();
    return 0;
}

uint32_t ZTAtom::fieldFlags(uint32_t) {
    unlockTables();
    return 0;
}

void ZTAtom::valueLoaded() {}

int ZTAtom::findOwnerRow(uint32_t valueID_) {
    if (!isValid() || findOwner(valueID_) != 0) return done(-1);
    loadValue();
    unlockTables();
    state = recordFlags(recordID) | fieldFlags(typeID);
    if (state & kHidden) return -1;
    linkRecord = 0;
    linkField = 0;
    valueLoaded();
    return 0;
}

// ---- the acceptance rule ----

int ZTAtom::accept(bool skipUnresolved, bool linksOnly, int tagNo) {
    state = 0;
    linkRecord = 0;
    linkField = 0;
    if (mode & kModeRelative) relativePosition = tagFraction(tagNo);
    const bool member = isMemberRow();
    if (member != ((mode & kModeMembers) != 0)) return 1;
    if (isLinkRow() && !(mode & kModeNoLinks)) {
        ZTRec owner(file);
        if (owner.findOwner(valueID) == 0) {
            const uint32_t flags_ = recordFlags(owner.recordID);
            if (!(flags_ & kHidden)) {
                linkRecord = owner.recordID;
                linkField = owner.typeID;
                state |= flags_;
            } else if (skipUnresolved) {
                return 1;
            }
        } else if (skipUnresolved) {
            return 1;
        }
    } else if (linksOnly && !isLinkRow()) {
        return 1;
    }
    const uint32_t own = recordFlags(recordID) | fieldFlags(typeID);
    if (own & kHidden) return 1;
    state |= own;
    loadValue();
    unlockTables();
    valueLoaded();
    return 0;
}

double ZTAtom::tagFraction(int tagNo) {
    if (tagNo == 1) {
        const double at = typeFraction();
        return at < 0 ? 0.0 : at;
    }
    table4* t = file->getRowTable();
    if (rowNumber() < 1 || table4selectTag(t, file->getRowTag(tagNo)) == nullptr ||
        (table4recordNumber(t) != rowNumber() && table4go(t, rowNumber()) != 0)) {
        (void)error4setCode(file->getEnv(), 0);
        return 0.0;
    }
    const double at = table4position(t);
    if (at < 0) {
        (void)error4setCode(file->getEnv(), 0);
        return 0.0;
    }
    return at;
}

const char* ZTAtom::currentKey() {
    if (const char* key = rowKey()) return key;
    // Reads in between (owners, hooks) moved the table: the row is read again.
    if (rowNumber() < 1 || table4go(file->getRowTable(), rowNumber()) != 0) {
        (void)error4setCode(file->getEnv(), 0);
        return nullptr;
    }
    return rowKey();
}

int ZTAtom::done(int result) {
    if (isValid()) unlockTables();
    return result;
}

bool ZTAtom::placeholder(uint32_t recordID_, uint32_t fieldID, ZTSet* structure) {
    const int at = structureIndex(structure, fieldID);
    if (at < 0 || uint32_t(at) >= structure->getFixedCount()) return false;
    reset(file, 0);
    recordID = recordID_;
    typeID = fieldID;
    state = fieldFlags(fieldID);
    valueLoaded();
    return true;
}

// ---- record order ----

int ZTAtom::find(uint32_t recordID_, uint32_t fieldID, uint32_t position_, const char* key,
                 ZTSet* structure, bool linksOnly) {
    if (!isValid()) return -1;
    const bool mayPlace = structure && position_ == 0 && (!key || !*key);
    if (recordID_ == 0) return mayPlace && placeholder(0, fieldID, structure) ? 0 : -1;
    ZTReadBracket bracket(file);
    if (seek(recordID_, fieldID, position_, key ? key : "") == 0 &&
        acceptFrom(recordID_, fieldID, linksOnly) == 0)
        return 0;
    done(-1);
    return mayPlace && placeholder(recordID_, fieldID, structure) ? 0 : -1;
}

int ZTAtom::acceptFrom(uint32_t recordID_, uint32_t fieldID, bool linksOnly) {
    int r = 0;
    for (WalkBound left(file); r == 0 && left.more();) {
        if (recordID != recordID_ || typeID != fieldID) break;
        if (accept(true, linksOnly, 2) == 0) return 0;
        r = skip(1);
    }
    return done(-1);
}

int ZTAtom::findNext(const ZTAtom* source, int direction, ZTSet* structure, bool linksOnly) {
    if (!isValid() || !ZT_ASSERT(source != nullptr)) return -1;
    if (source != this) *this = *source;
    const uint32_t record = recordID, field = typeID;
    const bool emptySource = value.length == 0;
    ZTReadBracket bracket(file);
    // Finding the row again costs a seek; a row nobody wrote since it was read is still there.
    int r = rowUnchanged() ? 0 : reposition(true);
    if (direction == 0) {
        if (r == 0 && accept(true, linksOnly, 2) == 0) return 0;
        done(-1);
        return structure && emptySource && placeholder(record, field, structure) ? 0 : -1;
    }
    const int step = direction > 0 ? 1 : -1;
    if (r < 0) {
        // The row and everything after it in the record went: going back starts after the
        // field's rows; going on finds nothing.
        if (step > 0) return done(-1);
        const uint32_t next = field < file->getMaxID() ? field + 1 : field;
        r = seek(record, next, 0, "");
        r = r < 0 ? goLast() : 0;
        if (r == 0 && (recordID != record || typeID != field)) r = skip(-1);
    } else if (r == 0 || step < 0) {
        // On the row itself, or (when it went) on the row after it.
        r = skip(step);
    }
    for (WalkBound left(file); r >= 0 && left.more();) {
        if (recordID != record || typeID != field) break;
        if (accept(true, linksOnly, 2) == 0) return 0;
        r = skip(step);
    }
    return done(-1);
}

int ZTAtom::findLast(uint32_t recordID_, uint32_t fieldID, bool fromEnd, ZTSet* structure) {
    if (!isValid()) return -1;
    if (recordID_ != 0) {
        ZTReadBracket bracket(file);
        int r;
        if (fromEnd)
            r = seek(recordID_, fieldID, ZTRec::kNoPosition, "");
        else if (fieldID < file->getMaxID())
            r = seek(recordID_, fieldID + 1, 0, "");
        else
            r = seek(recordID_ + 1, 0, 0, "");
        r = r < 0 ? goLast() : skip(-1);
        for (WalkBound left(file); r >= 0 && left.more();) {
            if (recordID != recordID_ || typeID != fieldID) break;
            if (accept(true, false, 2) == 0) return 0;
            r = skip(-1);
        }
        done(-1);
    }
    return structure && placeholder(recordID_, fieldID, structure) ? 0 : -1;
}

int ZTAtom::nextInRecord(const ZTAtom* source, int direction, ZTSet* structure, bool structureOnly,
                         bool nextFieldOnly, bool noPlaceholders, uint32_t lowField,
                         uint32_t highField, const ZTArray<unsigned long>* onlyList,
                         const ZTArray<unsigned long>* exceptList) {
    if (!isValid() || !ZT_ASSERT(source != nullptr)) return -1;
    if (source != this) *this = *source;
    const uint32_t record = recordID;
    const uint32_t field = typeID;
    const uint32_t top = file->getMaxID();
    const bool only = onlyList && onlyList->size > 0;
    ZTSet* placing = noPlaceholders ? nullptr : structure;
    auto takes = [&](uint32_t f) {
        if (structureIndex(structure, f) >= 0) return false;
        if (f >= lowField && f <= highField) return !listHolds(exceptList, f);
        return only && listHolds(onlyList, f);
    };
    auto valueOrPlaceholder = [&](uint32_t f, bool last) {
        if (record != 0 && (last ? findLast(record, f, false, nullptr)
                                 : find(record, f, 0, "", nullptr, false)) == 0)
            return true;
        return placing && placeholder(record, f, structure);
    };
    ZTReadBracket bracket(file);

    if (direction >= 0) {
        // A step that ran off the field's rows stands on the row after them, where a seek of
        // the next field of the record would land.
        bool standing = false;
        if (!nextFieldOnly && field != 0) {
            if (findNext(this, direction, placing, false) == 0) return 0;
            standing = rowNumber() >= 1 && !readFailed() && recordID == record && typeID > field &&
                       rowUnchanged();
        }
        const int at = structureIndex(structure, field);
        const bool structurePhase = structure && (field == 0 || at >= 0);
        if (structurePhase) {
            standing = false;
            for (uint32_t i = field == 0 ? 0 : uint32_t(at + 1); i < structure->size; ++i)
                if (valueOrPlaceholder(structure->data[i], false)) return 0;
        }
        if (structureOnly || record == 0) return done(-1);
        uint32_t f = structurePhase ? 0 : field;
        if (!only && lowField != 0 && f < lowField - 1) f = lowField - 1;
        standing = standing && f == field;
        for (WalkBound left(file); left.more() && f < top;) {
            if (!standing && seek(record, f + 1, 0, "") != 0) break;
            standing = false;
            f = typeID;
            if (!only && f > highField) break;
            // The seek stands on the field's first row.
            if (takes(f) && acceptFrom(record, f, false) == 0) return 0;
        }
        return done(-1);
    }

    // Backward: the fields outside the structure from the highest, then the structure's.
    const bool atEnd = field == 0 || field == kFieldSentinel;
    if (!nextFieldOnly && !atEnd && findNext(this, direction, placing, false) == 0) return 0;
    const int at = atEnd ? -1 : structureIndex(structure, field);
    if (!structureOnly && at < 0 && record != 0) {
        uint64_t f = atEnd ? uint64_t(kFieldSentinel) : field;
        if (!only && highField != 0xFFFFFFFFu && f > uint64_t(highField) + 1) f = highField + 1;
        for (WalkBound left(file); left.more();) {
            int r = f > top ? seek(record + 1, 0, 0, "") : seek(record, uint32_t(f), 0, "");
            r = r < 0 ? goLast() : skip(-1);
            if (r < 0 || recordID != record) break;
            f = typeID;
            if (!only && f < lowField) break;
            if (takes(uint32_t(f)) && findLast(record, uint32_t(f), false, nullptr) == 0) return 0;
        }
    }
    if (structure) {
        const int start = at >= 0 ? at - 1 : int(structure->size) - 1;
        for (int i = start; i >= 0; --i)
            if (valueOrPlaceholder(structure->data[i], true)) return 0;
    }
    return done(-1);
}

// ---- value order ----

int ZTAtom::walkValues(uint32_t fieldID, int r, int step, bool follow, bool exact,
                       const char* text) {
    // Exact: the rows of the text's key (which the seek reached or passed) and its very text.
    char key[256];
    const size_t lenKey = size_t(file->getLenKey());
    if (exact) file->makeKey(text ? text : "", key, true, false, false, false);
    ZTStr stored;
    for (WalkBound left(file); r == 0 && left.more();) {
        if (!follow && typeID != fieldID) break;
        if (exact) {
            const char* d = rowKey();
            const int order = d ? std::memcmp(d, key, lenKey) : 1;
            if (order > 0) break;
            if (order < 0) {
                r = skipInType(step, follow, false);
                continue;
            }
        }
        if (accept(false, false, 1) == 0) {
            if (!exact) return 0;
            const char* have = value.text;
            if (mode & kModeKeysOnly) {
                (void)readChain(valueID, &stored);
                have = stored.text;
            }
            if (std::strcmp(have, text ? text : "") == 0) return 0;
        }
        r = skipInType(step, follow, false);
    }
    return done(-1);
}

int ZTAtom::findValue(uint32_t fieldID, const char* text, bool exact, bool follow, bool after,
                      int keyOption) {
    if (!isValid()) return -1;
    ZTReadBracket bracket(file);
    int r;
    if (mode & kModeSeekFraction) {
        r = goToFraction(fieldID, relativePosition, follow);
    } else if (after) {
        char key[256];
        file->makeKey(text ? text : "", key, true, false, false, keyOption != 0);
        key[file->getLenKey() - 1] = char(255);
        r = seekTypeKey(fieldID, key, follow);
    } else {
        r = seekInType(fieldID, text ? text : "", follow, false, false, keyOption != 0);
    }
    return walkValues(fieldID, r, 1, follow, exact && !(mode & kModeSeekFraction), text);
}

int ZTAtom::findNextValue(const ZTAtom* source, int step, bool follow) {
    if (!isValid() || !ZT_ASSERT(source != nullptr)) return -1;
    if (source != this) *this = *source;
    ZTReadBracket bracket(file);
    // The walk goes on from the row it stood on (a followed link's own row): the check finds
    // the row reached, the walk keeps its place. Finding the row again costs a seek; a row
    // nobody wrote since it was read is still there, and the cursor needs no copy of it.
    if (!rowUnchanged()) {
        const ZTAtom walked(*this);
        if (reposition(true) != 0) return done(-1);
        ZTFileAtom::copyFrom(walked);
    }
    const uint32_t fieldID = typeID;
    if (step == 0) {
        const ZTAtom walked(*this);
        if (accept(false, false, 1) == 0) return 0;
        ZTFileAtom::copyFrom(walked);
        step = 1;
    }
    return walkValues(fieldID, skipInType(step, follow, false), step, follow, false, nullptr);
}

int ZTAtom::findLastValue(uint32_t fieldID, bool follow) {
    if (!isValid()) return -1;
    ZTReadBracket bracket(file);
    return walkValues(fieldID, goLastOfType(fieldID, follow), -1, follow, false, nullptr);
}

int ZTAtom::seekCondition(ZTFilter* condition, uint32_t fieldID, bool follow,
                          uint32_t searchedField, int direction) {
    if (!isValid()) return -1;
    const uint32_t field = searchedField ? searchedField : fieldID;
    const bool wasTextOnly = condition ? condition->textOnly : false;
    int r = -1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        // The second try reads the condition's bounds as texts.
        if (condition && attempt == 1) condition->textOnly = true;
        const char* bound = nullptr;
        if (condition)
            bound = direction == 1 ? condition->lowBoundText(fieldID)
                                   : condition->highBoundText(fieldID);
        const char* word = bound ? bound : "";
        const bool typed = *word && file->guessValueType(word) != 0;
        if (direction == 1) {
            r = findValue(field, word, false, follow, false, attempt == 1 ? 1 : 0);
        } else if (!*word) {
            r = findLastValue(field, follow);
        } else {
            // From the first row past the upper end of the range, the very key the bound test
            // uses: every value that begins with the word lies below it.
            char key[256];
            file->makeKey(word, key, true, true, true, !typed || attempt == 1);
            ZTReadBracket bracket(file);
            r = seekTypeKey(field, key, follow);
            if (r == 0)
                r = walkValues(field, skipInType(-1, follow, false), -1, follow, false, nullptr);
            else
                r = findLastValue(field, follow);
        }
        const char* key = r == 0 ? currentKey() : nullptr;
        const bool past = r == 0 && condition && key &&
                          condition->isPastBound(fieldID, key, direction == 1 ? 1 : -1);
        if (!past || attempt == 1 || !(*word == 0 || typed)) break;
    }
    if (condition) condition->textOnly = wasTextOnly;
    return r;
}

// ---- record walks ----

uint32_t ZTAtom::lastRecordID() {
    ZTRec last(file);
    if (last.goLast() != 0) return 0;
    return last.recordID;
}

double ZTAtom::recordFraction(uint32_t reached) {
    if (reached < kFirstUserRecord) return 0.0;
    const uint32_t top = std::max(lastRecordID(), reached);
    if (top <= kFirstUserRecord) return 0.0;
    return double(reached - kFirstUserRecord) / double(top - kFirstUserRecord);
}

int ZTAtom::stepRecord(uint32_t recordID_, int direction) {
    if (!isValid()) return -1;
    ZTReadBracket bracket(file);
    int r;
    if (recordID_ < kFirstUserRecord) {
        r = direction < 0 ? goLast() : seek(kFirstUserRecord, 0, 0, "");
        if (r >= 0 && recordID < kFirstUserRecord) r = -1;
        if (r < 0) return done(-1);
        if (mode & kModeRelative) relativePosition = direction < 0 ? 1.0 : 0.0;
    } else {
        const uint32_t from = direction > 0 ? recordID_ + 1 : recordID_;
        r = seek(from, 0, 0, "");
        if (direction < 0) r = r < 0 ? goLast() : skip(-1);
        if (r < 0) return done(-1);
        if (direction < 0 && recordID < kFirstUserRecord) return done(-1);
        if (direction == 0 && recordID != recordID_) return done(-1);
        if (direction < 0) {
            // Back to the record's first row.
            const uint32_t at = recordID;
            if (seek(at, 0, 0, "") != 0) return done(-1);
        }
        if (mode & kModeRelative) relativePosition = recordFraction(recordID);
    }
    clearRow();
    return done(0);
}

// The inverse of recordFraction: the same range, rounded to the nearest ID so that a fraction
// read from a record leads back to it.
int ZTAtom::gotoRelative(double fraction) {
    if (!isValid()) return -1;
    ZTReadBracket bracket(file);
    const uint32_t top = lastRecordID();
    if (top < kFirstUserRecord) return done(-1);
    if (!(fraction > 0.0)) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    const uint32_t target =
        kFirstUserRecord + uint32_t(std::llround(fraction * double(top - kFirstUserRecord)));
    if (seek(target, 0, 0, "") < 0) return done(-1);
    if (mode & kModeRelative) relativePosition = recordFraction(recordID);
    clearRow();
    return done(0);
}

// ---- tests and helpers ----

bool ZTAtom::recordPasses(uint32_t setID, ZTFilter* conditions, const char* ownerText) {
    if (!isValid()) return false;
    const uint32_t record = recordID;
    ZTReadBracket bracket(file);
    ZTRec probe(file);
    if (setID != 0) {
        if (probe.seek(record, setID, 0, "") != 0 || probe.typeID != setID ||
            !probe.isMemberRow()) {
            probe.unlockTables();
            return false;
        }
    }
    if (conditions) {
        for (uint32_t i = 0; i < conditions->size; ++i) {
            CFilterElem* elem = conditions->data[i];
            if (elem && !probe.testRecord(record, elem, false)) return false;
        }
    }
    if (ownerText && *ownerText) {
        ZTStr owner, mark;
        if (file->getValue(kOwnerMark, record, &mark, false) &&
            file->getValue(kOwnerType, record, &owner, false) &&
            !equalsIgnoringCase(owner.text, ownerText))
            return false;
    }
    probe.unlockTables();
    return true;
}

int ZTAtom::findOrAddFieldName(uint32_t recordID_, const char* name, uint32_t* outID) {
    uint32_t ignored = 0;
    if (!outID) outID = &ignored;
    *outID = 0;
    if (!name || !*name) {
        *outID = kEmptyNameResult;
        return 0;
    }
    if (!isValid() || file->isReadOnly()) return -1;
    ZTWriteLock lock(file);
    if (!lock) return -1;
    const uint8_t saved = mode;
    setMode(0);
    int r;
    if (findValue(kNameType, name, true, true, false, 0) == 0) {
        r = 1;
    } else {
        // A record that has a name is renamed; any other name makes a field of its own.
        const bool rename = recordID_ != 0 && file->hasValue(recordID_, kNameType);
        init(file);
        if (rename) {
            r = find(recordID_, kNameType, 1, "", nullptr, false) == 0 ? 0 : -1;
            if (r == 0) r = write(recordID_, kNameType, 1, name, 0, false, true, false, 0);
            r = r == kWriteChanged || r == kWriteStored ? 4 : -1;
        } else {
            r = write(0, kNameType, 1, name, 0, true, true, false, 0) == kWriteCreated ? 2 : -1;
        }
    }
    if (r > 0) *outID = recordID;
    setMode(saved);
    if (!lock.release()) return -1;
    return r;
}

// ---- ZTBinaryAtom ----

ZTBinaryAtom::ZTBinaryAtom(ZTFile* file_, uint8_t mode_) : ZTAtom(file_, mode_) {}

ZTBinaryAtom::~ZTBinaryAtom() {
    delete[] buffer;
}

bool ZTBinaryAtom::readData() {
    delete[] buffer;
    buffer = nullptr;
    length = 0;
    std::vector<unsigned char> bytes;
    if (value.length == 0) return true;
    if (!unpackBinary(reinterpret_cast<const unsigned char*>(value.text), &bytes)) return false;
    buffer = new unsigned char[bytes.size() + 1];
    if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = 0;
    length = uint32_t(bytes.size());
    return true;
}

int ZTBinaryAtom::writeData(uint32_t recordID_, uint32_t fieldID, uint32_t position_,
                            const unsigned char* bytes, uint32_t length_, bool asNew) {
    ZTStr packed;
    if (length_ != 0) {
        if (!bytes || packBinary(bytes, length_, &packed) == 0) return kWriteFailed;
    }
    return write(recordID_, fieldID, position_, packed.text, 0, asNew, true, false, 0);
}
