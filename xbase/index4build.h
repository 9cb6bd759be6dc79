#pragma once
// Rebuilding every tag of an index file from sorted keys: the headers, the tag directory
// and each tag's tree are laid out anew from offset 0, each tree written bottom-up in one
// sequential pass with every node written once; the free-node list ends up empty and the
// file ends after the last node.
//
// Layout: the directory header at 0 and tag k's header at k x 1024 (a single-tag file: its
// header at 0), the trees one after the other from the first 512-byte unit after the
// headers: first the directory's, then each tag's in the file's tag order.
#include <cstdint>

#include "xbase/fwd4.h"

struct sort4;

// Fills `sort` (initialised for the tag's key length, no info bytes) with every key of
// `tag` through sort4put: 0, or an error to stop the rebuild.
using index4keySource = int32_t (*)(tag4file* tag, sort4* sort, void* context);

// Duplicate-key code of a tag during a rebuild (only unique and candidate tags use it).
using index4codeOf = int16_t (*)(tag4file* tag, void* context);

// Rebuilds the file (which must be held: index lock or unshared). 0, 20 when a unique tag
// refused a key under code 15 or 20 (the file is then not usable until rebuilt), or an
// error: -340 for a duplicate under -340 or -360, -310 for keys longer than 240.
[[nodiscard]] int32_t index4build(index4file* file, index4keySource source, index4codeOf code,
                                  void* context);
