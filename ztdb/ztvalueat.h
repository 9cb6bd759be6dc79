#pragma once
// Values at exact places, for the engine's own records (names, field lists, attributes) and for
// rows copied or imported into new records, where no position is shifted and no value is
// matched against another: the row at (record, type, position) is rewritten, removed or made.
// Writers run under the caller's counted lock.
#include <cstdint>
#include <functional>

#include "ztdb/ztrec.h"

// The rec stands on the row of (record, type) at exactly the position: 0, else -1.
int seekPosition(ZTRec* rec, uint32_t record, uint32_t type, uint32_t position);

// The value number of the record's first own value of the type (no link or membership row);
// 0 when it has none.
uint32_t firstOwnValue(ZTFile* file, uint32_t record, uint32_t type);

// Stores at (record, type, position): a link to linkValueID when it is not 0, else the text. The
// row there is rewritten (nothing is written when it already holds that value); an empty text
// without link removes it. valueID (may be null) gets the row's value number, 0 when removed.
bool storeValueAt(ZTFile* file, uint32_t record, uint32_t type, uint32_t position, const char* text,
                  uint32_t linkValueID, uint32_t* valueID = nullptr);

// The record of the first own value of the type (in value order) whose text is exactly text;
// valueID (may be null) gets its value number. 0 when none.
uint32_t findExactValue(ZTFile* file, uint32_t type, const char* text, uint32_t* valueID = nullptr);

// A new row (record, type, position) holding the text, or a link to linkValueID when it is not
// 0; valueID (may be null) gets its value number.
bool addValueRow(ZTFile* file, uint32_t record, uint32_t type, uint32_t position, const char* text,
                 uint32_t linkValueID, uint32_t* valueID = nullptr);

// Calls visit for every row that carries the value number (its owner and the rows linking to
// it or tied to it), under the caller's counted lock. False when a read failed.
bool forEachRowOfValue(ZTFile* file, uint32_t valueID,
                       const std::function<void(const ZTRec&)>& visit);
