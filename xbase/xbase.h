#pragma once
// The table library: dBASE-format tables with buffered, shared file access.
#include "xbase/currency4.h"
#include "xbase/date4.h"
#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"
#include "xbase/fwd4.h"
#include "xbase/list4.h"
#include "xbase/lock4.h"
#include "xbase/mem4.h"
#include "xbase/table4.h"
#include "xbase/util4.h"
