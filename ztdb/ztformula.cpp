// The formula evaluator, its function library, the set-order record finder and ZTFormula.
#include "ztdb/ztformula.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>

#include "ztdb/ztatom.h"
#include "ztdb/ztdatetime.h"
#include "ztdb/ztfile.h"
#include "ztdb/ztfilter.h"
#include "ztdb/ztname.h"
#include "ztdb/ztrecord.h"

// ---- numbers ----

namespace {

// Cuts trailing zeros after a point, then the point; "-0" becomes "0".
std::string trimDecimals(std::string s) {
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0" || s.empty()) s = "0";
    return s;
}

}  // namespace

namespace ztformula {

bool readNumber(const char* text, double* v) {
    if (!text) return false;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char* start = p;
    int digits = 0;
    bool point = false;
    for (;; ++p) {
        if (*p >= '0' && *p <= '9') {
            ++digits;
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        if (*q == '+' || *q == '-') ++q;
        if (!(*q >= '0' && *q <= '9')) return false;
        while (*q >= '0' && *q <= '9') ++q;
        p = q;
    }
    if (*p) return false;
    double value = 0;
    auto [end, ec] = std::from_chars(start, p, value);
    if (ec != std::errc() || end != p) return false;
    *v = negative ? -value : value;
    return true;
}

std::string writeNumber(double v) {
    if (!std::isfinite(v)) return kFormulaError;
    if (v == 0) return "0";
    // Fixed notation of a large number can run to 300 digits and more.
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 14);
    if (ec != std::errc()) return kFormulaError;
    return trimDecimals(std::string(buf, end));
}

}  // namespace ztformula

namespace {

using ztformula::readNumber;
using ztformula::writeNumber;

// Upper and lower case of Windows-1252 text, byte by byte.
struct CaseTables {
    unsigned char upper[256];
    unsigned char lower[256];
    CaseTables() {
        for (int c = 0; c < 256; ++c) upper[c] = lower[c] = static_cast<unsigned char>(c);
        auto pair = [this](int big, int small) {
            upper[small] = static_cast<unsigned char>(big);
            lower[big] = static_cast<unsigned char>(small);
        };
        for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDE; ++c)
            if (c != 0xD7) pair(c, c + 32);
        pair(0x8A, 0x9A);  // S caron
        pair(0x8C, 0x9C);  // OE
        pair(0x8E, 0x9E);  // Z caron
        pair(0x9F, 0xFF);  // Y diaeresis
    }
};
const CaseTables kCase;

// The head of a stored text: what stands before its first tagged section.
std::string headOf(const char* text) {
    if (!text) return std::string();
    const char* tag = std::strchr(text, ZTStr::kTagEscape);
    return tag ? std::string(text, size_t(tag - text)) : std::string(text);
}

// Whole numbers that fit the engine's 32-bit IDs.
bool readId(const std::string& text, uint32_t* id) {
    double v;
    if (!readNumber(text.c_str(), &v) || v < 0 || v > 4294967295.0 || v != std::floor(v))
        return false;
    *id = uint32_t(v);
    return true;
}

bool readInt(const std::string& text, int64_t* n) {
    double v;
    if (!readNumber(text.c_str(), &v) || v < -1e15 || v > 1e15) return false;
    *n = int64_t(std::trunc(v));
    return true;
}

// x rounded to n decimals, halves away from zero, on the shortest decimal form of x (so that
// 2.345, which is stored a little below, still rounds up as written).
std::string roundDecimal(double x, int n) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
    if (ec != std::errc()) return kFormulaError;
    std::string s(buf, end);
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) s.erase(0, 1);
    size_t point = s.find('.');
    if (point == std::string::npos) {
        point = s.size();
        s += '.';
    }
    const size_t keep = point + 1 + size_t(n);
    while (s.size() < keep + 1) s += '0';
    const bool up = s[keep] >= '5';
    s.resize(keep);
    if (up) {
        // Carry from the last kept digit leftwards over the point.
        int i = int(s.size()) - 1;
        for (; i >= 0; --i) {
            if (s[size_t(i)] == '.') continue;
            if (s[size_t(i)] == '9') {
                s[size_t(i)] = '0';
            } else {
                ++s[size_t(i)];
                break;
            }
        }
        if (i < 0) s.insert(s.begin(), '1');
    }
    if (negative) s.insert(s.begin(), '-');
    return trimDecimals(std::move(s));
}

