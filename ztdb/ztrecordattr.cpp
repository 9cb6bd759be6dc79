// Record images: value attributes, display kinds, display and choice texts, the summary, the
// record title and the creation and modification stamps.
#include <cstring>
#include <string>

#include "ztdb/ztcache.h"
#include "ztdb/ztdatetime.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztkey.h"
#include "ztdb/ztname.h"
#include "ztdb/ztrecord.h"
#include "ztdb/ztsystem.h"

namespace {

constexpr char kAttrMarker = 4;
// Choice labels are picked by the bits of a 32-bit number.
constexpr uint32_t kMaxLabels = 32;

std::string headOf(const char* text) {
    ZTStr whole;
    whole.assign(text);
    ZTStr head;
    whole.getTag(0, &head);
    return head.text;
}

bool beginsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// An '@' after the first character, then a '.' that neither follows the '@' at once nor ends
// the text.
bool looksLikeMailAddress(const std::string& text) {
    const size_t at = text.find('@');
    if (at == std::string::npos || at == 0) return false;
    for (size_t dot = text.find('.', at + 2); dot != std::string::npos;
         dot = text.find('.', dot + 1))
        if (dot + 1 < text.size()) return true;
    return false;
}

}  // namespace

// ---- attributes ----

ZTAtomCache* ZTRecord::valueOrRange(uint32_t i) {
    if (ztfile) return getValue(i);
    if (i < values.size) return values[i];
    lastResult = kErrorRange;
    return nullptr;
}

ZTStr* ZTRecord::formatAttrKey(uint32_t attr, ZTStr* out) {
    out->format(12, "%c%u%c", kAttrMarker, attr, kAttrMarker);
    return out;
}

bool ZTRecord::findAttr(const ZTStr& section, uint32_t attr, uint32_t* start, uint32_t* length,
                        uint32_t* textStart) {
    ZTStr key;
    formatAttrKey(attr, &key);
    const char* hit = std::strstr(section.text, key.text);
    if (!hit) return false;
    const uint32_t s = uint32_t(hit - section.text);
    const uint32_t t = s + key.length;
    const char* next = std::strchr(section.text + t, kAttrMarker);
    const uint32_t end = next ? uint32_t(next - section.text) : section.length;
    if (start) *start = s;
    if (length) *length = end - s;
    if (textStart) *textStart = t;
    return true;
}

bool ZTRecord::getOwnAttr(uint32_t i, uint32_t attr, ZTStr* out) {
    out->clear();
    const ZTAtomCache* v = valueOrRange(i);
    if (!v) return false;
    ZTStr whole;
    whole.assign(v->getText());
    ZTStr section;
    whole.getTag('a', &section);
    uint32_t start = 0, length = 0, text = 0;
    if (!findAttr(section, attr, &start, &length, &text)) return false;
    ZTStr value;
    value.assign(std::string(section.text + text, start + length - text).c_str());
    *out = value;
    return true;
}

bool ZTRecord::hasOwnAttr(uint32_t i, uint32_t attr) {
    ZTStr ignored;
    return getOwnAttr(i, attr, &ignored);
}

bool ZTRecord::getValueAttr(uint32_t i, uint32_t attr, ZTStr* out, uint32_t mode) {
    out->clear();
    if (!valueOrRange(i)) return false;
    if ((mode & kAttrOwn) && getOwnAttr(i, attr, out)) return true;
    if (mode & kAttrOfField) {
        ZTField* field = getField(i);
        if (field && field->hasAttr(attr)) {
            out->assign(field->getAttr(attr));
            return true;
        }
    }
    return false;
}

bool ZTRecord::hasValueAttr(uint32_t i, uint32_t attr, uint32_t mode) {
    ZTStr ignored;
    return getValueAttr(i, attr, &ignored, mode);
}

// ---- display ----

int ZTRecord::classifyText(const char* text) {
    if (!ztfile || !text) return kKindText;
    // The form is that of the typed text (the 'i' section, else the head): a value's attribute
    // section must not turn a number or a date into plain text.
    ZTStr whole;
    whole.assign(text);
    ZTStr typed;
    whole.getTag('i', &typed);
    if (typed.length == 0) whole.getTag(0, &typed);
    switch (ztfile->guessValueType(typed.text)) {
        case kValueNumber:
            return kKindNumber;
        case kValueCheckNumber:
            return kKindCheckNumber;
        case kValueDate:
            return kKindDate;
        default:
            break;
    }
    const std::string head = headOf(text);
    return ztfile->hasProgramFor(head.c_str(), nullptr, false) ? kKindDocument : kKindText;
}

