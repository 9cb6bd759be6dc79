#pragma once
// Inside the index modules: making and freeing index file records and their tags, shared
// by the file layer (index4file.cpp) and the lifecycle (index4.cpp). Callers outside use
// index4.h.
#include <cstdint>

#include "xbase/index4.h"
#include "xbase/index4header.h"

// A record for a file not yet opened or created (use count 0), or null with -920 raised.
[[nodiscard]] index4file* index4fileNew(env4* env, table4file* data);
// A tag of the file made from its header (the texts are copied); null when memory is out.
[[nodiscard]] tag4file* index4fileNewTag(index4file* file, const tag4header& header,
                                         uint32_t headerOffset, const char* name);
// Lists a tag made by index4fileNewTag among the file's tags: 0, or -910 when the list
// refuses it (the tag is freed then: unlisted, nothing would free it or find it).
[[nodiscard]] int32_t index4fileAddTag(index4file* file, tag4file* tag);
// Frees the record, its tags and their expressions and closes the file, writing nothing.
void index4fileFree(index4file* file);
