#include "xbase/expr4func.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "xbase/bytes4.h"
#include "xbase/currency4.h"
#include "xbase/date4.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/key4.h"
#include "xbase/table4.h"
#include "xbase/util4.h"

// Field values are read straight from record buffers in the order fields
// store them.
static_assert(std::endian::native == std::endian::little);

namespace {

// ---- stack and value access ------------------------------------------------

char* slot(expr4run* run) {
    return run->base + run->entry->offset;
}

void push(expr4run* run, char* p) {
    if (run->depth >= expr4stackDepth) {
        run->error = e4result;
        return;
    }
    run->stack[run->depth++] = p;
}

char* pop(expr4run* run) {
    if (run->depth <= 0) {
        run->error = e4result;
        return run->base;
    }
    return run->stack[--run->depth];
}

// The entry's operands, first operand first.
void popOperands(expr4run* run, char** out, int32_t n) {
    for (int32_t i = n - 1; i >= 0; --i) out[i] = pop(run);
}

const char* recordOf(expr4run* run) {
    const char* rec = run->entry->record != nullptr ? *run->entry->record : nullptr;
    if (rec == nullptr) run->error = e4struct;
    return rec;
}

double getDouble(const char* p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
}

void putDouble(char* p, double d) {
    std::memcpy(p, &d, sizeof d);
}

int32_t getInt(const char* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void putInt(char* p, int32_t v) {
    std::memcpy(p, &v, sizeof v);
}

// Results of a fixed width go to the entry's slot.
void pushInt(expr4run* run, int32_t v) {
    putInt(slot(run), v);
    push(run, slot(run));
}

void pushDouble(expr4run* run, double d) {
    putDouble(slot(run), d);
    push(run, slot(run));
}

// Truncated toward zero and held inside 32 bits (NaN is 0).
int32_t toInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

// Moves an in-place operand to the entry's slot when it lies elsewhere.
char* atSlot(expr4run* run, char* operand, int32_t len) {
    char* s = slot(run);
    if (operand != s && len > 0) std::memmove(s, operand, len);
    return s;
}

int16_t codeOf(expr4run* run) {
    return expr4functions[run->entry->row].code;
}

// The 8 characters CCYYMMDD of a D operand, or of a d operand's day number.
void dateText(char* out, const char* operand, bool isDays) {
    if (isDays)
        (void)date4fromJulian(out, toInt(getDouble(operand)));  // blanks for a day out of range
    else
        std::memcpy(out, operand, 8);
}

// ---- fields -----------------------------------------------------------------

void fieldRef(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    push(run, const_cast<char*>(rec) + run->entry->param);
}

void fieldCopy(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    std::memcpy(slot(run), rec + run->entry->param, run->entry->len);
    push(run, slot(run));
}

void logField(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    char c = rec[run->entry->param];
    pushInt(run, c == 'Y' || c == 'y' || c == 'T' || c == 't');
}

void dateDays(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    pushDouble(run, date4julian(rec + run->entry->param));
}

void numDouble(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    pushDouble(run, c4atodN(rec + run->entry->param, run->entry->field->len));
}

void intDouble(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    pushDouble(run, getInt(rec + run->entry->param));
}

void currencyDouble(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    // Through the text, so that the double is the nearest one to the decimal value.
    currency4 value;
    std::memcpy(&value, rec + run->entry->param, sizeof value);
    char text[32];
    double d = currency4toText(text, sizeof text, &value, 4) < 0 ? 0.0 : c4atod(text);
    pushDouble(run, d);
}

// ---- constants and logic ------------------------------------------------------

void numConst(expr4run* run) {
    std::memcpy(slot(run), run->constants + run->entry->param, 8);
    push(run, slot(run));
}

void charConst(expr4run* run) {
    std::memcpy(slot(run), run->constants + run->entry->param, run->entry->len);
    push(run, slot(run));
}

void trueConst(expr4run* run) {
    pushInt(run, 1);
}

void falseConst(expr4run* run) {
    pushInt(run, 0);
}

void logNot(expr4run* run) {
    int32_t v = getInt(pop(run));
    pushInt(run, v == 0);
}

void logAndOr(expr4run* run) {
    bool isAnd = codeOf(run) == expr4codeAnd;
    bool result = isAnd;
    for (int32_t i = 0; i < run->entry->operands; ++i) {
        bool v = getInt(pop(run)) != 0;
        result = isAnd ? (result && v) : (result || v);
    }
    pushInt(run, result);
}

// ---- text joins -----------------------------------------------------------------

// Lays both operands side by side at the slot (they normally already are).
char* joinOperands(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    int32_t first = run->entry->param, second = run->entry->len - first;
    char* s = atSlot(run, ops[0], first);
    if (ops[1] != s + first && second > 0) std::memmove(s + first, ops[1], second);
    return s;
}

void join(expr4run* run) {
    push(run, joinOperands(run));
}

// Closes the first operand's trailing `pad` bytes up behind the second.
void joinClosing(expr4run* run, char pad) {
    char* s = joinOperands(run);
    int32_t first = run->entry->param, second = run->entry->len - first;
    int32_t end = first;
    while (end > 0 && s[end - 1] == pad) --end;
    if (end < first) {
        std::memmove(s + end, s + first, second);
        std::memset(s + end + second, pad, first - end);
    }
    push(run, s);
}

void joinTrimmed(expr4run* run) {
    joinClosing(run, '\0');
}

void minusText(expr4run* run) {
    joinClosing(run, ' ');
}

// ---- arithmetic -----------------------------------------------------------------

void arithmetic(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    double a = getDouble(ops[0]), b = getDouble(ops[1]), r = 0.0;
    switch (codeOf(run)) {
        case expr4codePlus:
            r = a + b;
            break;
        case expr4codeMinus:
            r = a - b;
            break;
        case expr4codePower:
            r = std::pow(a, b);
            break;
        case expr4codeMultiply:
            r = a * b;
            break;
        case expr4codeDivide:
            r = b == 0.0 ? 0.0 : a / b;
            break;
        default:
            run->error = e4result;
    }
    pushDouble(run, r);
}

// Day-number arithmetic: a blank date (0) stays blank.
void dateArithmetic(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    const char* types = expr4functions[run->entry->row].params;
    double a = getDouble(ops[0]), b = getDouble(ops[1]);
    bool blank = (types[0] == 'd' && a == 0.0) || (types[1] == 'd' && b == 0.0);
    double r = blank ? 0.0 : (codeOf(run) == expr4codePlus ? a + b : a - b);
    pushDouble(run, r);
}

// ---- comparisons -----------------------------------------------------------------

// The comparison's result from an order: c < 0, 0 or > 0; `tie` decides the
// text comparisons whose compared bytes are equal.
bool ordered(int16_t code, int c, bool tie) {
    switch (code) {
        case expr4codeEqual:
            return c == 0;
        case expr4codeNotEqual:
            return c != 0;
        case expr4codeGreater:
            return c > 0 || (c == 0 && tie);
        case expr4codeLess:
            return c < 0 || (c == 0 && tie);
        case expr4codeGreaterEqual:
            return !(c < 0 || (c == 0 && tie));
        case expr4codeLessEqual:
            return !(c > 0 || (c == 0 && tie));
    }
    return false;
}

void compareText(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    int c = std::memcmp(ops[0], ops[1], run->entry->param);
    pushInt(run, ordered(codeOf(run), c, run->entry->aux != 0));
}

// Numbers and day numbers compare as numbers, so -0.0 equals 0.0 and NaN
// equals nothing.
void compareNumber(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    double a = getDouble(ops[0]), b = getDouble(ops[1]);
    bool r = false;
    switch (codeOf(run)) {
        case expr4codeEqual:
            r = a == b;
            break;
        case expr4codeNotEqual:
            r = !(a == b);
            break;
        case expr4codeGreater:
            r = a > b;
            break;
        case expr4codeLess:
            r = a < b;
            break;
        case expr4codeGreaterEqual:
            r = a >= b;
            break;
        case expr4codeLessEqual:
            r = a <= b;
            break;
    }
    pushInt(run, r);
}

void compareLogical(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    int c = (getInt(ops[0]) != 0) - (getInt(ops[1]) != 0);
    pushInt(run, ordered(codeOf(run), c, false));
}

// Currency and datetime values, by their own comparison.
template <typename T, int32_t (*compare)(const T*, const T*)>
void compareValues(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    T a, b;
    std::memcpy(&a, ops[0], sizeof a);
    std::memcpy(&b, ops[1], sizeof b);
    pushInt(run, ordered(codeOf(run), compare(&a, &b), false));
}

constexpr auto compareCurrency = compareValues<currency4, currency4compare>;
constexpr auto compareDateTime = compareValues<datetime4, datetime4compare>;

void contains(expr4run* run) {
    char* ops[2];
    popOperands(run, ops, 2);
    int32_t n = run->entry->param, h = run->entry->aux;
    bool found = n == 0;
    for (int32_t i = 0; !found && i + n <= h; ++i) found = std::memcmp(ops[1] + i, ops[0], n) == 0;
    pushInt(run, found);
}

// ---- functions -----------------------------------------------------------------

void iif(expr4run* run) {
    char* ops[3];
    popOperands(run, ops, 3);
    char* chosen = getInt(ops[0]) != 0 ? ops[1] : ops[2];
    std::memmove(slot(run), chosen, run->entry->len);
    push(run, slot(run));
}

void chr(expr4run* run) {
    int32_t v = toInt(getDouble(pop(run)));
    slot(run)[0] = static_cast<char>(static_cast<unsigned char>(v));
    push(run, slot(run));
}

void del(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    slot(run)[0] = rec[0];
    push(run, slot(run));
}

void deleted(expr4run* run) {
    const char* rec = recordOf(run);
    if (rec == nullptr) return;
    int32_t v = 0;
    if (rec[0] == '*')
        v = 1;
    else if (rec[0] != ' ')
        error4raise(run->expr->env, e4info, E4LOC(91401));  // the evaluation goes on
    pushInt(run, v);
}

void str(expr4run* run) {
    double v = getDouble(pop(run));
    // A number that does not fit shows as '*' characters, not as an error.
    if (run->entry->len > 0) (void)c4dtoa(v, slot(run), run->entry->len, run->entry->param);
    push(run, slot(run));
}

// SUBSTR, LEFT and RIGHT: the entry's bytes from the start, to the front.
void substr(expr4run* run) {
    char* p = pop(run);
    std::memmove(slot(run), p + run->entry->param, run->entry->len);
    push(run, slot(run));
}

void timeNow(expr4run* run) {
    if (time4now(slot(run)) < 0) std::memset(slot(run), ' ', 8);
    push(run, slot(run));
}

void upper(expr4run* run) {
    char* s = atSlot(run, pop(run), run->entry->len);
    for (int32_t i = 0; i < run->entry->len && s[i] != '\0'; ++i)
        if (s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - 'a' + 'A');
    push(run, s);
}

void trimRight(char* s, int32_t len) {
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\0')) s[--len] = '\0';
}

void trimLeft(char* s, int32_t len) {
    int32_t skip = 0;
    while (skip < len && (s[skip] == ' ' || s[skip] == '\0')) ++skip;
    if (skip == 0) return;
    std::memmove(s, s + skip, len - skip);
    std::memset(s + len - skip, 0, skip);
}

void trim(expr4run* run) {
    char* s = atSlot(run, pop(run), run->entry->len);
    trimRight(s, run->entry->len);
    push(run, s);
}

void ltrim(expr4run* run) {
    char* s = atSlot(run, pop(run), run->entry->len);
    trimLeft(s, run->entry->len);
    push(run, s);
}

void alltrim(expr4run* run) {
    char* s = atSlot(run, pop(run), run->entry->len);
    trimLeft(s, run->entry->len);
    trimRight(s, run->entry->len);
    push(run, s);
}

bool operandIsDays(expr4run* run) {
    return expr4functions[run->entry->row].params[0] == 'd';
}

void dtos(expr4run* run) {
    char date[8];
    dateText(date, pop(run), operandIsDays(run));
    std::memcpy(slot(run), date, 8);
    push(run, slot(run));
}

void dtoc(expr4run* run) {
    char date[8], text[24];
    dateText(date, pop(run), operandIsDays(run));
    if (date4applyPicture(date, text, run->constants + run->entry->param) < 0)
        std::memset(text, ' ', sizeof text);
    std::memcpy(slot(run), text, run->entry->len);
    push(run, slot(run));
}

void stod(expr4run* run) {
    const char* p = pop(run);
    char date[8];
    std::memset(date, ' ', 8);
    std::memcpy(date, p, run->entry->aux < 8 ? run->entry->aux : 8);
    pushDouble(run, date4julian(date));
}

void ctod(expr4run* run) {
    const char* p = pop(run);
    char text[64], date[8];
    int32_t n = run->entry->aux < 63 ? run->entry->aux : 63;
    std::memcpy(text, p, n);
    text[n] = '\0';
    double day = 0.0;
    if (date4parse(date, text, run->constants + run->entry->param) == 0) day = date4julian(date);
    pushDouble(run, day);
}

void dateToday(expr4run* run) {
    char date[8];
    pushDouble(run, date4today(date) < 0 ? 0.0 : date4julian(date));
}

// DAY, MONTH and YEAR: digits of CCYYMMDD.
void datePart(expr4run* run) {
    char date[8];
    dateText(date, pop(run), operandIsDays(run));
    int16_t code = codeOf(run);
    int32_t v = code == expr4codeDay     ? c4atoiN(date + 6, 2)
                : code == expr4codeMonth ? c4atoiN(date + 4, 2)
                                         : c4atoiN(date, 4);
    pushDouble(run, v);
}

void reccount(expr4run* run) {
    int32_t n = table4recordCountLow(run->entry->dataFile, run->expr->table->lockOwner);
    if (n < 0) {
        run->error = n;
        return;
    }
    pushDouble(run, n);
}

void recno(expr4run* run) {
    pushDouble(run, run->expr->table->recNum);
}

void val(expr4run* run) {
    const char* p = pop(run);
    pushDouble(run, c4atodN(p, run->entry->aux));
}

// ASCEND and DESCEND: the operand turned into text whose byte order is its
// value order; DESCEND then reverses that order.
void orderKey(expr4run* run, bool descending) {
    const char* p = pop(run);
    unsigned char* s = reinterpret_cast<unsigned char*>(slot(run));
    int32_t len = run->entry->len;
    char type = expr4functions[run->entry->row].params[0];
    switch (type) {
        case 'n':
            key4fromDouble(s, getDouble(p));
            break;
        case 'T': {
            const auto* b = reinterpret_cast<const uint8_t*>(p);
            uint32_t day = bytes4get32le(b), ms = bytes4get32le(b + 4);
            bytes4put32be(s, day);
            bytes4put32be(s + 4, ms);
            break;
        }
        case 'd':
            dateText(reinterpret_cast<char*>(s), p, true);
            break;
        case 'L':
            s[0] = getInt(p) != 0 ? '1' : '0';
            break;
        default:  // C, N, D
            if (p != reinterpret_cast<char*>(s)) std::memmove(s, p, len);
            if (type == 'N') c4numKey(reinterpret_cast<char*>(s), len);
    }
    if (descending) {
        if (type == 'n' || type == 'T')
            for (int32_t i = 0; i < 8; ++i) s[i] = static_cast<unsigned char>(~s[i]);
        else
            c4negateBytes(s, len);
    }
    push(run, reinterpret_cast<char*>(s));
}

void ascend(expr4run* run) {
    orderKey(run, false);
}

void descend(expr4run* run) {
    orderKey(run, true);
}

}  // namespace

#define ROW(routine, name, code, priority, type, count, params) \
    { routine, name, code, sizeof(name) - 1, priority, type, count, params }
#define NAMELESS(routine, code, type) \
    { routine, nullptr, code, 0, 0, type, 0, "" }

const expr4func expr4functions[] = {
    NAMELESS(fieldRef, 0, 'C'),  // 0: character field by reference
    NAMELESS(fieldCopy, 1, 'C'),
    NAMELESS(logField, 2, 'L'),
    NAMELESS(dateDays, 3, 'd'),
    NAMELESS(fieldRef, 4, 'D'),
    NAMELESS(numDouble, 5, 'n'),
    NAMELESS(fieldRef, 6, 'N'),
    NAMELESS(fieldRef, 440, 'Y'),
    NAMELESS(fieldRef, 441, 'n'),  // double field
    NAMELESS(fieldRef, 442, 'I'),
    NAMELESS(fieldRef, 443, 'T'),
    NAMELESS(intDouble, 444, 'n'),
    NAMELESS(currencyDouble, 445, 'n'),
    NAMELESS(nullptr, 7, 'C'),
    NAMELESS(numConst, 8, 'n'),  // 14
    NAMELESS(charConst, 9, 'C'),
    ROW(trueConst, ".TRUE.", 14, 0, 'L', 0, ""),  // 16
    ROW(trueConst, ".T.", 14, 0, 'L', 0, ""),
    ROW(falseConst, ".FALSE.", 16, 0, 'L', 0, ""),
    ROW(falseConst, ".F.", 16, 0, 'L', 0, ""),
    ROW(logNot, ".NOT.", 18, 5, 'L', 1, "L"),  // 20
    ROW(logAndOr, ".OR.", 20, 3, 'L', -1, "L"),
    ROW(logAndOr, ".AND.", 22, 4, 'L', -1, "L"),
    ROW(join, "+", 25, 7, 'C', 2, "CC"),  // 23
    ROW(joinTrimmed, "+", 25, 7, 'C', 2, "CC"),
    ROW(arithmetic, "+", 25, 7, 'n', 2, "nn"),
    ROW(dateArithmetic, "+", 25, 7, 'd', 2, "nd"),
    ROW(dateArithmetic, "+", 25, 7, 'd', 2, "dn"),
    ROW(minusText, "-", 30, 7, 'C', 2, "CC"),  // 28
    ROW(arithmetic, "-", 30, 7, 'n', 2, "nn"),
    ROW(dateArithmetic, "-", 30, 7, 'n', 2, "dd"),
    ROW(dateArithmetic, "-", 30, 7, 'd', 2, "dn"),
    ROW(compareText, "#", 50, 6, 'L', 2, "CC"),  // 32
    ROW(compareText, "<>", 50, 6, 'L', 2, "CC"),
    ROW(compareNumber, "#", 50, 6, 'L', 2, "nn"),
    ROW(compareNumber, "#", 50, 6, 'L', 2, "dd"),
    ROW(compareLogical, "#", 50, 6, 'L', 2, "LL"),
    ROW(compareCurrency, "#", 50, 6, 'L', 2, "YY"),
    ROW(compareDateTime, "#", 50, 6, 'L', 2, "TT"),
    ROW(compareText, ">=", 60, 6, 'L', 2, "CC"),  // 39
    ROW(compareText, "=>", 60, 6, 'L', 2, "CC"),
    ROW(compareNumber, ">=", 60, 6, 'L', 2, "nn"),
    ROW(compareNumber, ">=", 60, 6, 'L', 2, "dd"),
    ROW(compareCurrency, ">=", 60, 6, 'L', 2, "YY"),
    ROW(compareDateTime, ">=", 60, 6, 'L', 2, "TT"),
    ROW(compareText, "<=", 70, 6, 'L', 2, "CC"),  // 45
    ROW(compareText, "=<", 70, 6, 'L', 2, "CC"),
    ROW(compareNumber, "<=", 70, 6, 'L', 2, "nn"),
    ROW(compareNumber, "<=", 70, 6, 'L', 2, "dd"),
    ROW(compareCurrency, "<=", 70, 6, 'L', 2, "YY"),
    ROW(compareDateTime, "<=", 70, 6, 'L', 2, "TT"),
    ROW(compareText, "=", 40, 6, 'L', 2, "CC"),  // 51
    ROW(compareLogical, "=", 40, 6, 'L', 2, "LL"),
    ROW(compareNumber, "=", 40, 6, 'L', 2, "nn"),
    ROW(compareNumber, "=", 40, 6, 'L', 2, "dd"),
    ROW(compareCurrency, "=", 40, 6, 'L', 2, "YY"),
    ROW(compareDateTime, "=", 40, 6, 'L', 2, "TT"),
    ROW(compareText, ">", 80, 6, 'L', 2, "CC"),  // 57
    ROW(compareNumber, ">", 80, 6, 'L', 2, "nn"),
    ROW(compareNumber, ">", 80, 6, 'L', 2, "dd"),
    ROW(compareCurrency, ">", 80, 6, 'L', 2, "YY"),
    ROW(compareDateTime, ">", 80, 6, 'L', 2, "TT"),
    ROW(compareText, "<", 90, 6, 'L', 2, "CC"),  // 62
    ROW(compareNumber, "<", 90, 6, 'L', 2, "nn"),
    ROW(compareNumber, "<", 90, 6, 'L', 2, "dd"),
    ROW(compareCurrency, "<", 90, 6, 'L', 2, "YY"),
    ROW(compareDateTime, "<", 90, 6, 'L', 2, "TT"),
    ROW(arithmetic, "^", 100, 9, 'n', 2, "nn"),  // 67
    ROW(arithmetic, "**", 100, 9, 'n', 2, "nn"),
    ROW(arithmetic, "*", 102, 8, 'n', 2, "nn"),
    ROW(arithmetic, "/", 105, 8, 'n', 2, "nn"),
    ROW(contains, "$", 110, 6, 'L', 2, "CC"),  // 71
    ROW(chr, "CHR", 120, 0, 'C', 1, "n"),      // 72
    ROW(del, "DEL", 130, 0, 'C', 0, ""),
    ROW(str, "STR", 140, 0, 'C', 1, "n"),
    ROW(substr, "SUBSTR", 150, 0, 'C', 1, "C"),
    ROW(timeNow, "TIME", 160, 0, 'C', 0, ""),
    ROW(upper, "UPPER", 170, 0, 'C', 1, "C"),
    ROW(dtos, "DTOS", 180, 0, 'C', 1, "D"),  // 78
    ROW(dtos, "DTOS", 180, 0, 'C', 1, "d"),
    ROW(dtoc, "DTOC", 200, 0, 'C', 1, "D"),
    ROW(dtoc, "DTOC", 200, 0, 'C', 1, "d"),
    ROW(trim, "TRIM", 220, 0, 'C', 1, "C"),  // 82
    ROW(ltrim, "LTRIM", 230, 0, 'C', 1, "C"),
    ROW(alltrim, "ALLTRIM", 235, 0, 'C', 1, "C"),
    ROW(substr, "LEFT", 240, 0, 'C', 1, "C"),
    ROW(substr, "RIGHT", 245, 0, 'C', 1, "C"),
    ROW(iif, "IIF", 250, 0, 'C', 3, "LCC"),  // 87
    ROW(iif, "IIF", 250, 0, 'n', 3, "Lnn"),
    ROW(iif, "IIF", 250, 0, 'd', 3, "Ldd"),
    ROW(iif, "IIF", 250, 0, 'L', 3, "LLL"),
    ROW(stod, "STOD", 260, 0, 'd', 1, "C"),  // 91
    ROW(ctod, "CTOD", 270, 0, 'd', 1, "C"),
    ROW(dateToday, "DATE", 280, 0, 'd', 0, ""),
    ROW(datePart, "DAY", 290, 0, 'n', 1, "D"),  // 94
    ROW(datePart, "DAY", 290, 0, 'n', 1, "d"),
    ROW(datePart, "MONTH", 310, 0, 'n', 1, "D"),
    ROW(datePart, "MONTH", 310, 0, 'n', 1, "d"),
    ROW(datePart, "YEAR", 340, 0, 'n', 1, "D"),
    ROW(datePart, "YEAR", 340, 0, 'n', 1, "d"),
    ROW(deleted, "DELETED", 350, 0, 'L', 0, ""),  // 100
    ROW(reccount, "RECCOUNT", 360, 0, 'n', 0, ""),
    ROW(recno, "RECNO", 370, 0, 'n', 0, ""),
    ROW(val, "VAL", 380, 0, 'n', 1, "C"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "C"),  // 104
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "N"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "D"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "d"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "L"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "n"),
    ROW(descend, "DESCEND", 420, 0, 'C', 1, "T"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "C"),  // 111
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "N"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "D"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "d"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "L"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "n"),
    ROW(ascend, "ASCEND", 430, 0, 'C', 1, "T"),
    {nullptr, nullptr, -1, 0, 0, 0, 0, ""},
};

#undef ROW
#undef NAMELESS