int ZTRecord::getValueKind(uint32_t i) {
    ZTAtomCache* v = valueOrRange(i);
    if (!v) return kKindText;
    if (v->kind != -1) return v->kind;
    if (!ztfile) return kKindText;
    static constexpr uint32_t kKindAttrs[] = {kAttrDocument, kAttrWebAddress, kAttrMailAddress};
    int kind = -1;
    for (uint32_t mode : {kAttrOwn, kAttrOfField})
        for (int k = 0; kind < 0 && k < 3; ++k)
            if (hasValueAttr(i, kKindAttrs[k], mode)) kind = kKindDocument + k;
    if (kind < 0 && isLink(i)) kind = kKindLink;
    if (kind < 0) {
        ZTStr text;
        text.assign(values[i]->getText());
        kind = classifyText(text.text);
    }
    if (kind == kKindText) {
        const std::string head = headOf(values[i]->getText());
        if (beginsWith(head, "http://") || beginsWith(head, "www."))
            kind = kKindWebAddress;
        else if (looksLikeMailAddress(head))
            kind = kKindMailAddress;
    }
    values[i]->kind = kind;
    return kind;
}

ZTStr* ZTRecord::getDisplayText(uint32_t i, ZTStr* out, bool formatted) {
    out->clear();
    const ZTAtomCache* v = valueOrRange(i);
    if (!v) return out;
    out->assign(headOf(v->getText()).c_str());
    if (formatted && getValueKind(i) == kKindDate) {
        ZTDateTime date;
        // A head that is no date itself (the date was in another section) shows as it is.
        if (date.parse(out->text)) date.format(out, true);
    }
    return out;
}

ZTStr* ZTRecord::getChoiceText(uint32_t i, ZTStr* out, bool withLabels) {
    out->clear();
    const ZTAtomCache* v = valueOrRange(i);
    if (!v) return out;
    const std::string head = headOf(v->getText());
    if (withLabels && hasValueAttr(i, kAttrNoTitle, kAttrOfField)) return out;
    const bool byBits = withLabels && hasValueAttr(i, kAttrFlags, kAttrOfField);
    const bool byChoice = withLabels && !byBits && hasValueAttr(i, kAttrChoices, kAttrOfField);
    if (!byBits && !byChoice) {
        out->assign(head.c_str());
        return out;
    }
    ZTStr number;
    number.assign(head.c_str());
    uint32_t bits = number.toInt();
    ZTStr fallback;
    if (byChoice && bits == 0 && getValueAttr(i, kAttrChoiceDefault, &fallback, kAttrOfField))
        bits = fallback.toInt();
    ZTStr labels;
    getValueAttr(i, byBits ? kAttrFlags : kAttrChoices, &labels, kAttrOfField);
    std::string shown;
    uint32_t k = 0;
    for (const char* p = labels.text; *p && k < kMaxLabels;) {
        const char* end = std::strchr(p, kAttrMarker);
        const size_t n = end ? size_t(end - p) : std::strlen(p);
        if (n > 0) {
            if ((bits >> k) & 1u) {
                if (!shown.empty()) shown += ", ";
                shown.append(p, n);
            }
            ++k;
        }
        p += n + (end ? 1 : 0);
    }
    out->assign(shown.c_str());
    return out;
}

ZTStr* ZTRecord::getSummary(ZTStr* out, uint32_t n) {
    std::string joined;
    uint32_t taken = 0;
    ZTStr text;
    for (uint32_t i = 0; taken < n && (ztfile ? loadValues(i) : i < values.size); ++i) {
        getChoiceText(i, &text, true);
        if (text.length == 0) continue;
        if (taken++ > 0) joined += ", ";
        joined += text.text;
    }
    out->assign(joined.c_str());
    return out;
}

// ---- title ----

uint32_t ZTRecord::getSetID() {
    if (setIDCache != 0) return setIDCache;
    if (!ztfile) return 0;
    const int at = indexOf(kFieldSetLink, 0);
    if (at < 0) return 0;
    const ZTAtomCache* v = values[uint32_t(at)];
    return v->isLink() ? v->linkRecordID : 0;
}

namespace {

// The first value of the set's fields, in the set's order, that gives a choice text; -1.
int firstNonEmptyOfSet(ZTRecord& record, ZTFile* file, uint32_t setID) {
    ZTSet fields(file, setID);
    if (!fields.load()) return -1;
    ZTStr text;
    for (uint32_t k = 0; k < fields.size; ++k) {
        const int first = record.indexOf(fields[k], 0);
        if (first < 0) continue;
        const int last = record.lastIndexOf(fields[k], uint32_t(first));
        for (int i = first; i <= last; ++i)
            if (record.getChoiceText(uint32_t(i), &text, true)->length != 0) return i;
    }
    return -1;
}

}  // namespace