ZTSetOrderFinder gSetOrderFinder;
ZTFormulaLinks gFileLinks;

}  // namespace

// ---- record finder ----

namespace {

// Whether the record is a member of the set.
bool isMember(ZTFile* file, uint32_t recordID, uint32_t setID) {
    ZTAtom rows(file, ZTAtom::kModeMembers | ZTAtom::kModeKeysOnly);
    return rows.find(recordID, setID, 0, "", nullptr, false) == 0 && rows.recordID == recordID &&
           rows.typeID == setID;
}

}  // namespace

uint32_t ZTSetOrderFinder::findRecord(ZTFile* file, uint32_t setID, uint32_t fieldID,
                                      const char* value) {
    if (!file || !file->isUsable() || !setID || !fieldID || !value || !*value) return 0;
    // The records that hold the value at all, through the field's value index: the rows of the
    // value's key whose text is the value. Usually none or one, which settles it at once.
    std::unordered_set<uint32_t> holders;
    {
        char key[256];
        file->makeKey(value, key, true, false, false, false);
        const size_t lenKey = size_t(file->getLenKey());
        ZTReadBracket bracket(file);
        // The row cursor, not a value cursor: a link row stays where it stands in the index
        // (its key is the linked text's) instead of being replaced by its owner.
        ZTRec rows(file);
        ZTStr text;
        for (int r = rows.seekInType(fieldID, value, false, false, false); r == 0;
             r = rows.skipInType(1, false, false)) {
            // The seek lands on the first row of the key without its tail: rows before the
            // value's own key are passed over.
            const char* d = rows.rowKey();
            const int order = d ? std::memcmp(d, key, lenKey) : 1;
            if (rows.typeID != fieldID || order > 0) break;
            if (order == 0 && rows.readChain(rows.valueID, &text) && headOf(text.text) == value)
                holders.insert(rows.recordID);
        }
    }
    if (holders.empty()) return 0;
    if (holders.size() == 1) {
        const uint32_t only = *holders.begin();
        return isMember(file, only, setID) ? only : 0;
    }
    // Several: the first of them in set order, each tested with the exact condition.
    CFilterElem exact(fieldID, file->getKeyLengths());
    exact.setExact(value);
    std::unordered_set<uint32_t> tested;
    ZTAtom members(file, ZTAtom::kModeMembers | ZTAtom::kModeKeysOnly);
    ZTAtom values(file, 0);
    for (int r = members.findValue(setID, "", false, false, false, 0); r == 0;
         r = members.findNextValue(&members, 1, false)) {
        if (members.typeID != setID) break;
        const uint32_t record = members.recordID;
        if (!holders.count(record) || !tested.insert(record).second) continue;
        exact.reset();
        for (int v = values.find(record, fieldID, 0, "", nullptr, false); v == 0;
             v = values.findNext(&values, 1, nullptr, false)) {
            if (values.recordID != record || values.typeID != fieldID) break;
            if (exact.test(headOf(values.value.text).c_str(), true, true)) return record;
        }
    }
    return 0;
}

// ---- link steps ----

uint32_t ZTFormulaLinks::linkTarget(ZTRecord* record, uint32_t i) {
    ZTAtomCache* v = record ? record->getValue(i) : nullptr;
    return v && v->isLink() ? v->linkRecordID : 0;
}

