#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "xbase/core/env4.h"
#include "xbase/core/error4.h"
#include "xbase/core/mem4.h"
#include "xbase/core/util4.h"
#include "xbase/expr/expr4.h"
#include "xbase/expr/expr4func.h"
#include "xbase/file/file4.h"
#include "xbase/record/table4file.h"

namespace {

const expr4func* const fn = expr4functions;

// Markers on the operator stack; operators are their row numbers.
constexpr int32_t kBracket = -5;  // a bracket or an argument list is open
constexpr int32_t kMerge = -6;    // one more operand of a merged .AND. / .OR.
constexpr int32_t kEmptyStack = -3;

constexpr int32_t kQuiet = -1;        // a failure left unreported (unknown field, errFieldName 0)
constexpr int32_t kRest = -1;         // SUBSTR without a length: to the end of the text
constexpr int32_t kMaxNesting = 100;  // brackets, arguments and .NOT. inside one another
constexpr int64_t kMaxWork = int64_t{1} << 24;  // bytes of work area one expression may need
constexpr int32_t kMaxFolded = 1000000000;

bool isBlank(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isLetter(char c) {
    c = upperAscii(c);
    return c >= 'A' && c <= 'Z';
}

// True when `at` starts with the row's name (any case).
bool startsWithName(const char* at, const expr4func& row) {
    for (int i = 0; i < row.nameLen; ++i)
        if (at[i] == '\0' || upperAscii(at[i]) != row.name[i]) return false;
    return true;
}

bool startsLogicalOperator(const char* at) {
    for (const char* op : {".AND.", ".OR.", ".NOT."}) {
        size_t i = 0;
        while (op[i] != '\0' && upperAscii(at[i]) == op[i]) ++i;
        if (op[i] == '\0') return true;
    }
    return false;
}

int32_t firstRowOf(int32_t row) {
    while (row > 0 && fn[row - 1].code == fn[row].code) --row;
    return row;
}

bool convertible(char have, char want) {
    return (have == 'D' && want == 'd') ||
           (want == 'n' && (have == 'N' || have == 'I' || have == 'Y'));
}

int32_t convertedRow(char have) {
    switch (have) {
        case 'D':
            return expr4rowDateDays;
        case 'N':
            return expr4rowNumDouble;
        case 'I':
            return expr4rowIntDouble;
        default:
            return expr4rowCurrencyDouble;
    }
}

// Functions that change their operand where it lies.
bool changesOperand(int16_t code) {
    switch (code) {
        case expr4codeUpper:
        case expr4codeSubstr:
        case expr4codeTrim:
        case expr4codeLtrim:
        case expr4codeAlltrim:
        case expr4codeLeft:
        case expr4codeRight:
        case expr4codeDescend:
        case expr4codeAscend:
            return true;
    }
    return false;
}

bool isComparison(int16_t code) {
    return code == expr4codeEqual || code == expr4codeNotEqual || code == expr4codeGreater ||
           code == expr4codeLess || code == expr4codeGreaterEqual || code == expr4codeLessEqual;
}

int32_t folded(double v) {
    if (std::isnan(v)) return 0;
    if (v > kMaxFolded) return kMaxFolded;
    if (v < -kMaxFolded) return -kMaxFolded;
    return static_cast<int32_t>(v);
}

size_t round16(size_t n) {
    return (n + 15) & ~size_t{15};
}

struct Pending {
    char type;
    int32_t len;
    int32_t offset;
    size_t entry;
    int32_t count;
};

class Parser {
  public:
    Parser(table4* table, const char* text, const expr4tag* tag)
        : env_(table->env), table_(table), tag_(tag), text_(text) {}

    expression4* run();

  private:
    int32_t fail(int32_t code, int32_t location) {
        return error4raiseText(env_, code, location, text_ + pos_, text_);
    }
    void skipBlanks() {
        while (isBlank(text_[pos_])) ++pos_;
    }
    int32_t top() const { return ops_.empty() ? kEmptyStack : ops_.back(); }
    char** ownRecord() {
        return tag_ != nullptr ? &table_->dataFile->currentRecord : &table_->record;
    }
    expr4entry leaf(int32_t row) {
        expr4entry e{};
        e.row = row;
        e.record = ownRecord();
        e.len = fn[row].type == 'L' ? 4 : 8;
        return e;
    }

    int32_t expression();
    int32_t operand();
    int32_t name();
    int32_t function(const std::string& name, int32_t nameStart);
    int32_t foldLast(std::vector<size_t>& args, int32_t* value);
    void emit(int32_t row);
    table4* findAlias(const std::string& name);
    int32_t fieldEntry(table4* source, const std::string& name, int32_t nameStart);
    int32_t typePass();
    bool fieldsJoined() const;
    int32_t resultLength(expr4entry& e, const Pending* ops, bool& trimSeen);
    int32_t addPicture();
    expression4* build();

    env4* env_;
    table4* table_;
    const expr4tag* tag_;
    const char* text_;
    int32_t pos_ = 0;
    int32_t nesting_ = 0;
    std::vector<int32_t> ops_;
    std::vector<expr4entry> entries_;
    std::vector<char> constants_;
    char type_ = 0;
    int32_t len_ = 0;
    int32_t workLength_ = 0;
    bool hasTrim_ = false;
    bool hasCurrency_ = false;
    bool hasNullable_ = false;
};

// Adds the entry of an operator taken off the stack, with one more operand
// for every merge marker directly below it.
void Parser::emit(int32_t row) {
    expr4entry e = leaf(row);
    e.operands = fn[row].paramCount < 0 ? 2 : fn[row].paramCount;
    while (top() == kMerge) {
        ops_.pop_back();
        e.operands++;
    }
    entries_.push_back(e);
}

int32_t Parser::expression() {
    int32_t rc = operand();
    if (rc < 0) return rc;
    for (;;) {
        skipBlanks();
        char c = text_[pos_];
        if (c == '\0' || c == ')' || c == ',') {
            while (top() >= 0) {
                int32_t row = top();
                ops_.pop_back();
                emit(row);
            }
            return 0;
        }
        int32_t row = -1;
        for (int32_t r = expr4rowFirstOperator; r <= expr4rowLastOperator && row < 0; ++r)
            if (startsWithName(text_ + pos_, fn[r])) row = r;
        if (row < 0) return fail(e4exprOperator, E4LOC(91201));
        pos_ += fn[row].nameLen;
        while (top() >= 0) {
            const expr4func& held = fn[top()];
            if (fn[row].priority > held.priority) break;
            if (held.code == fn[row].code && held.paramCount == -1) {
                ops_.back() = kMerge;
                break;
            }
            int32_t done = top();
            ops_.pop_back();
            emit(done);  // equal priorities associate to the left
        }
        ops_.push_back(row);
        rc = operand();
        if (rc < 0) return rc;
    }
}

int32_t Parser::operand() {
    struct Depth {
        int32_t& n;
        explicit Depth(int32_t& d) : n(++d) {}
        ~Depth() { --n; }
    } depth(nesting_);
    if (nesting_ > kMaxNesting) return fail(e4exprNesting, E4LOC(91202));
    skipBlanks();
    char c = text_[pos_];
    if (c == '(') {
        ops_.push_back(kBracket);
        ++pos_;
        int32_t rc = expression();
        if (rc < 0) return rc;
        skipBlanks();
        if (text_[pos_] != ')') return fail(e4exprParen, E4LOC(91203));
        ++pos_;
        ops_.pop_back();
        return 0;
    }
    if (c == '.') {
        for (int32_t r = expr4rowFirstDotted; r <= expr4rowNot; ++r) {
            if (!startsWithName(text_ + pos_, fn[r])) continue;
            pos_ += fn[r].nameLen;
            if (r != expr4rowNot) {
                entries_.push_back(leaf(r));
                return 0;
            }
            // Parsed first, pushed after: .NOT. binds looser than comparisons.
            int32_t rc = operand();
            if (rc < 0) return rc;
            ops_.push_back(r);
            return 0;
        }
    }
    if (c == '\'' || c == '"' || c == '[') {
        const char* end = std::strchr(text_ + pos_ + 1, c == '[' ? ']' : c);
        if (end == nullptr) return fail(e4exprQuote, E4LOC(91204));
        const char* begin = text_ + pos_ + 1;
        expr4entry e = leaf(expr4rowCharConst);
        e.param = static_cast<int32_t>(constants_.size());
        e.len = static_cast<int32_t>(end - begin);
        constants_.insert(constants_.end(), begin, end);
        entries_.push_back(e);
        pos_ = static_cast<int32_t>(end + 1 - text_);
        return 0;
    }
    if (isDigit(c) || c == '-' || c == '+' || c == '.') {
        int32_t start = pos_++;
        for (;;) {
            char d = text_[pos_];
            if (isDigit(d)) {
                ++pos_;
            } else if (d == '.' && !startsLogicalOperator(text_ + pos_) &&
                       !isLetter(text_[pos_ + 1])) {
                ++pos_;
            } else {
                break;
            }
        }
        if (isLetter(text_[pos_])) {
            pos_ = start;
            return name();
        }
        double value = c4atodN(text_ + start, pos_ - start);
        expr4entry e = leaf(expr4rowNumConst);
        e.param = static_cast<int32_t>(constants_.size());
        const char* bytes = reinterpret_cast<const char*>(&value);
        constants_.insert(constants_.end(), bytes, bytes + sizeof value);
        entries_.push_back(e);
        return 0;
    }
    if (u4isIdentChar(static_cast<unsigned char>(c))) return name();
    return fail(e4exprOperand, E4LOC(91205));
}

table4* Parser::findAlias(const std::string& name) {
    if (name == table_->alias) return table_;
    for (auto* t = static_cast<table4*>(list4first(&env_->tables)); t != nullptr;
         t = static_cast<table4*>(list4next(&env_->tables, t)))
        if (name == t->alias) return t;
    return nullptr;
}

int32_t Parser::name() {
    int32_t start = pos_;
    while (u4isIdentChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == start) return fail(e4exprOperand, E4LOC(91206));
    std::string word(text_ + start, pos_ - start);
    for (char& ch : word) ch = upperAscii(ch);
    int32_t end = pos_;
    skipBlanks();
    if (text_[pos_] == '(') return function(word, start);
    table4* source = nullptr;
    if (text_[pos_] == '-' && text_[pos_ + 1] == '>') {
        source = findAlias(word);
        if (source == nullptr) {
            pos_ = start;
            return fail(e4exprAlias, E4LOC(91207));
        }
        pos_ += 2;
    } else if (text_[pos_] == '.' && !startsLogicalOperator(text_ + pos_)) {
        source = findAlias(word);  // not an alias: the word was a field name
        if (source != nullptr) ++pos_;
    }
    if (source == nullptr) {
        pos_ = end;
        return fieldEntry(table_, word, start);
    }
    if (tag_ != nullptr && source->dataFile != table_->dataFile) {
        pos_ = start;
        return fail(e4exprOtherTable, E4LOC(91208));
    }
    skipBlanks();
    start = pos_;
    while (u4isIdentChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ == start) return fail(e4exprOperand, E4LOC(91209));
    word.assign(text_ + start, pos_ - start);
    for (char& ch : word) ch = upperAscii(ch);
    return fieldEntry(source, word, start);
}

int32_t Parser::fieldEntry(table4* source, const std::string& name, int32_t nameStart) {
    if (name.size() > 10) {
        pos_ = nameStart;
        return fail(e4exprOperand, E4LOC(91210));
    }
    int32_t index = -1;
    for (int32_t i = 0; i < source->fieldCount && index < 0; ++i)
        if (name == source->fields[i].name) index = i;
    if (index < 0) {
        if (env_->errFieldName == 0) return kQuiet;
        return error4raiseText(env_, e4fieldName, E4LOC(91211), name.c_str(), text_);
    }
    // A tag reads its own data file through the current record, whichever
    // handle the alias named.
    bool own = tag_ != nullptr ? source->dataFile == table_->dataFile : source == table_;
    field4* f = own ? &table_->fields[index] : &source->fields[index];
    int32_t row = -1, width = 0;
    if (f->kind == field4kindMemo || f->type == 'M') {
        pos_ = nameStart;
        return fail(e4notSupported, E4LOC(91212));
    }
    switch (f->type) {
        case 'C':
            row = expr4rowCharField;
            break;
        case 'L':
            row = expr4rowLogField;
            break;
        case 'D':
            row = expr4rowDateField;
            width = 8;
            break;
        case 'N':
        case 'F':
            row = expr4rowNumField;
            break;
        case 'Y':
            row = expr4rowCurrencyField;
            width = 8;
            break;
        case 'B':
            row = expr4rowDoubleField;
            width = 8;
            break;
        case 'I':
            row = expr4rowIntField;
            width = 4;
            break;
        case 'T':
            row = expr4rowDateTimeField;
            width = 8;
            break;
    }
    // A field whose stored width differs from what its type reads would be
    // read past its end.
    if (row < 0 || (width != 0 && f->len != width) || (row == expr4rowLogField && f->len < 1)) {
        pos_ = nameStart;
        return fail(e4exprType, E4LOC(91213));
    }
    expr4entry e = leaf(row);
    e.fieldNumber = static_cast<int16_t>(index + 1);
    e.field = f;
    e.ownTable = own;
    e.record = own ? ownRecord() : &source->record;
    e.param = f->offset;
    e.len = row == expr4rowLogField ? 4 : f->len;
    if (f->type == 'Y') hasCurrency_ = true;
    if (f->nullable) hasNullable_ = true;
    entries_.push_back(e);
    return 0;
}

// Takes the last argument as a whole number; it must be a numeric constant.
int32_t Parser::foldLast(std::vector<size_t>& args, int32_t* value) {
    if (entries_.size() - args.back() != 1 || entries_.back().row != expr4rowNumConst)
        return fail(e4exprConstant, E4LOC(91214));
    int32_t at = entries_.back().param;
    double v;
    std::memcpy(&v, constants_.data() + at, sizeof v);
    if (static_cast<size_t>(at) + sizeof v == constants_.size()) constants_.resize(at);
    entries_.pop_back();
    args.pop_back();
    *value = folded(v);
    return 0;
}

int32_t Parser::function(const std::string& word, int32_t nameStart) {
    int32_t row = -1;
    for (int32_t r = expr4rowFirstFunction; fn[r].code != -1 && row < 0; ++r)
        if (fn[r].name != nullptr && word == fn[r].name) row = r;
    if (row < 0) {
        pos_ = nameStart;
        return fail(e4exprFunction, E4LOC(91215));
    }
    ops_.push_back(kBracket);
    ++pos_;
    std::vector<size_t> args;
    for (;;) {
        skipBlanks();
        if (text_[pos_] == '\0') return fail(e4exprParen, E4LOC(91216));
        if (text_[pos_] == ')') {
            ++pos_;
            break;
        }
        args.push_back(entries_.size());
        int32_t rc = expression();
        if (rc < 0) return rc;
        skipBlanks();
        if (text_[pos_] == ')') {
            ++pos_;
            break;
        }
        if (text_[pos_] == ',') {
            ++pos_;
            continue;
        }
        return fail(text_[pos_] == '\0' ? e4exprParen : e4exprComma, E4LOC(91217));
    }
    ops_.pop_back();

    int16_t code = fn[row].code;
    size_t given = args.size();
    int32_t len = 0, param = 0, rc = 0;
    auto wrongCount = [&] {
        return error4raiseText(env_, e4exprArgCount, E4LOC(91218), word.c_str(), text_);
    };
    if (code == expr4codeStr) {
        if (given > 3) return wrongCount();
        int32_t width = 10, dec = 0;
        if (given == 3) rc = foldLast(args, &dec);
        if (rc == 0 && given >= 2) rc = foldLast(args, &width);
        if (rc < 0) return rc;
        if (width < 0) width = 10;
        if (dec + 1 >= width) dec = width - 2;
        if (dec < 0) dec = 0;
        if (width > 128 || dec > 15)
            return fail(e4exprConstant, E4LOC(91219));  // beyond any number's text
        len = width;
        param = dec;
    } else if (code == expr4codeSubstr) {
        int32_t start = 1, count = kRest;
        if (given == 3) {
            rc = foldLast(args, &count);
            if (rc == 0 && count < 0) count = 0;
        } else if (given != 2) {
            return wrongCount();
        }
        if (rc == 0) rc = foldLast(args, &start);
        if (rc < 0) return rc;
        len = count;
        param = start - 1;
    } else if (code == expr4codeLeft || code == expr4codeRight) {
        if (given != 2) return wrongCount();
        if ((rc = foldLast(args, &len)) < 0) return rc;
        if (len < 0) len = 0;
    }
    if (fn[row].paramCount >= 0 && args.size() != static_cast<size_t>(fn[row].paramCount)) {
        if (code != expr4codeDtoc || args.size() != 2) return wrongCount();
        entries_.resize(args[1]);  // DTOC(d, x) is DTOS(d)
        args.pop_back();
        row = expr4rowDtos;
    }
    expr4entry e = leaf(row);
    e.operands = static_cast<int32_t>(args.size());
    e.len = len;
    e.param = param;
    entries_.push_back(e);
    return 0;
}

// Copies the environment's date picture into the constants: its offset.
int32_t Parser::addPicture() {
    const char* picture = env_->dateFormat;
    int32_t at = static_cast<int32_t>(constants_.size());
    constants_.insert(constants_.end(), picture, picture + std::strlen(picture) + 1);
    return at;
}

// The result length of a typed entry, and the numbers its routine needs.
int32_t Parser::resultLength(expr4entry& e, const Pending* ops, bool& trimSeen) {
    const expr4func& f = fn[e.row];
    if (e.field != nullptr) return 0;  // set with the field (or by a conversion)
    switch (f.type) {
        case 'L':
        case 'I':
            e.len = 4;
            break;
        case 'C':
            break;
        default:
            e.len = 8;
    }
    if (isComparison(f.code)) {
        e.param = std::min(ops[0].len, ops[1].len);
        bool leftLonger = ops[0].len > ops[1].len, leftShorter = ops[0].len < ops[1].len;
        bool greater = f.code == expr4codeGreater || f.code == expr4codeLessEqual;
        e.aux = greater ? leftLonger : leftShorter;
        return 0;
    }
    switch (f.code) {
        case expr4codeContains:
            e.param = ops[0].len;
            e.aux = ops[1].len;
            return 0;
        case expr4codeStod:
        case expr4codeVal:
            e.aux = ops[0].len;
            return 0;
        case expr4codeCtod:
            e.aux = ops[0].len;
            e.param = addPicture();
            return 0;
        case expr4codeReccount:
            e.dataFile = table_->dataFile;
            return 0;
    }
    if (f.type != 'C') return 0;
    switch (f.code) {
        case expr4codeChr:
        case expr4codeDel:
            e.len = 1;
            break;
        case expr4codeTime:
        case expr4codeDtos:
            e.len = 8;
            break;
        case expr4codeDtoc:
            e.param = addPicture();
            e.len = static_cast<int32_t>(std::strlen(env_->dateFormat));
            break;
        case expr4codePlus:
        case expr4codeMinus:
            e.param = ops[0].len;
            e.len = ops[0].len + ops[1].len;
            break;
        case expr4codeTrim:
        case expr4codeLtrim:
        case expr4codeAlltrim:
            trimSeen = hasTrim_ = true;
            [[fallthrough]];
        case expr4codeUpper:
            e.len = ops[0].len;
            break;
        case expr4codeSubstr:
        case expr4codeLeft:
        case expr4codeRight: {
            int32_t whole = ops[0].len;
            int32_t count = e.len, start = e.param;
            if (f.code == expr4codeRight) {
                count = std::min(count, whole);
                start = whole - count;
            } else {
                start = std::max(0, std::min(start, whole));
                count = count == kRest ? whole - start : std::min(count, whole - start);
            }
            e.param = start;
            e.len = std::max(count, 0);
            break;
        }
        case expr4codeIif:
            if (ops[1].len != ops[2].len) return fail(e4exprIifLength, E4LOC(91220));
            e.len = ops[1].len;
            break;
        case expr4codeDescend:
        case expr4codeAscend: {
            char t = ops[0].type;
            e.len = (t == 'd' || t == 'n' || t == 'T') ? 8 : t == 'L' ? 1 : ops[0].len;
            break;
        }
    }
    return 0;
}

// Picks each entry's overload, converts operands, sets lengths and lays the
// results out in the work area.
int32_t Parser::typePass() {
    std::vector<Pending> stack;
    int64_t nextFree = 0, maxEnd = 0;
    bool trimSeen = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        expr4entry& e = entries_[i];
        const expr4func& f = fn[e.row];
        int32_t n = e.operands;
        if (f.paramCount > 0 && n != f.paramCount) return fail(e4exprArgCount, E4LOC(91221));
        if (n > static_cast<int32_t>(stack.size())) return fail(e4result, E4LOC(91222));
        Pending* ops = stack.data() + stack.size() - n;
        int32_t chosen = -1;
        for (int32_t r = firstRowOf(e.row); fn[r].code == f.code && chosen < 0; ++r) {
            if (r == expr4rowJoinTrimmed) continue;  // chosen by the trim rule below
            bool fits = true;
            for (int32_t k = 0; k < n && fits; ++k) {
                char want = fn[r].paramCount < 0 ? fn[r].params[0] : fn[r].params[k];
                fits = ops[k].type == want || convertible(ops[k].type, want);
            }
            if (fits) chosen = r;
        }
        if (chosen < 0) return fail(e4exprType, E4LOC(91223));
        const expr4func& c = fn[chosen];
        for (int32_t k = 0; k < n; ++k) {
            char want = c.paramCount < 0 ? c.params[0] : c.params[k];
            if (ops[k].type == want) continue;
            expr4entry& converted = entries_[ops[k].entry];
            converted.row = convertedRow(ops[k].type);
            converted.len = 8;
            ops[k].type = want;
            ops[k].len = 8;
        }
        if (chosen == expr4rowJoin && trimSeen) chosen = expr4rowJoinTrimmed;
        e.row = chosen;
        bool textJoin =
            chosen == expr4rowJoin || chosen == expr4rowJoinTrimmed || chosen == expr4rowMinusText;
        if (textJoin || changesOperand(c.code))
            for (int32_t k = 0; k < n; ++k)
                if (entries_[ops[k].entry].row == expr4rowCharField)
                    entries_[ops[k].entry].row = expr4rowCharCopy;
        int32_t rc = resultLength(e, ops, trimSeen);
        if (rc < 0) return rc;
        int64_t offset = n == 0 ? nextFree : ops[0].offset;
        int32_t count = 1;
        for (int32_t k = 0; k < n; ++k) count += ops[k].count;
        stack.resize(stack.size() - n);
        // Text and numbers read as doubles are converted where they lie.
        int64_t span = e.len;
        if ((c.type == 'N' || c.type == 'D' || c.type == 'I') && span < 8) span = 8;
        nextFree = offset + span;
        maxEnd = std::max(maxEnd, nextFree);
        if (maxEnd > kMaxWork) return fail(e4memory, E4LOC(91224));
        e.offset = static_cast<int32_t>(offset);
        e.entryCount = count;
        stack.push_back({c.type, e.len, e.offset, i, count});
        if (stack.size() >= static_cast<size_t>(expr4stackDepth))
            return fail(e4exprNesting, E4LOC(91225));
    }
    if (stack.size() != 1) return fail(e4result, E4LOC(91226));
    type_ = stack[0].type;
    len_ = stack[0].len;
    workLength_ = static_cast<int32_t>(maxEnd) + 1;
    return u4growBuffer(env_, &env_->workBuffer, &env_->workBufferLen,
                        static_cast<int32_t>(maxEnd) + 2);
}

// Whether the expression only joins text fields with '+': its value is then the fields' bytes in
// the order they appear, whatever the grouping, and keys need no evaluation.
bool Parser::fieldsJoined() const {
    if (type_ != 'C' || hasTrim_ || entries_.empty()) return false;
    int64_t width = 0;
    for (const expr4entry& e : entries_) {
        if (e.row == expr4rowJoin) continue;
        if ((e.row != expr4rowCharField && e.row != expr4rowCharCopy) || e.field == nullptr ||
            e.record == nullptr || e.len < 0)
            return false;
        width += e.len;
    }
    return width == len_;
}

// One allocation: the record, the entries, the constants, the text.
expression4* Parser::build() {
    size_t head = round16(sizeof(expression4));
    size_t entryBytes = round16(entries_.size() * sizeof(expr4entry));
    size_t constantBytes = round16(constants_.size() + 1);
    size_t textBytes = std::strlen(text_) + 1;
    size_t total = head + entryBytes + constantBytes + textBytes;
    if (total > static_cast<size_t>(INT32_MAX - 64)) {
        error4raise(env_, e4memory, E4LOC(91227));
        return nullptr;
    }
    auto* block = static_cast<char*>(u4allocAgain(env_, static_cast<int32_t>(total)));
    if (block == nullptr) return nullptr;
    auto* x = reinterpret_cast<expression4*>(block);
    x->entries = reinterpret_cast<expr4entry*>(block + head);
    x->entryCount = static_cast<int32_t>(entries_.size());
    x->constants = block + head + entryBytes;
    x->source = x->constants + constantBytes;
    for (size_t i = 0; i < entries_.size(); ++i) {
        entries_[i].routine = fn[entries_[i].row].routine;
        x->entries[i] = entries_[i];
    }
    if (!constants_.empty()) std::memcpy(x->constants, constants_.data(), constants_.size());
    std::memcpy(x->source, text_, textBytes);
    x->len = len_;
    x->type = type_;
    x->tag = tag_;
    x->collation = tag_ != nullptr ? tag_->collation : expr4collationNone;
    x->table = table_;
    x->dataFile = table_->dataFile;
    x->env = env_;
    x->workLength = workLength_;
    x->hasTrim = hasTrim_;
    x->hasCurrency = hasCurrency_;
    x->hasNullable = hasNullable_;
    x->fieldsJoined = fieldsJoined() ? 1 : 0;
    return x;
}

expression4* Parser::run() {
    if (expression() < 0) return nullptr;
    if (text_[pos_] != '\0') {  // a ')' or ',' with nothing open
        fail(e4exprTrailing, E4LOC(91228));
        return nullptr;
    }
    if (typePass() < 0) return nullptr;
    return build();
}

}  // namespace

expression4* expr4parse(table4* table, const char* text, const expr4tag* tag) {
    if (table == nullptr || table->env == nullptr || table->dataFile == nullptr) {
        error4raise(table != nullptr ? table->env : nullptr, e4parmNull, E4LOC(91200));
        return nullptr;
    }
    if (error4pending(table->env)) return nullptr;
    if (text == nullptr) {
        error4raise(table->env, e4parmNull, E4LOC(91229));
        return nullptr;
    }
    return Parser(table, text, tag).run();
}

void expr4free(expression4* expr) {
    mem4free(expr);
}

const char* expr4source(const expression4* expr) {
    return expr != nullptr ? expr->source : "";
}
