#pragma once
// The entries through which the dBASE import and export reach the table
// library. Each passes its arguments on unchanged to the call it is named
// after and returns that call's result; `env4initForward` supplies the
// library version and `table4fieldCountForward` narrows the count to 16 bits.
//
// This header gathers all of them: the entries of create, open, close, the
// environment and the block buffer are declared beside their targets.
#include <cstdint>

#include "xbase/env4.h"
#include "xbase/file4.h"
#include "xbase/fwd4.h"
#include "xbase/table4.h"

[[nodiscard]] int32_t table4appendForward(table4* t);
[[nodiscard]] int32_t table4beginAppendForward(table4* t, int32_t ignored);
[[nodiscard]] int32_t table4skipForward(table4* t, int32_t n);
[[nodiscard]] int32_t table4goTopForward(table4* t);
[[nodiscard]] int32_t table4blankForward(table4* t);
[[nodiscard]] int32_t table4isDeletedForward(table4* t);
field4* table4fieldForward(table4* t, int32_t n);
int16_t table4fieldCountForward(table4* t);
[[nodiscard]] int32_t table4recordCountForward(table4* t);
[[nodiscard]] int32_t date4applyPictureForward(const char* date, char* result, const char* picture);
[[nodiscard]] int32_t field4assignForward(field4* f, const char* text);
const char* field4nameForward(field4* f);
[[nodiscard]] int32_t field4setTextForward(field4* f, const char* text);
[[nodiscard]] int32_t field4releaseTextForward(field4* f);
const char* field4textPointerForward(field4* f);
const char* field4pointerForward(field4* f);
const char* field4stringForward(field4* f);
char field4typeForward(field4* f);
