#include "xbase/list4.h"

#include "xbase/error4.h"

namespace {

link4* asLink(const void* p) {
    return static_cast<link4*>(const_cast<void*>(p));
}

// Walks the whole list and checks that it is circular, doubly linked and of
// the stated length.
int32_t verify(const list4* list) {
    if (list->lastNode == nullptr) {
        if (list->nLink != 0) return error4raise(nullptr, e4info, E4LOC(90101));
        return 0;
    }
    if (list->nLink == 0) return error4raise(nullptr, e4info, E4LOC(90102));
    link4* at = list->lastNode->next;
    for (uint32_t i = 1; i <= list->nLink; ++i) {
        if (at == nullptr || at->next == nullptr || at->prev == nullptr || at->next->prev != at ||
            at->prev->next != at)
            return error4raise(nullptr, e4info, E4LOC(90103));
        if ((at == list->lastNode) != (i == list->nLink))
            return error4raise(nullptr, e4info, E4LOC(90104));
        at = at->next;
    }
    return 0;
}

// Links `element` directly after `anchor` (or as the only element).
int32_t linkAfter(list4* list, link4* anchor, link4* element) {
    if (list->nLink == UINT16_MAX) return error4raise(nullptr, e4info, E4LOC(90105));
    if (anchor == nullptr) {
        element->next = element->prev = element;
    } else {
        element->next = anchor->next;
        element->prev = anchor;
        anchor->next->prev = element;
        anchor->next = element;
    }
    list->nLink++;
    return 0;
}

}  // namespace

int list4contains(const list4* list, const void* element) {
    if (list == nullptr || element == nullptr || list->lastNode == nullptr) return 0;
    link4* at = list->lastNode;
    for (uint32_t i = 0; i < list->nLink; ++i, at = at->next)
        if (at == element) return 1;
    return 0;
}

int32_t list4add(list4* list, void* element) {
    if (list == nullptr || element == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90110));
    if (list4contains(list, element)) return error4raise(nullptr, e4info, E4LOC(90111));
    int32_t rc = linkAfter(list, list->lastNode, asLink(element));
    if (rc < 0) return rc;
    list->lastNode = asLink(element);
    return verify(list);
}

int32_t list4addAfter(list4* list, void* anchor, void* element) {
    if (list == nullptr || anchor == nullptr || element == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90112));
    if (!list4contains(list, anchor) || list4contains(list, element))
        return error4raise(nullptr, e4info, E4LOC(90113));
    int32_t rc = linkAfter(list, asLink(anchor), asLink(element));
    if (rc < 0) return rc;
    if (list->lastNode == anchor) list->lastNode = asLink(element);
    return verify(list);
}

int32_t list4addBefore(list4* list, void* anchor, void* element) {
    if (list == nullptr || anchor == nullptr || element == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90114));
    if (!list4contains(list, anchor) || list4contains(list, element))
        return error4raise(nullptr, e4info, E4LOC(90115));
    // Before the first element the new one becomes the first; the last stays.
    int32_t rc = linkAfter(list, asLink(anchor)->prev, asLink(element));
    if (rc < 0) return rc;
    return verify(list);
}

void* list4first(const list4* list) {
    return (list == nullptr || list->lastNode == nullptr) ? nullptr : list->lastNode->next;
}

void* list4last(const list4* list) {
    return list == nullptr ? nullptr : list->lastNode;
}

void* list4next(const list4* list, const void* element) {
    if (element == nullptr) return list4first(list);
    if (list == nullptr || element == list->lastNode) return nullptr;
    return asLink(element)->next;
}

void* list4prev(const list4* list, const void* element) {
    if (element == nullptr) return list4last(list);
    if (list == nullptr || element == list4first(list)) return nullptr;
    return asLink(element)->prev;
}

int32_t list4remove(list4* list, void* element) {
    if (list == nullptr || element == nullptr)
        return error4raise(nullptr, e4parmNull, E4LOC(90120));
    if (!list4contains(list, element)) return error4raise(nullptr, e4parmNull, E4LOC(90121));
    link4* link = asLink(element);
    if (list->selected == link) list->selected = (list->nLink == 1) ? nullptr : link->prev;
    if (list->nLink == 1) {
        list->lastNode = nullptr;
    } else {
        link->prev->next = link->next;
        link->next->prev = link->prev;
        if (list->lastNode == link) list->lastNode = link->prev;
    }
    list->nLink--;
    link->next = link->prev = nullptr;
    return verify(list);
}

void* list4pop(list4* list) {
    void* last = list4last(list);
    if (last != nullptr && list4remove(list, last) < 0) return nullptr;
    return last;
}
