#include "ztdb/ztarray.h"

#include <gtest/gtest.h>

#include <vector>

#include "assert_capture.h"
#include "ztdb/ztstr.h"

namespace {

std::vector<uint32_t> items(const ZTArray<uint32_t>& a) {
    return {a.data, a.data + a.size};
}

ZTArray<uint32_t> makeArray(std::initializer_list<uint32_t> values) {
    ZTArray<uint32_t> a;
    for (uint32_t v : values) a.append(v);
    return a;
}

TEST(ZTArrayTest, AddGrowsByTenAndRefusesDuplicatesWhenAsked) {
    ZTArray<uint32_t> a;
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.capacity, 0u);
    for (uint32_t i = 0; i < 11; ++i) EXPECT_TRUE(a.add(i * 3, false));
    EXPECT_EQ(a.size, 11u);
    EXPECT_EQ(a.capacity, 20u);
    EXPECT_FALSE(a.add(9, false));
    EXPECT_EQ(a.size, 11u);
    EXPECT_TRUE(a.add(9, true));
    EXPECT_EQ(a.size, 12u);
    EXPECT_EQ(a.find(9), 3);
    EXPECT_EQ(a.find(1000), -1);
    EXPECT_EQ(ZTArray<uint32_t>().find(0), -1);
}

TEST(ZTArrayTest, InsertAt) {
    ZTArray<uint32_t> a = makeArray({1, 2, 3});
    a.insertAt(9, 99);
    EXPECT_EQ(items(a), (std::vector<uint32_t>{1, 2, 3, 9}));
    a.insertAt(7, 0);
    EXPECT_EQ(items(a), (std::vector<uint32_t>{7, 1, 2, 3, 9}));
    a.insertAt(5, 2);
    EXPECT_EQ(items(a), (std::vector<uint32_t>{7, 1, 5, 2, 3, 9}));
    a.insertAt(4, -1);  // a negative position never reaches before the storage
    EXPECT_EQ(items(a), (std::vector<uint32_t>{7, 1, 5, 2, 3, 9, 4}));
    // An element of the array itself, while the insert has to grow the storage.
    ZTArray<uint32_t> full;
    for (uint32_t i = 0; i < 10; ++i) full.append(i + 100);
    full.insertAt(full.data[9], 0);
    EXPECT_EQ(full.data[0], 109u);
    EXPECT_EQ(full.size, 11u);
}

TEST(ZTArrayTest, RemoveChecksItsRange) {
    ZTArray<uint32_t> a = makeArray({1, 2, 3, 4, 5});
    a.remove(1, 2);
    EXPECT_EQ(items(a), (std::vector<uint32_t>{1, 4, 5}));
    EXPECT_EQ(a.capacity, 10u);
    a.remove(3, 0);  // count 0: nothing, even at the end
    a.remove(0, 0);
    EXPECT_EQ(items(a), (std::vector<uint32_t>{1, 4, 5}));
    {
        AssertCapture capture;
        a.remove(2, 2);
        a.remove(3, 1);
        a.remove(1, 0xFFFFFFFFu);
        EXPECT_EQ(capture.reports().size(), 3u);
    }
    EXPECT_EQ(items(a), (std::vector<uint32_t>{1, 4, 5}));
}

TEST(ZTArrayTest, CopyFromEqualsAndAddAll) {
    ZTArray<uint32_t> a = makeArray({1, 2, 3});
    ZTArray<uint32_t> b;
    b.copyFrom(a);
    EXPECT_TRUE(b.equals(a));
    EXPECT_EQ(b.capacity, a.capacity);
    b.copyFrom(b);  // onto itself: unchanged
    EXPECT_EQ(items(b), (std::vector<uint32_t>{1, 2, 3}));
    b.append(4);
    EXPECT_FALSE(b.equals(a));
    EXPECT_TRUE(ZTArray<uint32_t>().equals(ZTArray<uint32_t>()));

    b.addAll(a, false);
    EXPECT_EQ(items(b), (std::vector<uint32_t>{1, 2, 3, 4}));
    b.appendAll(b);  // with itself
    EXPECT_EQ(items(b), (std::vector<uint32_t>{1, 2, 3, 4, 1, 2, 3, 4}));
    b.addAll(b.data + 5, 3, true);  // a range of its own storage while growing
    EXPECT_EQ(items(b), (std::vector<uint32_t>{1, 2, 3, 4, 1, 2, 3, 4, 2, 3, 4}));

    ZTArray<uint32_t> c(b);
    EXPECT_TRUE(c.equals(b));
    c.clear();
    EXPECT_EQ(c.data, nullptr);
    EXPECT_EQ(c.capacity, 0u);
    EXPECT_EQ(b.size, 11u);
}