uint32_t ZTFormulaLinks::storedLinkTarget(ZTFile* file, uint32_t recordID, uint32_t fieldID) {
    if (!file || !file->isUsable() || !recordID || !fieldID) return 0;
    ZTAtom atom(file, ZTAtom::kModeKeysOnly);
    if (atom.find(recordID, fieldID, 0, "", nullptr, false) != 0) return 0;
    if (atom.recordID != recordID || atom.typeID != fieldID || !atom.isLinkRow()) return 0;
    return atom.linkRecord;
}

bool ZTFormulaLinks::storedText(ZTFile* file, uint32_t recordID, uint32_t fieldID, ZTStr* out) {
    out->clear();
    if (!file || !file->isUsable() || !recordID || !fieldID) return false;
    if (!file->getValue(fieldID, recordID, out, true)) return false;
    out->assign(headOf(out->text).c_str());
    return true;
}

bool ZTFormulaLinks::storeResult(ZTRecord* record, uint32_t i, const char* text) {
    return record && record->setText(i, text, true);
}

// ---- the run ----

// One run of code against a record: the working code, the stack and the budget.
class ZTExpression::Run {
  public:
    Run(ZTExpression* e, ZTRecord* record, uint32_t valueIndex)
        : e_(e), record_(record), valueIndex_(valueIndex) {
        file_ = record && record->getFile() ? record->getFile() : e->file_;
        finder_ = e->finder_ ? e->finder_ : &gSetOrderFinder;
        links_ = e->links_ ? e->links_ : &gFileLinks;
    }

    bool run(const char* code) {
        frames_.clear();
        unread_ = 0;
        insert(code ? std::string(code) : std::string());
        uint64_t steps = 0;
        int op;
        while ((op = next()) >= 0) {
            if (++steps > kMaxSteps || unread_ > kMaxWorkingCode) {
                // Code that keeps inserting itself: the whole result is an error.
                e_->output_.assign(kFormulaError);
                stack_().clear();
                return false;
            }
            if (op == ' ' || op == '\t' || op == '\r' || op == '\n') continue;
            step(static_cast<unsigned char>(op));
        }
        if (damaged_) {
            e_->output_.assign(kFormulaError);
            stack_().clear();
        }
        return true;
    }

    bool anyFieldRead = false;
    bool allFound = true;

  private:
    std::vector<std::string>& stack_() { return e_->stack_; }

    void push(std::string v) { stack_().push_back(std::move(v)); }
    void pushNumber(double v) { push(writeNumber(v)); }
    void pushError() { push(kFormulaError); }

    // Checks the top n values: fewer than n, or an error among them (when checkErrors), pops
    // them and pushes the error. Otherwise copies them into args (first to last) and pops.
    bool take(uint32_t n, std::string* args, bool checkErrors = true) {
        auto& s = stack_();
        bool ok = s.size() >= n;
        if (ok && checkErrors)
            for (size_t i = s.size() - n; i < s.size(); ++i)
                if (s[i] == kFormulaError) ok = false;
        if (!ok) {
            s.resize(s.size() >= n ? s.size() - n : 0);
            pushError();
            return false;
        }
        for (uint32_t i = 0; i < n; ++i) args[i] = std::move(s[s.size() - n + i]);
        s.resize(s.size() - n);
        return true;
    }

    // The working code is a stack of pieces: inserted code is read first, then what followed
    // the insertion, so an insert costs its own length only, however long the rest is.
    void insert(std::string code) {
        if (code.empty()) return;
        unread_ += code.size();
        frames_.push_back({std::move(code), 0});
    }

    int next() {
        while (!frames_.empty() && frames_.back().pos >= frames_.back().code.size())
            frames_.pop_back();
        if (frames_.empty()) return -1;
        --unread_;
        Frame& f = frames_.back();
        return static_cast<unsigned char>(f.code[f.pos++]);
    }

