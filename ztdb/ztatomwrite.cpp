// The value cursor's write: positions, duplicates and set membership kept right.
#include <algorithm>
#include <cstring>

#include "ztdb/ztassert.h"
#include "ztdb/ztatom.h"

namespace {

constexpr char kLive = ' ';

// The position after the last value of (record, field): 1 when it has none, 65024 when the last
// already stands there.
uint32_t appendPosition(ZTFile* file, uint32_t record, uint32_t field) {
    ZTRec rec(file);
    int r = field < file->getMaxID() ? rec.seek(record, field + 1, 0, "")
                                     : rec.seek(record + 1, 0, 0, "");
    r = r < 0 ? rec.goLast() : rec.skip(-1);
    rec.unlockTables();
    if (r < 0 || rec.recordID != record || rec.typeID != field) return 1;
    return rec.position >= ZTRec::kNoPosition ? ZTRec::kNoPosition : rec.position + 1;
}

// Before an owner row goes or gives up its value: the membership rows of other records (or
// other sets) tied to that value, which go with it and must be written again.
void noteTiedRows(ZTRec& row, std::vector<ZTRec::Sharer>* out) {
    if (row.isLinkRow() || row.isMemberRow() || row.valueID == 0) return;
    std::vector<ZTRec::Sharer> sharers;
    ZTRec probe(row.file);
    if (!probe.getSharers(row.valueID, &sharers)) return;
    for (const ZTRec::Sharer& s : sharers)
        if ((s.flags & ZTRec::kFlagMember) && (s.flags & ZTRec::kFlagLink)) out->push_back(s);
}

}  // namespace

bool ZTAtom::reloadRow(uint32_t recordID_, uint32_t fieldID, uint32_t valueID_) {
    const int32_t row = rowNumber();
    if (row < 1) return false;
    table4* t = file->getRowTable();
    if (table4go(t, row) != 0) {
        (void)error4setCode(file->getEnv(), 0);
        return false;
    }
    if (table4recordBuffer(t)[0] != kLive) return false;
    unpack();
    return recordID == recordID_ && typeID == fieldID && valueID == valueID_;
}

bool ZTAtom::rowStillOf(uint32_t recordID_) const {
    const int32_t row = rowNumber();
    if (row < 1 || recordID_ == 0) return false;
    table4* t = file->getRowTable();
    if (table4go(t, row) != 0) {
        (void)error4setCode(file->getEnv(), 0);
        return false;
    }
    if (table4recordBuffer(t)[0] != kLive) return false;
    ZTRec stored(file);
    stored.unpack();
    return stored.recordID == recordID_;
}

bool ZTAtom::removeAt(uint32_t recordID_, uint32_t fieldID, uint32_t position_, bool onOwnRow,
                      std::vector<ZTRec::Sharer>* dependents) {
    const bool member = (mode & kModeMembers) != 0;
    if (onOwnRow && position == position_ && reloadRow(recordID_, fieldID, valueID) &&
        isMemberRow() == member) {
        noteTiedRows(*this, dependents);
        return deleteRow();
    }
    ZTRec rec(file);
    int r = rec.seek(recordID_, fieldID, position_, "");
    for (int left = file->getRowCount() + 1; r == 0 && left > 0; --left) {
        if (rec.recordID != recordID_ || rec.typeID != fieldID || rec.position != position_) break;
        if (rec.isMemberRow() == member) {
            noteTiedRows(rec, dependents);
            return rec.deleteRow();
        }
        r = rec.skip(1);
    }
    return true;  // nothing stands there
}

