#pragma once
// Inside the index modules: making and freeing index file records and their tags, shared
// by the file layer (index4file.cpp) and the lifecycle (index4.cpp). Callers outside use
// index4.h.
#include <cstdint>

#include "xbase/index/index4file.h"
#include "xbase/index/index4header.h"

// A record for a file not yet opened or created (use count 0), or null with -920 raised.
[[nodiscard]] index4file* index4fileNew(env4* env, table4file* data);
// After its file was opened or created: the record owns the file (use count 1), whose
// header prefix reaches the disk after every other changed byte.
void index4fileOpened(index4file* file);
// Lists a tag made by tag4fileNew among the file's tags: 0, or -910 when the list
// refuses it (the tag is freed then: unlisted, nothing would free it or find it).
[[nodiscard]] int32_t index4fileAddTag(index4file* file, tag4file* tag);
// Frees the record, its tags and their expressions and closes the file, writing nothing.
void index4fileFree(index4file* file);