    void skipRest() {
        frames_.clear();
        unread_ = 0;
    }

    bool readLiteral() {
        if (unread_ < 4) return false;
        uint32_t n = 0;
        for (int i = 0; i < 4; ++i) {
            const int c = next();
            if (c < '0' || c > '9') return false;
            n = n * 10 + uint32_t(c - '0');
        }
        if (unread_ < n) return false;
        std::string text;
        text.reserve(n);
        while (text.size() < n) {
            Frame& f = frames_.back();
            if (f.pos >= f.code.size()) {
                frames_.pop_back();
                continue;
            }
            const size_t take = std::min<size_t>(n - text.size(), f.code.size() - f.pos);
            text.append(f.code, f.pos, take);
            f.pos += take;
            unread_ -= take;
        }
        push(std::move(text));
        return true;
    }

    // The index of the value of the field that a read at this point means: the value index for
    // the current field, the first value for others. -1 with *empty when the field has none;
    // -1 without it when the index is past the field's values.
    int valueOf(uint32_t field, bool* empty) {
        *empty = false;
        if (e_->currentField_ == 0) e_->currentField_ = field;
        const uint32_t index = field == e_->currentField_ ? valueIndex_ : 0;
        const int first = record_->indexOf(field);
        if (first < 0) {
            *empty = true;
            return -1;
        }
        const uint64_t i = uint64_t(first) + index;
        if (i >= record_->getValueCount() || record_->getTypeID(uint32_t(i)) != field) return -1;
        return int(i);
    }

