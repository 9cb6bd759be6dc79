// Sequential readers and writers over a file4: large transfers through a
// caller's buffer.
#include <algorithm>
#include <cstring>

#include "xbase/env4.h"
#include "xbase/error4.h"
#include "xbase/file4.h"

namespace {
constexpr int32_t kUnit = 1024;
}

void file4seqReadInit(file4seqReader* r, file4* f, int32_t pos, void* buffer, int32_t size) {
    std::memset(r, 0, sizeof *r);
    r->file = f;
    r->pos = pos;
    r->buffer = static_cast<char*>(buffer);
    r->total = buffer == nullptr || size < kUnit ? 0 : size / kUnit * kUnit;
}

int32_t file4seqRead(file4seqReader* r, void* buffer, int32_t n) {
    if (r == nullptr || r->file == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90901));
    file4* f = r->file;
    if (error4pending(f->env)) return -1;
    auto* out = static_cast<char*>(buffer);
    if (r->total == 0) {
        int32_t got = file4read(f, r->pos, out, n);
        if (got > 0) r->pos += got;
        return got;
    }
    int32_t done = 0;
    while (done < n) {
        if (r->working == 0) {
            // The first refill ends on a 1024-byte boundary, later ones start on one.
            int32_t want = r->total - r->pos % kUnit;
            int32_t got = file4read(f, r->pos, r->buffer, want);
            if (got < 0) return got;
            r->avail = r->working = got;
            r->pos += got;
            if (got == 0) break;
        }
        int32_t take = std::min(n - done, r->working);
        std::memcpy(out + done, r->buffer + (r->avail - r->working), take);
        r->working -= take;
        done += take;
    }
    return done;
}

int32_t file4seqReadAll(file4seqReader* r, void* buffer, int32_t n) {
    int32_t got = file4seqRead(r, buffer, n);
    if (got < 0) return got;
    if (got < n)
        return error4raiseText(r->file->env, e4read, E4LOC(90902), r->file->name,
                               "file4seqReadAll");
    return 0;
}

void file4seqWriteInit(file4seqWriter* w, file4* f, int32_t pos, void* buffer, int32_t size) {
    std::memset(w, 0, sizeof *w);
    w->file = f;
    w->pos = pos;
    w->buffer = static_cast<char*>(buffer);
    w->total = buffer == nullptr || size < kUnit ? 0 : size / kUnit * kUnit;
    w->avail = w->total;
}

int32_t file4seqWriteFlush(file4seqWriter* w) {
    if (w == nullptr || w->file == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90905));
    int32_t used = w->total - w->avail;
    if (used == 0) return 0;
    int32_t rc = file4write(w->file, w->pos, w->buffer, used);
    if (rc < 0) return rc;
    w->pos += used;
    w->avail = w->total;
    return 0;
}

int32_t file4seqWrite(file4seqWriter* w, const void* buffer, int32_t n) {
    if (w == nullptr || w->file == nullptr) return error4raise(nullptr, e4parmNull, E4LOC(90906));
    if (error4pending(w->file->env)) return e4codeBase;
    auto* in = static_cast<const char*>(buffer);
    if (w->total == 0) {
        int32_t rc = file4write(w->file, w->pos, in, n);
        if (rc == 0) w->pos += n;
        return rc;
    }
    while (n > 0) {
        int32_t take = std::min(n, w->avail);
        std::memcpy(w->buffer + (w->total - w->avail), in, take);
        w->avail -= take;
        in += take;
        n -= take;
        if (w->avail == 0) {
            int32_t rc = file4seqWriteFlush(w);
            if (rc < 0) return rc;
        }
    }
    return 0;
}

int32_t file4seqWriteRepeat(file4seqWriter* w, int32_t n, char byte) {
    char piece[512];
    std::memset(piece, byte, sizeof piece);
    while (n > 0) {
        int32_t take = std::min<int32_t>(n, sizeof piece);
        int32_t rc = file4seqWrite(w, piece, take);
        if (rc < 0) return rc;
        n -= take;
    }
    return 0;
}
