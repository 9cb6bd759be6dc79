#pragma once
// Intrusive, circular, doubly linked lists.
//
// Every element begins with a `link4`; a `list4` holds the last element (its
// next is the first), a cursor (`selected`) for the list's owner, and a 16-bit
// count. Lists have no lock: each belongs to one environment, table or tag.
// After every change the whole list is verified, so a damaged list is caught
// at the change that damaged it (-910). Adding an element already present, or
// next to an anchor that is not, is -910; removing an absent one is -935.
#include <cstdint>

struct link4 {
    link4* next;
    link4* prev;
};

struct list4 {
    link4* lastNode;  // null when empty
    link4* selected;  // owner's cursor; removing it moves it to its previous
    uint16_t nLink;
};

[[nodiscard]] int32_t list4add(list4* list, void* element);
[[nodiscard]] int32_t list4addAfter(list4* list, void* anchor, void* element);
[[nodiscard]] int32_t list4addBefore(list4* list, void* anchor, void* element);
void* list4first(const list4* list);
void* list4last(const list4* list);
void* list4next(const list4* list, const void* element);  // next of null is the first
void* list4prev(const list4* list, const void* element);  // prev of null is the last
[[nodiscard]] void* list4pop(list4* list);                // removes the last element
[[nodiscard]] int32_t list4remove(list4* list, void* element);
[[nodiscard]] int list4contains(const list4* list, const void* element);