    void step(unsigned char op) {
        std::string a[3];
        switch (op) {
            case 's':
                if (!readLiteral()) {
                    // A damaged literal: nothing after it can be read.
                    damaged_ = true;
                    skipRest();
                }
                return;
            case 'o':
                if (stack_().empty()) {
                    e_->output_.insert(ZTStr::kEnd, kFormulaError);
                } else {
                    e_->output_.insert(ZTStr::kEnd, stack_().back().c_str());
                    stack_().pop_back();
                }
                return;
            case 'v':
            case 'G': {
                if (!take(1, a)) return;
                uint32_t field;
                if (!readId(a[0], &field) || field == 0 || !record_) return pushError();
                anyFieldRead = true;
                bool empty;
                const int i = valueOf(field, &empty);
                if (op == 'G') {
                    const uint32_t target = i >= 0 ? links_->linkTarget(record_, uint32_t(i)) : 0;
                    return push(std::to_string(target));
                }
                if (i >= 0) return push(headOf(record_->getText(uint32_t(i))));
                if (empty) return push(std::string());
                allFound = false;
                return pushError();
            }
            case 't':
            case 'T': {
                if (!take(1, a)) return;
                uint32_t id = 0;
                if (file_ && file_->isUsable())
                    id = op == 't' ? file_->findField(a[0].c_str()) : file_->findSet(a[0].c_str());
                // A field or set may also be given by its ID, as in link(12, 5).
                if (!id && !readId(a[0], &id)) id = 0;
                return id ? push(std::to_string(id)) : pushError();
            }
            case 'l':
                if (take(1, a)) pushNumber(double(a[0].size()));
                return;
            case 'm': {
                if (!take(3, a)) return;
                int64_t start, count;
                if (!readInt(a[1], &start) || !readInt(a[2], &count)) return pushError();
                if (start < 1) start = 1;
                if (count <= 0 || uint64_t(start) > a[0].size()) return push(std::string());
                return push(a[0].substr(size_t(start - 1), size_t(count)));
            }
            case 'a':
                if (take(2, a)) push(a[0] + a[1]);
                return;
            case 'f':
                if (take(2, a)) {
                    const size_t at = a[1].find(a[0]);
                    pushNumber(at == std::string::npos ? 0 : double(at + 1));
                }
                return;
            case '+': {
                if (!take(2, a)) return;
                double x, y;
                if (readNumber(a[0].c_str(), &x) && readNumber(a[1].c_str(), &y))
                    return pushNumber(x + y);
                return push(a[0] + a[1]);
            }
            case '-':
            case '*':
            case '/':
            case '&':
            case '|': {
                if (!take(2, a)) return;
                double x, y;
                if (!readNumber(a[0].c_str(), &x) || !readNumber(a[1].c_str(), &y))
                    return pushError();
                switch (op) {
                    case '-':
                        return pushNumber(x - y);
                    case '*':
                        return pushNumber(x * y);
                    case '/':
                        return y == 0 ? pushError() : pushNumber(x / y);
                    case '&':
                        return push(x != 0 && y != 0 ? "1" : "0");
                    default:
                        return push(x == 0 && y == 0 ? "0" : "1");
                }
            }
            case '=':
            case '#':
                if (take(2, a)) push((a[0] == a[1]) == (op == '=') ? "1" : "0");
                return;
            case '<':
            case '>':
            case '{':
            case '}': {
                if (!take(2, a)) return;
                double x, y, d;
                if (readNumber(a[0].c_str(), &x) && readNumber(a[1].c_str(), &y)) {
                    d = x - y;
                } else {
                    const int c = std::string_view(a[0]).compare(a[1]);  // unsigned bytes
                    d = c < 0 ? -1 : c > 0 ? 1 : 0;
                }
                bool holds = op == '<' ? d < 0 : op == '>' ? d > 0 : op == '{' ? d <= 0 : d >= 0;
                return push(holds ? "1" : "0");
            }
            case 'i': {
                if (!take(3, a, false)) return;
                double c;
                if (!readNumber(a[0].c_str(), &c)) return pushError();
                return push(c != 0 ? std::move(a[1]) : std::move(a[2]));
            }
            case 'R': {
                if (!take(2, a)) return;
                double x, n;
                if (!readNumber(a[0].c_str(), &x) || !readNumber(a[1].c_str(), &n) || n < 0 ||
                    n > 14 || n != std::floor(n) || !std::isfinite(x))
                    return pushError();
                return push(roundDecimal(x, int(n)));
            }
            case 'c':
                if (take(1, a)) {
                    ZTStr s;
                    s.assign(a[0].c_str());
                    s.fold(nullptr);
                    push(s.text);
                }
                return;
            case 'U':
            case 'u':
                if (take(1, a)) {
                    const unsigned char* table = op == 'U' ? kCase.upper : kCase.lower;
                    for (char& ch : a[0]) ch = char(table[static_cast<unsigned char>(ch)]);
                    push(std::move(a[0]));
                }
                return;
            case 'I':
                if (take(1, a)) insert(std::move(a[0]));
                return;
            case 'J': {
                if (!take(2, a)) return;
                uint32_t record, field;
                if (!readId(a[0], &record) || !readId(a[1], &field)) return pushError();
                return push(std::to_string(links_->storedLinkTarget(file_, record, field)));
            }
            case 'g': {
                if (!take(2, a)) return;
                uint32_t record, field;
                if (!readId(a[0], &record) || !readId(a[1], &field) || record == 0)
                    return pushError();
                ZTStr text;
                links_->storedText(file_, record, field, &text);
                return push(text.text);
            }
            case 'L': {
                if (!take(2, a)) return;
                uint32_t record, field;
                if (!readId(a[0], &record) || !readId(a[1], &field)) return pushError();
                return push(linkDirective(record, field));
            }
            case 0xA7: {
                if (!take(2, a)) return;
                uint32_t set, n, field = 0;
                if (!readId(a[0], &set) || !readId(a[1], &n)) return pushError();
                if (n >= 1) field = nthField(set, n);
                return field ? push(std::to_string(field)) : pushError();
            }
            case 'F': {
                if (!take(3, a)) return;
                uint32_t set, field;
                if (!readId(a[0], &set) || !readId(a[1], &field) || a[2].empty())
                    return pushError();
                return push(std::to_string(finder_->findRecord(file_, set, field, a[2].c_str())));
            }
            case '.':
                if (take(2, a)) push(a[0] + "." + a[1]);
                return;
            case 0xB0:
                if (take(1, a)) push(followPath(a[0]));
                return;
            case 'A':
                if (take(3, a)) push(autoLink(a[0], a[1], a[2]));
                return;
            case 'D':
            case 'M':
            case 'Y': {
                if (!take(1, a)) return;
                ZTDateTime d;
                if (!d.parse(a[0].c_str())) return pushError();
                return push(std::to_string(op == 'D' ? d.day : op == 'M' ? d.month : d.year));
            }
            case '[': {
                if (!take(1, a)) return;
                ZTDateTime d;
                if (!d.parse(a[0].c_str())) return pushError();
                return push(std::to_string(d.toDayNumber()));
            }
            case ']': {
                if (!take(1, a)) return;
                double n;
                ZTDateTime d;
                if (!readNumber(a[0].c_str(), &n) || n != std::floor(n) || n < -2147483648.0 ||
                    n > 2147483647.0 || !d.fromDayNumber(int32_t(n)))
                    return pushError();
                ZTStr out;
                return push(d.format(&out, false));
            }
            case 'N': {
                ZTDateTime d;
                d.setNow(false);
                char hm[6] = {char('0' + d.hour / 10 % 10),   char('0' + d.hour % 10),   ':',
                              char('0' + d.minute / 10 % 10), char('0' + d.minute % 10), 0};
                return push(hm);
            }
            case 'r':
                if (take(3, a)) {
                    ZTStr s;
                    s.assign(a[0].c_str());
                    s.replaceAll(a[1].c_str(), a[2].c_str());
                    push(s.text);
                }
                return;
            default:
                return;  // unknown bytes are skipped
        }
    }

