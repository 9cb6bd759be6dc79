#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "ztdb/ztassert.h"

// ZTArray<T>: a growable array of plain-data elements, copied with memmove and compared with
// memcmp (so T must be trivially copyable; owning arrays hold pointers). It grows by a fixed 10
// slots. `data`, `size` and `capacity` are read directly; `data` is null while capacity is 0.
// Removing outside the array is a programming error: it is reported and nothing moves.
template <class T>
class ZTArray {
    static_assert(std::is_trivially_copyable_v<T>, "ZTArray copies its elements byte-wise");

  public:
    static constexpr uint32_t kGrowStep = 10;

    uint32_t capacity = 0;
    T* data = nullptr;
    uint32_t size = 0;

    // Size and capacity n (elements zeroed); callers pass 0 for an empty array.
    explicit ZTArray(int n = 0) {
        if (n > 0) {
            allocate(uint32_t(n));
            std::memset(static_cast<void*>(data), 0, sizeof(T) * size_t(n));
            size = uint32_t(n);
        }
    }
    ZTArray(const ZTArray& other) { copyFrom(other); }
    ZTArray& operator=(const ZTArray& other) {
        copyFrom(other);
        return *this;
    }
    virtual ~ZTArray() { ZTArray::clear(); }

    // Size 0, storage freed.
    virtual void clear() {
        std::free(data);
        data = nullptr;
        size = 0;
        capacity = 0;
    }

    // Removes count elements from pos; the later ones move down, capacity stays. Count 0: nothing.
    virtual void remove(uint32_t pos, uint32_t count) {
        if (count == 0) return;
        if (!ZT_ASSERT(pos < size && count <= size - pos)) return;
        std::memmove(static_cast<void*>(data + pos), data + pos + count,
                     sizeof(T) * (size - pos - count));
        size -= count;
    }

    // Fresh storage for n elements (null for 0), nothing copied or freed.
    void allocate(uint32_t n) {
        capacity = n;
        data = n ? static_cast<T*>(checkedAlloc(n)) : nullptr;
    }

    // Capacity + n; the elements move to the new storage.
    void grow(uint32_t n) {
        uint64_t wanted = uint64_t(capacity) + n;
        if (wanted > 0xFFFFFFFFu) throw std::bad_alloc();
        T* fresh = static_cast<T*>(checkedAlloc(wanted));
        if (size) std::memcpy(static_cast<void*>(fresh), data, sizeof(T) * size);
        std::free(data);
        data = fresh;
        capacity = uint32_t(wanted);
    }

    // Index of the first byte-equal element, -1 when none.
    int find(const T& item) const {
        for (uint32_t i = 0; i < size; ++i)
            if (std::memcmp(&data[i], &item, sizeof(T)) == 0) return int(i);
        return -1;
    }

    // Appends a copy; without allowDuplicates an element already held is refused (false).
    bool add(const T& item, bool allowDuplicates) {
        if (!allowDuplicates && find(item) >= 0) return false;
        T copy = item;  // item may be one of our own elements
        if (size == capacity) grow(kGrowStep);
        data[size++] = copy;
        return true;
    }

    void addAll(const ZTArray& other, bool allowDuplicates) {
        uint32_t n = other.size;  // other may be this array
        for (uint32_t i = 0; i < n; ++i) add(other.data[i], allowDuplicates);
    }
    void addAll(const T* items, uint32_t count, bool allowDuplicates) {
        bool own = count && items >= data && items < data + size;
        if (own) {  // growing would free them under us
            ZTArray copy;
            copy.addAll(items, count, true);
            addAll(copy, allowDuplicates);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) add(items[i], allowDuplicates);
    }

    ZTArray& append(const T& item) {
        add(item, true);
        return *this;
    }
    ZTArray& appendAll(const ZTArray& other) {
        addAll(other, true);
        return *this;
    }

    // Inserts before pos; a position at or past the end (or negative) appends.
    void insertAt(const T& item, int pos) {
        if (pos < 0 || uint32_t(pos) >= size) {
            add(item, true);
            return;
        }
        T copy = item;
        if (size == capacity) grow(kGrowStep);
        std::memmove(static_cast<void*>(data + pos + 1), data + pos, sizeof(T) * (size - pos));
        data[pos] = copy;
        ++size;
    }

    // Becomes a byte copy of other (same capacity). Copying onto itself changes nothing.
    void copyFrom(const ZTArray& other) {
        if (&other == this) return;
        std::free(data);
        size = 0;
        allocate(other.capacity);
        if (other.size) std::memcpy(static_cast<void*>(data), other.data, sizeof(T) * other.size);
        size = other.size;
    }

    bool equals(const ZTArray& other) const {
        return size == other.size &&
               (size == 0 || std::memcmp(data, other.data, sizeof(T) * size) == 0);
    }

    T& operator[](uint32_t i) { return data[i]; }
    const T& operator[](uint32_t i) const { return data[i]; }

  private:
    static void* checkedAlloc(uint64_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void* p = std::malloc(size_t(n) * sizeof(T));
        if (!p) throw std::bad_alloc();
        return p;
    }
};

// ZTArrayP<T*>: an array that owns the objects its pointers point at (null elements allowed).
// clear and removeAt delete them; remove only drops the pointers. Not copyable: ownership would
// be shared.
template <class P>
class ZTArrayP : public ZTArray<P> {
    static_assert(std::is_pointer_v<P>, "ZTArrayP holds pointers");
    using Base = ZTArray<P>;

  public:
    ZTArrayP() = default;
    ZTArrayP(const ZTArrayP&) = delete;
    ZTArrayP& operator=(const ZTArrayP&) = delete;
    void copyFrom(const Base&) = delete;
    ~ZTArrayP() override { ZTArrayP::clear(); }

    // Deletes every element, then empties the array.
    void clear() override {
        for (uint32_t i = 0; i < this->size; ++i) delete this->data[i];
        Base::clear();
    }

    // Deletes the element at index (when not null) and removes its position.
    virtual void removeAt(uint32_t index) {
        if (!ZT_ASSERT(index < this->size)) return;
        delete this->data[index];
        Base::remove(index, 1);
    }
};

// ZTArrayP2<T*, T>: an owning array that can deep-copy another one.
template <class P, class T>
class ZTArrayP2 : public ZTArrayP<P> {
    static_assert(std::is_same_v<P, T*>, "ZTArrayP2<T*, T>");

  public:
    ZTArrayP2() = default;
    ZTArrayP2(const ZTArrayP2& other) : ZTArrayP<P>() { assign(other); }
    ZTArrayP2& operator=(const ZTArrayP2& other) {
        assign(other);
        return *this;
    }

    // Deletes the present elements, then appends a new copy of each of other's (nulls stay null).
    virtual void assign(const ZTArrayP2& other) {
        if (&other == this) return;
        this->clear();
        for (uint32_t i = 0; i < other.size; ++i) {
            P item = other.data[i] ? new T(*other.data[i]) : nullptr;
            try {
                this->add(item, true);
            } catch (...) {
                delete item;
                throw;
            }
        }
    }
};

// ZTStack<T*>: push appends (duplicates allowed), the top is the last element, pop removes it.
// It does not own its elements.
template <class P>
class ZTStack : public ZTArray<P> {
    static_assert(std::is_pointer_v<P>, "ZTStack holds pointers");

  public:
    void push(P item) { this->add(item, true); }
    P top() const { return this->size ? this->data[this->size - 1] : nullptr; }
    // Removes and returns the top (null when empty).
    P pop() {
        if (this->size == 0) return nullptr;
        return this->data[--this->size];
    }
};
