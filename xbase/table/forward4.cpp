#include "xbase/table/forward4.h"

#include "xbase/record/field4.h"
#include "xbase/record/table4access.h"
#include "xbase/table/table4nav.h"
#include "xbase/table/table4write.h"
#include "xbase/values/date4.h"

int32_t table4appendForward(table4* t) {
    return table4append(t);
}
int32_t table4beginAppendForward(table4* t, int32_t ignored) {
    return table4beginAppend(t, ignored);
}
int32_t table4skipForward(table4* t, int32_t n) {
    return table4skip(t, n);
}
int32_t table4goTopForward(table4* t) {
    return table4goTop(t);
}

int32_t table4blankForward(table4* t) {
    return table4blank(t);
}
int32_t table4isDeletedForward(table4* t) {
    return table4isDeleted(t);
}
field4* table4fieldForward(table4* t, int32_t n) {
    return table4field(t, n);
}
int16_t table4fieldCountForward(table4* t) {
    return static_cast<int16_t>(table4fieldCount(t));
}
int32_t table4recordCountForward(table4* t) {
    return table4recordCount(t);
}
int32_t date4applyPictureForward(const char* date, char* result, const char* picture) {
    return date4applyPicture(date, result, picture);
}
int32_t field4assignForward(field4* f, const char* text) {
    return field4assign(f, text);
}
const char* field4nameForward(field4* f) {
    return field4name(f);
}
int32_t field4setTextForward(field4* f, const char* text) {
    return field4setText(f, text);
}
int32_t field4releaseTextForward(field4* f) {
    return field4releaseText(f);
}
const char* field4textPointerForward(field4* f) {
    return field4textPointer(f);
}
const char* field4pointerForward(field4* f) {
    return field4pointer(f);
}
const char* field4stringForward(field4* f) {
    return field4string(f);
}
char field4typeForward(field4* f) {
    return field4type(f);
}