    static std::string linkDirective(uint32_t record, uint32_t field) {
        return "##LINKTO:" + std::to_string(record) + "," + std::to_string(field);
    }

    uint32_t nthField(uint32_t set, uint32_t n) {
        if (!file_ || !file_->isUsable() || set == 0) return 0;
        if (n == 1) return file_->getSetFirstField(set);
        ZTSetDef def(file_, nullptr);
        def.read(set);
        return n <= def.getFieldCount() ? def.getFieldID(n - 1) : 0;
    }

    uint32_t fieldNamed(const std::string& name) {
        return file_ && file_->isUsable() ? file_->findField(name.c_str()) : 0;
    }

    // a.b.c: field c of the record that field b of the record linked by this record's field a
    // links to. Each step is looked up and followed here; nothing is built into code.
    std::string followPath(const std::string& path) {
        size_t from = 0, dot = path.find('.');
        if (dot == std::string::npos || !record_) return kFormulaError;
        uint32_t field = fieldNamed(path.substr(0, dot));
        if (!field) return kFormulaError;
        anyFieldRead = true;
        bool empty;
        const int i = valueOf(field, &empty);
        uint32_t record = i >= 0 ? links_->linkTarget(record_, uint32_t(i)) : 0;
        for (from = dot + 1; (dot = path.find('.', from)) != std::string::npos; from = dot + 1) {
            field = fieldNamed(path.substr(from, dot - from));
            if (!field || !record) return kFormulaError;
            record = links_->storedLinkTarget(file_, record, field);
        }
        field = fieldNamed(path.substr(from));
        if (!field || !record) return kFormulaError;
        ZTStr text;
        links_->storedText(file_, record, field, &text);
        return text.text;
    }

