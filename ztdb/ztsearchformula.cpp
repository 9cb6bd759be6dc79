#include "ztdb/ztsearchformula.h"

#include "ztdb/ztrecord.h"

ZTSearchFormula::ZTSearchFormula() = default;
ZTSearchFormula::~ZTSearchFormula() = default;

void ZTSearchFormula::clear() {
    code_.clear();
    record_.reset();
    file_ = nullptr;
}

// No formula language is linked in yet: a formula never compiles, so a query's text after '='
// gives no condition.
bool ZTSearchFormula::compile(ZTFile* file, const char* text) {
    clear();
    (void)file;
    (void)text;
    return false;
}

bool ZTSearchFormula::accepts(uint32_t recordID) {
    (void)recordID;
    return isEmpty();
}

bool ZTSearchFormula::isTrue(const char* result) {
    const char* p = result ? result : "";
    if (*p == '-' || *p == '+') ++p;
    if (!*p) return false;
    bool nonZero = false;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (*p != '0') nonZero = true;
    }
    return nonZero;
}
