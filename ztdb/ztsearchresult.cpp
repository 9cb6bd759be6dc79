// The search's own result description.
#include "ztdb/ztsearch.h"

void ZTSearch::resultMake() {}
void ZTSearch::resultFree() {}
void ZTSearch::resultReset() {}
void ZTSearch::resultSetQuery(const char*, bool, const ZTArray<uint32_t>*) {}
void ZTSearch::resultDropList() {}

bool ZTSearch::queryResult(ZTResult*, ZTCallback, void*, int32_t, bool, uint32_t) {
    return false;
}

void ZTSearch::getResult(ZTResult*) {}
