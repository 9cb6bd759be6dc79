#pragma once
// Inside the block buffer: what file4.cpp asks of buffer4.cpp. Callers outside
// the file layer use file4.h.
#include <cstdint>

#include "xbase/fwd4.h"

// True when reads or writes of `f` go through the buffer.
bool buffer4uses(const file4* f);
// Starts buffering by itself when the environment allows it.
void buffer4autoStart(env4* env);
// Attaches an open file to the running buffer (read-ahead and write-behind
// as its flags say).
void buffer4attach(env4* env, file4* f);
// Writes back (unless `discard`) and drops the file's blocks, then detaches
// it. A failed write-back leaves everything as it was: the error.
[[nodiscard]] int32_t buffer4detach(file4* f, bool discard);
// Writes back the file's changed blocks in runs: 0 or the error.
[[nodiscard]] int32_t buffer4writeBackFile(file4* f);
// Writes back and forgets every block of the file.
[[nodiscard]] int32_t buffer4dropFile(file4* f);
// Reads or writes through the blocks (the request is already checked).
[[nodiscard]] int32_t buffer4read(file4* f, int32_t pos, void* data, int32_t n);
[[nodiscard]] int32_t buffer4write(file4* f, int32_t pos, const void* data, int32_t n);
// After a direct write: brings cached copies of those bytes up to date.
void buffer4refreshRange(file4* f, int32_t pos, const void* data, int32_t n);
// The file's length becomes `length`: blocks past it go, the block holding
// the end keeps only the bytes before it.
void buffer4setLength(file4* f, int32_t length);

// Gives a temporary file that so far lives in the buffer its real file.
[[nodiscard]] int32_t file4tempToDisk(file4* f);
