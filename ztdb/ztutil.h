#pragma once

// The engine's utility unit: strings, arrays and their helpers.
#include "ztdb/ztarray.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztstr.h"