    // The link directive to the set's record whose field (the set's first field when the name
    // is empty) holds the value exactly.
    std::string autoLink(const std::string& setName, const std::string& fieldName,
                         const std::string& value) {
        if (!file_ || !file_->isUsable() || value.empty()) return kFormulaError;
        const uint32_t set = file_->findSet(setName.c_str());
        const uint32_t first = set ? nthField(set, 1) : 0;
        if (!first) return kFormulaError;
        const uint32_t field = fieldName.empty() ? first : fieldNamed(fieldName);
        if (!field) return kFormulaError;
        const uint32_t record = finder_->findRecord(file_, set, field, value.c_str());
        return record ? linkDirective(record, first) : kFormulaError;
    }

    ZTExpression* e_;
    ZTRecord* record_;
    uint32_t valueIndex_;
    ZTFile* file_;
    ZTRecordFinder* finder_;
    ZTFormulaLinks* links_;
    struct Frame {
        std::string code;
        size_t pos;
    };
    std::vector<Frame> frames_;
    uint64_t unread_ = 0;
    bool damaged_ = false;
};

// ---- ZTExpression ----

ZTExpression::ZTExpression() = default;

ZTExpression::ZTExpression(const char* code, int mode, uint32_t field)
    : mode_(mode), field_(field) {
    code_.assign(code);
}

ZTExpression::~ZTExpression() = default;

void ZTExpression::setRecordFinder(ZTRecordFinder* finder) {
    finder_ = finder;
}

void ZTExpression::setLinks(ZTFormulaLinks* links) {
    links_ = links;
}

bool ZTExpression::evaluate(ZTStr* result, ZTRecord* record, const char* code,
                            uint32_t currentField, uint32_t valueIndex) {
    output_.clear();
    stack_.clear();
    currentField_ = currentField;
    Run run(this, record, valueIndex);
    const bool finished = run.run(code ? code : code_.text);
    stack_.clear();
    if (result) result->assign(output_.text);
    if (!finished) return false;
    if (!run.allFound) return false;
    if (!run.anyFieldRead || currentField == 0xFFFFFFFFu) return valueIndex == 0;
    return true;
}

// ---- ZTFormula ----

ZTFormula::~ZTFormula() {
    clear();
}

void ZTFormula::clear() {
    for (ZTExpression* e : expressions_)
        if (e->isOwned()) delete e;
    expressions_.clear();
}

void ZTFormula::add(ZTExpression* expression) {
    if (expression) expressions_.push_back(expression);
}

ZTExpression* ZTFormula::addExpr(const char* code, int mode, uint32_t field) {
    auto* e = new ZTExpression(code, mode, field);
    e->setOwned(true);
    expressions_.push_back(e);
    return e;
}

uint32_t ZTFormula::apply(ZTRecord* record, uint32_t currentField) {
    if (!record) return 0;
    ZTFormulaLinks* links = links_ ? links_ : &gFileLinks;
    uint32_t set = 0;
    for (ZTExpression* e : expressions_) {
        const uint32_t f = e->getField();
        if (e->getMode() == ZTExpression::kModeEmpty) {
            int i = record->indexOf(f);
            for (; i >= 0 && uint32_t(i) < record->getValueCount(); ++i) {
                if (record->getTypeID(uint32_t(i)) != f) break;
                if (links->storeResult(record, uint32_t(i), "")) ++set;
                if (f != currentField) break;
            }
            continue;
        }
        const int first = record->indexOf(f);
        const int last = record->lastIndexOf(f);
        const uint32_t n = uint32_t(last - first + 1);
        if (links_) e->setLinks(links_);
        ZTStr result;
        for (uint32_t i = 0; i < n; ++i) {
            if (!e->evaluate(&result, record, nullptr, currentField, i)) break;
            if (e->getMode() == ZTExpression::kModeAppend) {
                const int at = record->insertValue(~0u, f, 0);
                if (at >= 0 && links->storeResult(record, uint32_t(at), result.text)) ++set;
            } else if (first >= 0 && links->storeResult(record, uint32_t(first) + i, result.text)) {
                ++set;
            }
        }
    }
    return set;
}