int ZTAtom::write(uint32_t recordID_, uint32_t fieldID, uint32_t position_, const char* text,
                  uint32_t shareValueID, bool asNew, bool keepSetTies, bool noRenumber,
                  uint32_t addToSetID, bool soleRow, bool chainRead) {
    const uint32_t top = isValid() ? file->getMaxID() : 0;
    if (!isValid() || file->isReadOnly() || fieldID == 0 || fieldID > top || recordID_ > top ||
        position_ == 0 || position_ > kAppend)
        return kWriteFailed;
    ZTWriteLock lock(file);
    if (!lock) return kWriteFailed;

    bool empty = !text || !*text;
    const uint8_t rowFlags =
        uint8_t((mode & kModeMembers ? kFlagMember : 0) | (shareValueID ? kFlagLink : 0));
    if (recordID_ == 0) asNew = true;

    // Where the cursor stood: its row counts as the value written over only when it is a row of
    // the same record and field (a cursor left on another record's row is never changed).
    const bool onRow = rowNumber() >= 1 && recordID == recordID_ && typeID == fieldID;
    const uint32_t oldPosition = position, oldValue = valueID;
    const int32_t oldRow = rowNumber();

    // The sets tied to the field's values, noted before the first change that may move a tie.
    // Looking them up costs more than many a write, and a row written over in place that keeps
    // its value number leaves every tie as it stands: that write never needs them.
    ZTArray<unsigned long> sets;
    bool setsNoted = false;
    auto noteSets = [&]() {
        if (setsNoted) return;
        setsNoted = true;
        if (keepSetTies && recordID_ != 0) file->collectTiedSets(recordID_, fieldID, &sets);
    };

    int result = kWriteFailed;
    bool ok = true;
    bool shifted = false;
    ZTStr shared;
    std::vector<ZTRec::Sharer> dependents;
    uint32_t rewritten = 0;  // the value number of the row written over in place
    bool ownUnread = false;  // the own row's text was not compared before it was written
    bool ownKept = false;    // the own row is written over in place, nothing written before
    if (empty && shareValueID == 0 && !asNew) {
        noteSets();
        ok = position_ == kAppend || removeAt(recordID_, fieldID, position_, onRow, &dependents);
        result = kWriteRemoved;
    } else {
        if ((mode & kModePositioned) && onRow && !asNew && position_ == oldPosition + 1 &&
            oldPosition < ZTRec::kNoPosition)
            position_ = oldPosition;  // before the next value is where it stands already
        if (asNew || !onRow || position_ != oldPosition) {
            if (position_ == kAppend) {
                position_ = recordID_ == 0 ? 1 : appendPosition(file, recordID_, fieldID);
            } else if (mode == kModePositioned && !noRenumber && recordID_ != 0 &&
                       position_ < ZTRec::kNoPosition) {
                // A record still to be made has no values to shift.
                noteSets();
                ZTRec shifter(file);
                shifted = shifter.renumber(recordID_, fieldID, position_);
            }
        }
        if (empty && shareValueID != 0) {
            ZTRec reader(file);
            if (!reader.readChain(shareValueID, &shared)) ok = false;
            text = shared.text;
            empty = shared.length == 0;
        }
        if (!text) text = "";
        if (!ok) {
            result = kWriteFailed;
        } else if (recordID_ == 0) {
            recordID_ = file->newRecordID();
            result = recordID_ != 0 ? kWriteCreated : kWriteFailed;
        } else {
            const bool member = (mode & kModeMembers) != 0;
            // The cursor's own row standing at the position is the one a seek would find there
            // (positions stay unique): it is written over in place, and whether it holds the
            // text already is found out while its chain is written instead of read first.
            const bool ownInPlace = !asNew && onRow && position_ == oldPosition &&
                                    position_ < ZTRec::kNoPosition &&
                                    reloadRow(recordID_, fieldID, oldValue) &&
                                    position == position_ && isMemberRow() == member;
            ownUnread = ownInPlace && shareValueID == 0 && flags == uint8_t(rowFlags | kFlagBase) &&
                        !noRenumber;
            ownKept = ownInPlace;
            // The own row alone in its field: no other row can hold the text.
            if (!noRenumber && !(ownUnread && soleRow)) {
                ZTRec same(file);
                const bool positioned = (mode & kModePositioned) != 0;
                if (same.hasValue(recordID_, fieldID, position_, text, shareValueID, rowFlags,
                                  !positioned, ownUnread ? oldRow : 0)) {
                    noteSets();
                    // A value edited into one the record already holds: the edited row goes.
                    if (!asNew && onRow && same.rowNumber() != oldRow &&
                        reloadRow(recordID_, fieldID, oldValue)) {
                        noteTiedRows(*this, &dependents);
                        ok = deleteRow();
                    }
                    ZTRec::copyFrom(same);
                    rewritten = valueID;
                    if (!positioned || same.position == position_) {
                        result = kWriteStored;
                    } else {
                        position = position_;
                        ok = ok && writeRow();
                        result = kWriteMoved;
                    }
                }
            }
            if (result == kWriteFailed && ok) {
                // Written over: the row standing at the position (positions stay unique),
                // else the cursor's own row, which moves there.
                bool inPlace = ownInPlace;
                if (!asNew) {
                    if (!inPlace && position_ < ZTRec::kNoPosition) {
                        ZTRec at(file);
                        int r = at.seek(recordID_, fieldID, position_, "");
                        for (int left = file->getRowCount() + 1; r == 0 && left > 0; --left) {
                            if (at.recordID != recordID_ || at.typeID != fieldID ||
                                at.position != position_)
                                break;
                            if (at.isMemberRow() == member) {
                                inPlace = true;
                                ZTRec::copyFrom(at);
                                break;
                            }
                            r = at.skip(1);
                        }
                    }
                    if (!inPlace && onRow) inPlace = reloadRow(recordID_, fieldID, oldValue);
                }
                result = inPlace ? kWriteChanged : kWriteAdded;
            }
        }
        if (result >= kWriteAdded && result <= kWriteChanged && ok) {
            rewritten = result == kWriteChanged ? valueID : 0;
            // Only a row that keeps its value number leaves the ties as they are: the same link
            // written again, or a text written over into the chain the row owns (tried first;
            // the ties are noted when the row turns out to own none).
            const bool ownChainFirst = result == kWriteChanged && shareValueID == 0;
            if (!ownChainFirst && !(result == kWriteChanged && valueID == shareValueID)) noteSets();
            if (result != kWriteChanged)
                ok = newRow();
            else if (shareValueID != 0 && valueID != shareValueID)
                noteTiedRows(*this, &dependents);
            if (ok) {
                recordID = recordID_;
                typeID = fieldID;
                position = position_;
                flags = uint8_t(rowFlags | kFlagBase);
                const int own = ownChainFirst ? writeOwnValue(text, chainRead && ownKept) : -1;
                if (own < 0) {
                    if (ownChainFirst) noteSets();
                    ok = writeValue(text, shareValueID);
                } else {
                    ok = own > 0;
                }
                if (own == 2 && ownUnread) {
                    // The own row held the text already: what the check for a value the record
                    // holds would have found.
                    noteSets();
                    result = kWriteStored;
                }
            }
        }
        if (!ok) result = kWriteFailed;
        if (shifted && result >= kWriteAdded) result = kWriteMoved;
    }

    // The atom takes the value written.
    state = 0;
    linkRecord = 0;
    linkField = 0;
    value.assign(result == kWriteRemoved ? "" : text);
    if (result == kWriteRemoved) {
        init(file);
        value.clear();
        recordID = recordID_;
        typeID = fieldID;
        position = position_;
    }
    if (result >= kWriteStored && isLinkRow() && !(mode & kModeNoLinks)) {
        ZTRec owner(file);
        if (owner.findOwner(valueID) == 0) {
            linkRecord = owner.recordID;
            linkField = owner.typeID;
        }
    }
    unlockTables();
    if (result == kWriteFailed) return result;
    state = recordFlags(recordID) | fieldFlags(typeID);

    if (keepSetTies && sets.size > 0) {
        const bool unchanged = (result == kWriteChanged || result == kWriteMoved) &&
                               rewritten != 0 && valueID == rewritten;
        if (result == kWriteAdded || result == kWriteCreated)
            ok = file->retieSets(recordID_, fieldID, &sets, false);
        else if (!unchanged)
            ok = file->retieSets(recordID_, fieldID, &sets, true);
    }
    for (const ZTRec::Sharer& d : dependents)
        if (d.recordID != recordID_ || sets.find(d.typeID) < 0)
            ok = file->addToSet(d.recordID, d.typeID, true) && ok;
    if (addToSetID != 0 && (result == kWriteAdded || result == kWriteCreated) &&
        (result == kWriteCreated || file->getSetFirstField(addToSetID) == fieldID))
        ok = file->addToSet(recordID_, addToSetID, true) && ok;
    if (!lock.release() || !ok) return kWriteFailed;
    return result;
}
