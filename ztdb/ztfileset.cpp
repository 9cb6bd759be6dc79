// Set membership of records.
#include "ztdb/ztatom.h"
#include "ztdb/ztfile.h"

uint32_t ZTFile::getSetFirstField(uint32_t) {
    return 0;
}
bool ZTFile::addToSet(uint32_t, uint32_t, bool) {
    return false;
}
bool ZTFile::removeFromSet(uint32_t, uint32_t, ZTRefreshInfo*) {
    return false;
}
bool ZTFile::removeFromAllSets(uint32_t, ZTRefreshInfo*) {
    return false;
}
bool ZTFile::writeMembership(uint32_t, uint32_t, uint32_t) {
    return false;
}
bool ZTFile::deleteMembership(uint32_t, uint32_t) {
    return false;
}
bool ZTFile::retieSets(uint32_t, uint32_t, const ZTArray<unsigned long>*, bool) {
    return false;
}
void ZTFile::collectTiedSets(uint32_t, uint32_t, ZTArray<unsigned long>*) {}
bool ZTFile::rebuildSetTies(uint32_t, bool) {
    return false;
}
void ZTFile::getRowTypes(uint32_t, ZTArray<RowType>* list) {
    list->clear();
}
uint32_t ZTFile::getRecordSets(uint32_t, ZTArray<unsigned long>* out) {
    out->clear();
    return 0;
}
uint32_t ZTFile::getRecordSetsFiltered(uint32_t, ZTArray<unsigned long>* out, uint32_t) {
    out->clear();
    return 0;
}
