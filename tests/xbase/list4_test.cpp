#include "xbase/list4.h"

#include <gtest/gtest.h>

#include <vector>

#include "error_capture.h"

namespace {

struct Item {
    link4 link;
    int value;
};

std::vector<int> walk(const list4& list) {
    std::vector<int> out;
    for (auto* i = static_cast<Item*>(list4first(&list)); i != nullptr;
         i = static_cast<Item*>(list4next(&list, i)))
        out.push_back(i->value);
    return out;
}

std::vector<int> walkBack(const list4& list) {
    std::vector<int> out;
    for (auto* i = static_cast<Item*>(list4last(&list)); i != nullptr;
         i = static_cast<Item*>(list4prev(&list, i)))
        out.push_back(i->value);
    return out;
}

TEST(List4, InsertsWalksAndRemovesInOrder) {
    Item a{{}, 1}, b{{}, 2}, c{{}, 3}, d{{}, 4}, e{{}, 5};
    list4 list{};
    EXPECT_EQ(list4first(&list), nullptr);
    ASSERT_EQ(list4add(&list, &b), 0);
    ASSERT_EQ(list4addBefore(&list, &b, &a), 0);  // new first, last unchanged
    EXPECT_EQ(list4last(&list), &b);
    ASSERT_EQ(list4addAfter(&list, &b, &d), 0);  // after the last: new last
    EXPECT_EQ(list4last(&list), &d);
    ASSERT_EQ(list4addBefore(&list, &d, &c), 0);
    ASSERT_EQ(list4add(&list, &e), 0);
    EXPECT_EQ(walk(list), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(walkBack(list), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_EQ(list.nLink, 5);
    EXPECT_EQ(list4pop(&list), &e);
    ASSERT_EQ(list4remove(&list, &a), 0);
    ASSERT_EQ(list4remove(&list, &c), 0);
    EXPECT_EQ(walk(list), (std::vector<int>{2, 4}));
    EXPECT_TRUE(list4contains(&list, &d));
    EXPECT_FALSE(list4contains(&list, &c));
}

TEST(List4, MisuseIsRefusedAndLeavesTheListIntact) {
    ErrorCapture errors;
    Item a{{}, 1}, b{{}, 2}, stranger{{}, 9};
    list4 list{};
    ASSERT_EQ(list4add(&list, &a), 0);
    ASSERT_EQ(list4add(&list, &b), 0);
    EXPECT_EQ(list4add(&list, &a), e4info);
    EXPECT_EQ(list4addAfter(&list, &stranger, &stranger), e4info);
    EXPECT_EQ(list4addBefore(&list, &stranger, &stranger), e4info);
    EXPECT_EQ(list4remove(&list, &stranger), e4parmNull);
    EXPECT_EQ(walk(list), (std::vector<int>{1, 2}));
}

TEST(List4, RemovingTheSelectedElementMovesTheCursorBack) {
    Item a{{}, 1}, b{{}, 2};
    list4 list{};
    ASSERT_EQ(list4add(&list, &a), 0);
    list.selected = &a.link;
    ASSERT_EQ(list4remove(&list, &a), 0);
    EXPECT_EQ(list.lastNode, nullptr);
    EXPECT_EQ(list.selected, nullptr);
    EXPECT_EQ(list.nLink, 0);
    ASSERT_EQ(list4add(&list, &a), 0);
    ASSERT_EQ(list4add(&list, &b), 0);
    list.selected = &b.link;
    ASSERT_EQ(list4remove(&list, &b), 0);
    EXPECT_EQ(list.selected, &a.link);
}

}  // namespace