// Counts live instances so that ownership mistakes show.
struct Tracked {
    static int alive;
    int value;
    explicit Tracked(int v) : value(v) { ++alive; }
    Tracked(const Tracked& o) : value(o.value) { ++alive; }
    virtual ~Tracked() { --alive; }
};
int Tracked::alive = 0;

struct TrackedChild : Tracked {
    static int destroyed;
    explicit TrackedChild(int v) : Tracked(v) {}
    ~TrackedChild() override { ++destroyed; }
};
int TrackedChild::destroyed = 0;

TEST(ZTArrayPTest, OwnsItsElements) {
    Tracked::alive = 0;
    TrackedChild::destroyed = 0;
    {
        ZTArrayP<Tracked*> a;
        a.append(new Tracked(1)).append(nullptr).append(new TrackedChild(2));
        a.append(new Tracked(3));
        EXPECT_EQ(Tracked::alive, 3);
        a.removeAt(0);
        EXPECT_EQ(Tracked::alive, 2);
        a.removeAt(0);  // a null element
        EXPECT_EQ(a.size, 2u);
        Tracked* kept = a.data[1];
        a.remove(1, 1);  // remove only drops the pointer
        EXPECT_EQ(Tracked::alive, 2);
        delete kept;
        a.clear();
        EXPECT_EQ(Tracked::alive, 0);
        EXPECT_EQ(TrackedChild::destroyed, 1);  // through the virtual destructor
        a.append(new Tracked(4));
    }
    EXPECT_EQ(Tracked::alive, 0);

    // Destroyed through a pointer to the base array, the elements still go.
    ZTArray<Tracked*>* base = new ZTArrayP<Tracked*>;
    base->append(new Tracked(5));
    delete base;
    EXPECT_EQ(Tracked::alive, 0);
}

TEST(ZTArrayP2Test, AssignMakesDeepCopiesAndKeepsNulls) {
    ZTArrayP2<ZTStr*, ZTStr> a;
    a.append(new ZTStr);
    a.data[0]->assign("one");
    a.append(nullptr);
    a.append(new ZTStr);
    a.data[2]->assign("three");

    ZTArrayP2<ZTStr*, ZTStr> b;
    b.append(new ZTStr);  // replaced by the copy
    b.assign(a);
    ASSERT_EQ(b.size, 3u);
    EXPECT_STREQ(b.data[0]->text, "one");
    EXPECT_EQ(b.data[1], nullptr);
    EXPECT_STREQ(b.data[2]->text, "three");
    for (uint32_t i = 0; i < 3; ++i)
        if (a.data[i]) {
            EXPECT_NE(a.data[i], b.data[i]);
            EXPECT_NE(a.data[i]->text, b.data[i]->text);
        }
    b.assign(b);
    EXPECT_EQ(b.size, 3u);
    ZTArrayP2<ZTStr*, ZTStr> c(a);
    EXPECT_STREQ(c.data[2]->text, "three");
}

TEST(ZTStackTest, PushTopPop) {
    int x = 1, y = 2;
    ZTStack<int*> s;
    EXPECT_EQ(s.top(), nullptr);
    EXPECT_EQ(s.pop(), nullptr);
    s.push(&x);
    s.push(&y);
    s.push(&x);
    EXPECT_EQ(s.size, 3u);
    EXPECT_EQ(s.pop(), &x);
    EXPECT_EQ(s.top(), &y);
    EXPECT_EQ(s.pop(), &y);
    EXPECT_EQ(s.pop(), &x);
    EXPECT_EQ(s.size, 0u);
}

}  // namespace
