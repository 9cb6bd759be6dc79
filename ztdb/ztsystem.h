#pragma once

#include "ztdb/ztstr.h"

// Small services of the engine that reach the system: who the user is, the time stamp written into
// records, and error boxes.

// out becomes the login name of the user running the program; returns out's text.
const char* getCurrentUserName(ZTStr* out);

// out becomes the local time as "yyyy/mm/dd hh:mm:ss"; returns out's text.
const char* getNowStamp(ZTStr* out);

// Formats like printf into at most 499 characters (a longer text is cut, never overrun) and
// shows it as an error box.
void showErrorBox(const char* format, ...) __attribute__((format(printf, 1, 2)));
