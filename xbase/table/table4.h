#pragma once
// Data files: dBASE-format tables (version 0x03, or 0x30 with the extended
// field types and null flags), made with `table4create`, opened with
// `table4open` and closed with `table4close`.
//
// One `table4file` exists per open data file and environment, shared by every
// handle (`table4`) the environment opens on it (table4file.h). "The same file"
// means the same device and inode, whatever the path. A data file's default
// extension is "dbf"; a name given without one opens "name.dbf" or, failing
// that, "name.DBF".
#include <cstdint>

#include "xbase/core/fwd4.h"
#include "xbase/record/table4file.h"

// One requested tag of a production index; a list ends with a null name.
struct tag4def {
    const char* name;
    const char* expression;
    const char* filter;
    int16_t unique;
    int16_t descending;
};

[[nodiscard]] table4* table4create(env4* env, const char* name, const field4def* fields,
                                   const tag4def* tags);
[[nodiscard]] table4* table4open(env4* env, const char* name);
// 0 or the error met; a pending error is cleared for the close, restored and returned.
[[nodiscard]] int32_t table4close(table4* t);

[[nodiscard]] table4* table4createForward(env4* env, const char* name, const field4def* fields,
                                          const tag4def* tags);
[[nodiscard]] table4* table4openForward(env4* env, const char* name);
[[nodiscard]] int32_t table4closeForward(table4* t);
