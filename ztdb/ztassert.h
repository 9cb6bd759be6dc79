#pragma once

// Engine preconditions. A broken precondition is a programming error, never a user-visible
// failure: it is reported (condition text, source unit, line) to the handler in force and the
// operation that checked it then does nothing. The default handler writes one line to standard
// error; tests install their own to see that a check fired.
//
//   if (!ZT_ASSERT(pos < size)) return;

using ZTAssertHandler = void (*)(const char* condition, const char* unit, int line);

// Installs a handler (null restores the default) and returns the previous one.
ZTAssertHandler ztSetAssertHandler(ZTAssertHandler handler);

void ztAssertFailed(const char* condition, const char* unit, int line);

#define ZT_ASSERT(cond) ((cond) ? true : (ztAssertFailed(#cond, __FILE__, __LINE__), false))
