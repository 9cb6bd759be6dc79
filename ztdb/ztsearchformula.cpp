#include "ztdb/ztsearchformula.h"

#include "ztdb/ztformula.h"
#include "ztdb/ztrecord.h"

ZTSearchFormula::ZTSearchFormula() = default;
ZTSearchFormula::~ZTSearchFormula() = default;

void ZTSearchFormula::clear() {
    code_.clear();
    expression_.reset();
    record_.reset();
    file_ = nullptr;
}

bool ZTSearchFormula::compile(ZTFile* file, const char* text) {
    clear();
    if (file == nullptr) return false;
    ZTTranslator translator(file);
    const char* code = nullptr;
    if (translator.translate(text ? text : "", &code) != ZTTranslator::kOk || code == nullptr ||
        *code == 0)
        return false;
    code_.assign(code);
    code_.insert(ZTStr::kEnd, "o");
    file_ = file;
    return true;
}

bool ZTSearchFormula::accepts(uint32_t recordID) {
    if (isEmpty()) return true;
    if (!record_) record_ = std::make_unique<ZTRecord>(file_, nullptr, nullptr, nullptr);
    if (!expression_) {
        expression_ = std::make_unique<ZTExpression>();
        expression_->setFile(file_);
    }
    record_->read(recordID);
    ZTStr out;
    (void)expression_->evaluate(&out, record_.get(), code_.text, 0, 0);
    return isTrue(out.text);
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
