#pragma once
// Key expressions: the xBase expression language of index tags and filters.
//
// `expr4parse` turns a text such as UPPER(NAME)+DTOS(BORN) into an
// `expression4`: a flat list of evaluation entries in postfix order, each bound
// to a row of the function table (expr4func.h), with the result type and
// length fixed at parse time. `expr4evaluate` runs the list against the current
// record; `expr4key` turns the result into a key whose unsigned byte order is
// the value order.
//
// Results live in the environment's work buffer and keys in its key buffer:
// the next evaluation in that environment reuses both, so a caller copies what
// it keeps. Evaluations of every thread run one at a time under the evaluator's
// lock (mem4evalLock).
//
// Result types: C text (not terminated), L logical (int32 0 or 1), D date text
// CCYYMMDD, d day number (double), N number text, n double, Y currency (int64,
// 4 decimals), T datetime (int32 day number, int32 milliseconds), I int32.
// Binary values are in the host's (little-endian) order, as fields store them.
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/core/list4.h"

constexpr int32_t expr4collationNone = 0;
constexpr int32_t expr4collationGeneral = 1;
constexpr uint8_t expr4optionCandidate = 4;  // a tag option: no null prefix on keys

// What key building needs of an index tag. The tag record keeps one for its
// whole life and hands it to `expr4parse` (which remembers it), `expr4key` and
// `expr4keyConvert`.
struct expr4tag {
    int32_t collation;        // expr4collationNone or expr4collationGeneral
    uint8_t options;          // the tag header's options
    const uint8_t* codePage;  // collate4codePage table of the data file; null: identity
};

struct expr4run;
using expr4routine = void (*)(expr4run* run);

// One evaluation entry. `param` depends on the routine: the field's offset in
// the record, the start of SUBSTR/LEFT/RIGHT, the decimals of STR, a
// constant's or date picture's offset in the constants area, the compared
// length (or first length) of two-operand text routines, the split point of a
// join. `aux` is the tie result of text order, the second length of $, the
// operand length of STOD, CTOD and VAL.
struct expr4entry {
    int16_t fieldNumber;  // 1-based; 0 when the entry reads no field
    field4* field;
    int8_t ownTable;       // the field belongs to the expression's own table
    char** record;         // where the address of the record buffer read is kept
    table4file* dataFile;  // RECCOUNT counts this file's records
    int32_t len;           // result length
    int32_t entryCount;    // entries of the sub-expression ending here
    int32_t operands;
    int32_t offset;  // of the result in the work area
    int32_t param;
    int32_t aux;
    int32_t row;  // in expr4functions
    expr4routine routine;
};

// One allocation holds the record, its entries, its constants and the text.
struct expression4 {
    expr4entry* entries;
    int32_t entryCount;
    char* source;
    char* constants;
    int32_t len;          // result length
    char type;            // result type letter
    const expr4tag* tag;  // null for an expression not bound to a tag
    int32_t collation;
    table4* table;  // parsed against, or last pointed at by expr4setTable
    table4file* dataFile;
    env4* env;
    int32_t workLength;   // bytes of work area one evaluation needs
    int8_t hasTrim;       // TRIM, LTRIM or ALLTRIM: text may end in NUL bytes
    int8_t hasCurrency;   // reads a currency field: numbers key in the currency form
    int8_t hasNullable;   // reads a nullable field: keys carry the null prefix
    int8_t fieldsJoined;  // text fields joined by '+' alone: the value is their bytes in order
};

// Parses `text` against the fields of `table` (and of other open tables by
// alias). With a tag, the table's own fields are read through the data file's
// current-record pointer, so every handle of the file can evaluate it
// (expr4setTable). Null on failure, with the error in the environment (a field
// name that is not found fails quietly unless errFieldName is set). Trailing
// text after the expression is -410.
[[nodiscard]] expression4* expr4parse(table4* table, const char* text, const expr4tag* tag);
void expr4free(expression4* expr);
// The source text; "" for null.
const char* expr4source(const expression4* expr);

// Evaluates against the current record: the result length, with *result
// pointing into the environment's work area; negative on error.
[[nodiscard]] int32_t expr4evaluate(expression4* expr, char** result);
// A logical expression's value: 1 or 0; -950 for another type; negative on error.
[[nodiscard]] int32_t expr4true(expression4* expr);
// Evaluates and builds the key for `tag` (null: the expression's own tag):
// the key length, with *key pointing at the NUL-terminated key.
[[nodiscard]] int32_t expr4key(expression4* expr, char** key, const expr4tag* tag);
// Builds the key of a value of `type` and `len` bytes at *value into the key
// buffer and points *value at it; the key length or an error (-910, or -440
// for a number beyond the currency form).
[[nodiscard]] int32_t expr4keyConvert(expression4* expr, char** value, int32_t len, char type,
                                      const expr4tag* tag);
// 1 when a nullable field that the expression reads is null in the current record,
// else 0 (candidate tags refuse such keys).
[[nodiscard]] int32_t expr4isNull(const expression4* expr);
// Key length of a tag with this expression (see expr4keyConvert).
[[nodiscard]] int32_t expr4keyLength(const expression4* expr);
// Points a tag's expression at a handle of its data file: its own fields are
// read from that handle and the data file's current record is its buffer. A
// handle of another data file is -930. The tag code calls it before it
// evaluates a tag's expression for a handle; the first evaluation of a tag's
// expression without it reads an open handle of the file. An expression must
// not outlive the tables it reads.
[[nodiscard]] int32_t expr4setTable(expression4* expr, table4* table);

// Named calculations: parsed expressions kept by name in the environment,
// freed by env4release.
struct expr4calc {
    link4 link;  // in env4::calcs
    expression4* expr;
    char name[20];  // upper case
};
// Keeps `expr` under `name` (up to 19 characters, any case), replacing a
// calculation of that name; the calculation owns the expression from then on,
// and frees it on failure too. Null on failure.
expr4calc* expr4calcCreate(env4* env, expression4* expr, const char* name);
expr4calc* expr4calcLookup(env4* env, const char* name);
void expr4calcDelete(env4* env, expr4calc* calc);
void expr4calcReleaseAll(env4* env);
