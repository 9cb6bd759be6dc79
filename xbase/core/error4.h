#pragma once
// Result and error codes of the table library, and how errors are raised.
//
// Errors are negative codes kept in the environment (`env4::errorCode`) with a
// five-digit location whose first three digits name the module that raised
// it; library sites write it as E4LOC(n), which keeps it unique (error4loc.h).
// While a negative code is pending every library call returns -1410 (or -1,
// or null) and does nothing, until `error4setCode(env, 0)` clears it.
// Small positive codes are outcomes, not errors.
#include <cstdint>
#include <type_traits>

#include "xbase/core/env4.h"
#include "xbase/core/error4loc.h"

// Outcomes.
constexpr int32_t r4success = 0;
constexpr int32_t r4after = 2;      // positioned after the key sought
constexpr int32_t r4eof = 3;        // end of file
constexpr int32_t r4bof = 4;        // before the first record
constexpr int32_t r4entry = 5;      // record missing
constexpr int32_t r4unique = 20;    // duplicate key refused
constexpr int32_t r4locked = 50;    // still locked
constexpr int32_t r4noCreate = 60;  // create refused quietly
constexpr int32_t r4noOpen = 70;    // open refused quietly
constexpr int32_t r4noTag = 80;     // no tag

// Errors.
constexpr int32_t e4create = -20;          // creation refused
constexpr int32_t e4len = -30;             // file length unavailable
constexpr int32_t e4lenSet = -40;          // file length could not be set
constexpr int32_t e4lock = -50;            // lock refused
constexpr int32_t e4open = -60;            // open failed
constexpr int32_t e4permiss = -61;         // access denied
constexpr int32_t e4access = -62;          // access mode conflict
constexpr int32_t e4numFiles = -63;        // too many open files
constexpr int32_t e4fileFind = -64;        // file not found
constexpr int32_t e4instance = -69;        // data file already open in this environment
constexpr int32_t e4read = -70;            // short read, or record missing
constexpr int32_t e4unlock = -110;         // unlock failed
constexpr int32_t e4write = -120;          // write failed or refused
constexpr int32_t e4data = -200;           // header or field definition invalid
constexpr int32_t e4fieldName = -210;      // field name unknown
constexpr int32_t e4recordLen = -230;      // record or header too long
constexpr int32_t e4tableFull = -240;      // record beyond the last one that can be locked
constexpr int32_t e4index = -310;          // index corrupt
constexpr int32_t e4tagName = -330;        // tag name unknown
constexpr int32_t e4unique = -340;         // unique key violated
constexpr int32_t e4tagInfo = -350;        // bad tag definition
constexpr int32_t e4candidate = -360;      // candidate key code
constexpr int32_t e4width = -440;          // number does not fit its text width
constexpr int32_t e4bufRead = -610;        // read without data behind it
constexpr int32_t e4bufSuspend = -620;     // write-back failed on suspend
constexpr int32_t e4bufFlush = -630;       // flush failed
constexpr int32_t e4info = -910;           // internal inconsistency
constexpr int32_t e4memory = -920;         // out of memory
constexpr int32_t e4parm = -930;           // argument out of range
constexpr int32_t e4parmNull = -935;       // null argument
constexpr int32_t e4result = -950;         // unexpected result
constexpr int32_t e4struct = -970;         // record in the wrong state
constexpr int32_t e4notSupported = -1020;  // field type not supported
constexpr int32_t e4version = -1095;       // wrong library version
constexpr int32_t e4codeBase = -1410;      // an error is already pending (never stored)
constexpr int32_t e4name = -1420;          // name too long or missing

// Key-expression errors, raised by expr4parse. -440 is not among them: it is
// e4width everywhere, and an expression nested too deep is -445.
constexpr int32_t e4exprComma = -400;       // no ',' or ')' after a function argument
constexpr int32_t e4exprTrailing = -410;    // text left after the expression (stray ')' or ',')
constexpr int32_t e4exprAlias = -420;       // unknown alias before "->"
constexpr int32_t e4exprIifLength = -422;   // IIF branches of different lengths
constexpr int32_t e4exprConstant = -425;    // length, start or decimals not a numeric constant
constexpr int32_t e4exprArgCount = -430;    // wrong number of arguments
constexpr int32_t e4exprNesting = -445;     // 20 pending operands, or nesting over 100 deep
constexpr int32_t e4exprParen = -450;       // ')' missing
constexpr int32_t e4exprType = -460;        // operand type wrong, or a field type not read
constexpr int32_t e4exprFunction = -470;    // unknown function name
constexpr int32_t e4exprOperator = -480;    // unknown operator
constexpr int32_t e4exprOperand = -490;     // unrecognised operand, or field name too long
constexpr int32_t e4exprQuote = -500;       // string constant without its closing quote
constexpr int32_t e4exprOtherTable = -510;  // a field of another table in a tag's expression

// Receives every raised error. The program installs none: errors are only
// stored and returned. Tests install one to see errors raised without an
// environment (memory and list damage).
using error4hookFn = void (*)(env4* env, int32_t code, int32_t location, const char* text1,
                              const char* text2, const char* text3);
void error4setHook(error4hookFn hook);

// Stores code and location in `env` (when not null), tells the hook, returns code.
int32_t error4raise(env4* env, int32_t code, int32_t location);
int32_t error4raiseText(env4* env, int32_t code, int32_t location, const char* text1,
                        const char* text2 = nullptr, const char* text3 = nullptr);

// Stores `code` and returns the previous one; 0 clears a pending error.
int32_t error4setCode(env4* env, int32_t code);

// The pending code (0 when none); -935 for a null environment.
[[nodiscard]] int32_t error4code(const env4* env);

// True when `env` is null or holds a pending negative error: the call that
// asks must return -1410 (or null) at once. Asked at the top of nearly every
// call, so kept where the compiler can fold it into the caller.
inline bool error4pending(const env4* env) {
    return env == nullptr || env->errorCode < 0;
}

// Runs `step` with a pending error put aside, for releases and restores that
// must happen whatever failed before; the error is pending again afterwards.
// The step's own result is returned; an error it raises gives way to the one
// that was pending. A step that takes an int32_t is handed the pending code
// (0 when none).
template <typename Step>
int32_t error4aside(env4* env, Step step) {
    const int32_t pending = error4code(env) < 0 ? error4code(env) : 0;
    if (pending != 0) error4setCode(env, 0);
    int32_t rc;
    if constexpr (std::is_invocable_v<Step, int32_t>)
        rc = step(pending);
    else
        rc = step();
    if (pending != 0) error4setCode(env, pending);
    return rc;
}