ZTStr* ZTRecord::computeTitle(ZTStr* out) {
    out->clear();
    if (!ztfile) return out;
    ZTStr tmpl;
    int found = -1;
    // A set with a title template keeps it; one without gives its first field with a text.
    auto probe = [&](uint32_t setID) -> uint32_t {
        if (setID == 0) return 0;
        if (ztfile->getValue(kFieldTitleTemplate, setID, &tmpl, true)) return setID;
        tmpl.clear();
        found = firstNonEmptyOfSet(*this, ztfile, setID);
        return found >= 0 ? setID : 0;
    };
    uint32_t setID = probe(getSetID());
    if (setID == 0 && recordNumber != 0) setID = probe(ztfile->findBestSet(recordNumber, 0));
    if (found >= 0) return getChoiceText(uint32_t(found), out, true);
    tmpl.getTag(0, &tmpl);
    if (setID != 0 && tmpl.text[0] == '=') {
        std::string title;
        ZTStr head;
        for (const char* p = tmpl.text + 1; *p;) {
            const char* open = std::strchr(p, '(');
            if (!open) {
                title += p;
                break;
            }
            title.append(p, size_t(open - p));
            const char* close = std::strchr(open + 1, ')');
            if (!close) break;  // an unclosed name ends the title
            const std::string name(open + 1, size_t(close - open - 1));
            const int at = name.empty() ? -1 : indexOfFieldName(name.c_str(), 0);
            if (at >= 0) title += headOf(values[uint32_t(at)]->getText());
            p = close + 1;
        }
        out->assign(title.c_str());
        return out;
    }
    ZTStr text;
    for (uint32_t i = 0; loadValues(i); ++i) {
        if (values[i]->getFieldID() <= 1000) continue;
        if (getChoiceText(i, &text, true)->length != 0) {
            *out = text;
            break;
        }
    }
    return out;
}

bool ZTRecord::setTitle(const char* text) {
    const bool empty = !text || !*text;
    int at = -1;
    // No title value is made only to hold nothing.
    if (!findOrAddValue(kFieldTitle, nullptr, &at, empty)) return empty;
    return setText(uint32_t(at), text);
}

bool ZTRecord::updateTitle(ZTStr* out) {
    computeTitle(out);
    return setTitle(out->text);
}

bool ZTRecord::refreshTitle() {
    ZTStr title;
    return updateTitle(&title);
}

// ---- stamps ----

int ZTRecord::addOutsideValue(uint32_t fieldID) {
    if (structure.locate(fieldID) != ZTSet::kAbsent) return insertValue(kNoIndex, fieldID, 0);
    // After the structure's fields the others stand by ascending ID, as the file gives them.
    uint32_t at = 0;
    for (; loadValues(at); ++at) {
        const uint32_t f = values[at]->getFieldID();
        if (f > fieldID && structure.locate(f) == ZTSet::kAbsent) break;
    }
    // Adding a title or a stamp must not change the set's field list.
    const ZTSet before = structure;
    const uint32_t changed = structureChanged;
    const int i = insertValue(at, fieldID, kStateOutside);
    structure = before;
    structureChanged = changed;
    if (i >= 0) values[uint32_t(i)]->outsideStructure = 1;
    return i;
}

bool ZTRecord::findOrAddValue(uint32_t fieldID, ZTRecord** rec, int* index, bool noAdd) {
    if (rec) *rec = this;
    if (index) *index = -1;
    if (!ZT_ASSERT(ztfile != 0)) return false;
    int at = indexOf(fieldID, 0);
    if (at < 0 && moreValues) {
        // Past the values a view loads: a second value must not be made beside a stored one.
        loadAllValues();
        at = indexOf(fieldID, 0);
    }
    if (at < 0 && !noAdd) at = addOutsideValue(fieldID);
    if (index) *index = at;
    return at >= 0;
}

bool ZTRecord::setStamp(uint32_t fieldID, const char* text) {
    if (!ZT_ASSERT(ztfile != 0)) return false;
    if (text && ztfile->guessValueType(text) != kValueDate) return false;
    int at = -1;
    if (!findOrAddValue(fieldID, nullptr, &at, false)) return false;
    ZTStr now;
    return setText(uint32_t(at), text ? text : getNowStamp(&now));
}

void ZTRecord::writeBackStamps(bool wasModified) {
    // A record with nothing to store gets no stamp: a stamp alone would store an empty record.
    if (wasModified && recordNumber == 0 && (options & kOptionCreatedStamp)) stampCreated();
    if (options & kOptionTitle) refreshTitle();
    if (wasModified && (options & kOptionModifiedStamp)) stampModified();
}
