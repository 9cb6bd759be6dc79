#include "ztdb/ztatom.h"

ZTAtom::ZTAtom(ZTFile* file_, uint8_t mode_) : ZTFileAtom(file_), mode(mode_) {}
ZTAtom::ZTAtom(const ZTAtom& other) : ZTFileAtom(other.file) {
    *this = other;
}
ZTAtom& ZTAtom::operator=(const ZTAtom& other) {
    if (&other == this) return *this;
    copyFrom(other);
    mode = other.mode;
    state = other.state;
    linkRecord = other.linkRecord;
    linkField = other.linkField;
    relativePosition = other.relativePosition;
    return *this;
}
void ZTAtom::reset(ZTFile* file_, uint8_t mode_) {
    init(file_);
    setMode(mode_);
}
void ZTAtom::setMode(uint8_t mode_) {
    mode = mode_;
    state = 0;
    linkRecord = 0;
    linkField = 0;
}
bool ZTAtom::loadValue() {
    return true;
}
int ZTAtom::reposition(bool exact) {
    return ZTFileAtom::find(exact);
}
uint32_t ZTAtom::recordFlags(uint32_t) {
    return 0;
}
uint32_t ZTAtom::fieldFlags(uint32_t) {
    return 0;
}
void ZTAtom::valueLoaded() {}
int ZTAtom::findOwnerRow(uint32_t) {
    return -1;
}
int ZTAtom::find(uint32_t, uint32_t, uint32_t, const char*, ZTSet*, bool) {
    return -1;
}
int ZTAtom::findNext(const ZTAtom*, int, ZTSet*, bool) {
    return -1;
}
int ZTAtom::findLast(uint32_t, uint32_t, bool, ZTSet*) {
    return -1;
}
int ZTAtom::nextInRecord(const ZTAtom*, int, ZTSet*, bool, bool, bool, uint32_t, uint32_t,
                         const ZTArray<unsigned long>*, const ZTArray<unsigned long>*) {
    return -1;
}
int ZTAtom::findValue(uint32_t, const char*, bool, bool, bool, int) {
    return -1;
}
int ZTAtom::findNextValue(const ZTAtom*, int, bool) {
    return -1;
}
int ZTAtom::findLastValue(uint32_t, bool) {
    return -1;
}
int ZTAtom::seekCondition(ZTFilter*, uint32_t, bool, uint32_t, int) {
    return -1;
}
int ZTAtom::stepRecord(uint32_t, int) {
    return -1;
}
int ZTAtom::gotoRelative(double) {
    return -1;
}
bool ZTAtom::recordPasses(uint32_t, ZTFilter*, const char*) {
    return false;
}
int ZTAtom::findOrAddFieldName(uint32_t, const char*, uint32_t* outID) {
    if (outID) *outID = 0;
    return 0;
}
int ZTAtom::write(uint32_t, uint32_t, uint32_t, const char*, uint32_t, bool, bool, bool, uint32_t) {
    return kWriteFailed;
}
int ZTAtom::accept(bool, bool, int) {
    return 1;
}
bool ZTAtom::placeholder(uint32_t, uint32_t, ZTSet*) {
    return false;
}
int ZTAtom::done(int result) {
    unlockTables();
    return result;
}
void ZTAtom::clearRow() {}

ZTBinaryAtom::ZTBinaryAtom(ZTFile* file_, uint8_t mode_) : ZTAtom(file_, mode_) {}
ZTBinaryAtom::~ZTBinaryAtom() {
    delete[] buffer;
}
bool ZTBinaryAtom::readData() {
    return false;
}
int ZTBinaryAtom::writeData(uint32_t, uint32_t, uint32_t, const unsigned char*, uint32_t, bool) {
    return kWriteFailed;
}
