#pragma once
// Closing everything of an environment and releasing it: the one unit that
// reaches every layer of the library (tables, the key language's named
// calculations, the block buffer, the memory pools).
#include <cstdint>

#include "xbase/core/fwd4.h"

// Closes every table handle; the pending negative code, else 0.
[[nodiscard]] int32_t env4closeAll(env4* env);

// Suspends buffering, closes every handle, frees the environment's memory and
// counts it out. Returns the pending code; 0 for a record never initialised.
[[nodiscard]] int32_t env4release(env4* env);
