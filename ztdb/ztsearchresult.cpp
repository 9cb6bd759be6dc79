// The search's own result description: the query it runs, and the rows it has seen.
#include "ztdb/ztassert.h"
#include "ztdb/ztresult.h"
#include "ztdb/ztsearch.h"

void ZTSearch::resultMake() {
    result_ = new ZTResult(nullptr, false);
}

void ZTSearch::resultFree() {
    delete result_;
    result_ = nullptr;
}

void ZTSearch::resultReset() {
    result_->reset(callerFile_, false);
}

void ZTSearch::resultSetQuery(const char* text, uint32_t sortingField, uint32_t setMember,
                              uint32_t setFirstField, bool option,
                              const ZTArray<uint32_t>* setIDs) {
    result_->setQuery(text, sortingField, setMember, setFirstField, option, setIDs);
}

void ZTSearch::resultDropList() {
    result_->setIDList(nullptr);
}

bool ZTSearch::queryResult(ZTResult* result, ZTCallback callback, void* context, int32_t rowsWanted,
                           bool useScroll, uint32_t startPosition) {
    if (!ZT_ASSERT(isValid()) || !ZT_ASSERT(result != nullptr) ||
        !ZT_ASSERT(result->getFile() != nullptr &&
                   result->getFile()->getFileID() == callerFile_->getFileID()))
        return false;
    const ZTArray<uint32_t>& sets = result->getQueryIDs();
    return query(result->getText(), result->getSortingField(), result->getSetMember(),
                 result->getSetFirstField(), callback, context, rowsWanted,
                 result->getOption() ? 1 : 0, sets.size ? &sets : nullptr, useScroll,
                 startPosition);
}

void ZTSearch::getResult(ZTResult* out) {
    if (!ZT_ASSERT(out != nullptr)) return;
    {
        lock();
        if (!result_->hasIDList()) {
            ZTArray<uint32_t> ids;
            for (int32_t i = 0; i < windowCount(); ++i) ids.add(windowAtom(i)->recordID, true);
            if (startReached_ && endReached_)
                result_->setIDList(&ids);
            else
                result_->storeIDList(&ids);
        }
        unlock();
    }
    out->copy(*result_);
}
