// Record images: values computed by formulas.
#include <cstring>

#include "ztdb/ztformula.h"
#include "ztdb/ztrecord.h"

bool ZTRecord::isComputed(uint32_t i) {
    return hasValueAttr(i, kAttrFormula, kAttrOwn | kAttrOfField);
}

bool ZTRecord::recompute(uint32_t i) {
    if (!checkWritable(i)) return false;
    ZTStr formula;
    if (!getValueAttr(i, kAttrFormula, &formula, kAttrOwn | kAttrOfField)) return false;
    return computeValue(i, formula.text);
}

bool ZTRecord::computeValue(uint32_t i, const char* formula) {
    if (!checkWritable(i)) return false;
    const int sequence = getSequence(i);
    ZTStr result;
    if (sequence < 0 || !evalFormula(formula, &result, uint32_t(sequence))) return false;
    // The value's own attributes stay with it: its formula may be one of them.
    ZTStr attributes;
    getValueTag(i, 'a', &attributes);
    const bool directive = std::strncmp(result.text, "##LINKTO:", 9) == 0 ||
                           std::strncmp(result.text, "##KEEP", 6) == 0;
    if (attributes.length && !directive) result.setTag('a', attributes);
    // An error is stored as the value, as the user would see it computed.
    return ZTFormulaLinks().storeResult(this, i, result.text);
}

bool ZTRecord::evalFormula(const char* formula, ZTStr* out, uint32_t sequence) {
    out->clear();
    ZTTranslator translator(ztfile);
    const char* code = nullptr;
    if (translator.translate(formula, &code) != ZTTranslator::kOk) return false;
    if (!*code) return true;
    ZTStr run;
    run.assign(code);
    run.insert(ZTStr::kEnd, 'o');
    evalCode(run.text, out, sequence);
    return true;
}

bool ZTRecord::evalCode(const char* code, ZTStr* out, uint32_t sequence) {
    ZTExpression expression(code, ZTExpression::kModeReplace, 0);
    return expression.evaluate(out, this, nullptr, 0, sequence);
}

bool ZTRecord::recomputeAll() {
    loadAllValues();
    bool any = false;
    for (uint32_t i = 0; i < getLoadedCount(); ++i)
        if (recompute(i)) any = true;
    return any;
}
