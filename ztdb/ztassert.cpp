#include "ztdb/ztassert.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

void defaultHandler(const char* condition, const char* unit, int line) {
    std::fprintf(stderr, "Assertion failed: %s, %s line %d\n", condition, unit, line);
}

std::atomic<ZTAssertHandler> gHandler{&defaultHandler};

}  // namespace

ZTAssertHandler ztSetAssertHandler(ZTAssertHandler handler) {
    return gHandler.exchange(handler ? handler : &defaultHandler);
}

void ztAssertFailed(const char* condition, const char* unit, int line) {
    // Report the unit without its folders: "ztdb/ztarray.h", not the build machine's path.
    const char* base = unit;
    for (const char* p = unit; *p; ++p)
        if (*p == '/' && std::strncmp(p + 1, "ztdb/", 5) == 0) base = p + 1;
    gHandler.load()(condition, base, line);
}
