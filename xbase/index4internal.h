#pragma once
// Inside the index modules: making and freeing index file records and their tags, shared
// by the file layer (index4file.cpp) and the lifecycle (index4.cpp). Callers outside use
// index4.h.
#include <cstdint>

#include "xbase/index4file.h"
#include "xbase/index4header.h"

// A record for a file not yet opened or created (use count 0), or null with -920 raised.
index4file* index4fileNew(env4* env, table4file* data);
// Frees the record, its tags and their expressions and closes the file, writing nothing.
void index4fileFree(index4file* file);
