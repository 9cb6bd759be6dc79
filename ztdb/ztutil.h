#pragma once

// The engine's utility unit: strings, arrays, dates, folding and hashing of names, memory blocks
// and the clipboard, and the small system services.
#include "ztdb/ztarray.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztclipboard.h"
#include "ztdb/ztdatetime.h"
#include "ztdb/ztglobalmem.h"
#include "ztdb/ztnames.h"
#include "ztdb/ztstr.h"
#include "ztdb/ztsystem.h"
