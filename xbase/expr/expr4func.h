#pragma once
// The function table of the key expression language and the state its
// routines share while an expression runs.
//
// Each row is one overload: all rows of an operator or function share a code
// and stand next to each other. Operators are looked up by name among the
// operator rows (longer spellings stand first, so "<>" wins over "<"),
// functions among the function rows; the parser then picks the overload whose
// parameter types fit. The table ends with a row of code -1.
//
// A routine pops its operands from the run's stack (the last operand on top),
// writes its result at the work-area base plus its entry's offset (or, for
// in-place routines, over its first operand, which lies there) and pushes the
// result's address. The single run state is guarded by the evaluator's lock.
#include <cstdint>

#include "xbase/expr/expr4.h"

struct expr4func {
    expr4routine routine;  // null for the row that has none
    const char* name;      // null for nameless rows
    int16_t code;
    uint8_t nameLen;
    uint8_t priority;   // operators only
    char type;          // result type
    int8_t paramCount;  // -1: two or more operands, all of the first type
    char params[4];     // up to three letters
};

extern const expr4func expr4functions[];

constexpr int32_t expr4stackDepth = 20;  // pending operands at most

struct expr4run {
    char* stack[expr4stackDepth];
    int32_t depth;
    const expr4entry* entry;  // being run
    const char* constants;
    expression4* expr;
    char* base;     // the work area
    int32_t error;  // first failure of a routine, 0 while none
};

// Rows the parser refers to by number.
constexpr int32_t expr4rowCharField = 0;  // by reference
constexpr int32_t expr4rowCharCopy = 1;
constexpr int32_t expr4rowLogField = 2;
constexpr int32_t expr4rowDateDays = 3;  // date field read as a day number
constexpr int32_t expr4rowDateField = 4;
constexpr int32_t expr4rowNumDouble = 5;  // numeric field read as a double
constexpr int32_t expr4rowNumField = 6;
constexpr int32_t expr4rowCurrencyField = 7;
constexpr int32_t expr4rowDoubleField = 8;
constexpr int32_t expr4rowIntField = 9;
constexpr int32_t expr4rowDateTimeField = 10;
constexpr int32_t expr4rowIntDouble = 11;
constexpr int32_t expr4rowCurrencyDouble = 12;
constexpr int32_t expr4rowNumConst = 14;
constexpr int32_t expr4rowCharConst = 15;
constexpr int32_t expr4rowFirstDotted = 16;  // .TRUE. .T. .FALSE. .F. .NOT.
constexpr int32_t expr4rowNot = 20;
constexpr int32_t expr4rowFirstOperator = 21;
constexpr int32_t expr4rowJoin = 23;
constexpr int32_t expr4rowJoinTrimmed = 24;  // closes up trailing NUL bytes
constexpr int32_t expr4rowMinusText = 28;
constexpr int32_t expr4rowLastOperator = 71;
constexpr int32_t expr4rowFirstFunction = 72;
constexpr int32_t expr4rowDtos = 78;

// Codes of the operators and functions the parser treats specially.
constexpr int16_t expr4codeOr = 20;
constexpr int16_t expr4codeAnd = 22;
constexpr int16_t expr4codePlus = 25;
constexpr int16_t expr4codeMinus = 30;
constexpr int16_t expr4codeEqual = 40;
constexpr int16_t expr4codeNotEqual = 50;
constexpr int16_t expr4codeGreaterEqual = 60;
constexpr int16_t expr4codeLessEqual = 70;
constexpr int16_t expr4codeGreater = 80;
constexpr int16_t expr4codeLess = 90;
constexpr int16_t expr4codePower = 100;
constexpr int16_t expr4codeMultiply = 102;
constexpr int16_t expr4codeDivide = 105;
constexpr int16_t expr4codeContains = 110;
constexpr int16_t expr4codeChr = 120;
constexpr int16_t expr4codeDel = 130;
constexpr int16_t expr4codeStr = 140;
constexpr int16_t expr4codeSubstr = 150;
constexpr int16_t expr4codeTime = 160;
constexpr int16_t expr4codeUpper = 170;
constexpr int16_t expr4codeDtos = 180;
constexpr int16_t expr4codeDtoc = 200;
constexpr int16_t expr4codeTrim = 220;
constexpr int16_t expr4codeLtrim = 230;
constexpr int16_t expr4codeAlltrim = 235;
constexpr int16_t expr4codeLeft = 240;
constexpr int16_t expr4codeRight = 245;
constexpr int16_t expr4codeIif = 250;
constexpr int16_t expr4codeStod = 260;
constexpr int16_t expr4codeCtod = 270;
constexpr int16_t expr4codeDay = 290;
constexpr int16_t expr4codeMonth = 310;
constexpr int16_t expr4codeReccount = 360;
constexpr int16_t expr4codeVal = 380;
constexpr int16_t expr4codeDescend = 420;
constexpr int16_t expr4codeAscend = 430;
