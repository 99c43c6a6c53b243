// Vector<T>: the engine's container.  An owning array {data, count, capacity}
// that grows to exactly the size asked for (Add grows by one element).
// Elements are read and written directly through data[0 .. count-1].
//
// Class elements (String, Vector, records holding them) are constructed for
// the whole capacity when the array is allocated and destroyed with it; plain
// records and pointers are raw storage copied by value.  Copying a vector
// copies its elements (deeply for nested vectors).  Allocation never throws:
// failures are reported as E_OUTOFMEMORY and leave the vector unchanged.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "zvbase.h"

template <typename T>
class Vector {
public:
    constexpr Vector() : data(nullptr), count(0), capacity(0) {}
    Vector(const Vector& other) : data(nullptr), count(0), capacity(0) { *this = other; }
    Vector(Vector&& other) noexcept : data(other.data), count(other.count), capacity(other.capacity) {
        other.data = nullptr;
        other.count = other.capacity = 0;
    }
    virtual ~Vector() { Free(); }

    // Makes room for n elements.  With setCount, count grows to n when it is
    // smaller (the new slots keep what they hold).  S_FALSE when the capacity
    // already sufficed, S_OK after growing to exactly n, E_OUTOFMEMORY (the
    // vector as before) when the array cannot be allocated.
    HRESULT Reserve(u32 n, bool setCount) {
        if (capacity >= n) {
            if (setCount && count < n) count = n;
            return S_FALSE;
        }
        T* fresh = new (std::nothrow) T[n];
        if (!fresh) return E_OUTOFMEMORY;
        for (u32 i = 0; i < count; ++i) fresh[i] = std::move(data[i]);
        delete[] data;
        data = fresh;
        capacity = n;
        if (setCount && count < n) count = n;
        return S_OK;
    }

    // Appends a copy of value (which may be an element of this vector).
    HRESULT Add(const T& value) {
        if (count < capacity) {
            data[count] = value;
            ++count;
            return S_OK;
        }
        // The array is about to move: remember where the value lives when it
        // is one of our own elements.
        const T* source = &value;
        u32 ownIndex = 0xFFFFFFFFu;
        if (data && source >= data && source < data + count) ownIndex = (u32)(source - data);
        if (Reserve(count + 1, false) < 0) return E_OUTOFMEMORY;
        if (ownIndex != 0xFFFFFFFFu) {
            data[count] = data[ownIndex];
        } else {
            data[count] = value;
        }
        ++count;
        return S_OK;
    }

    // Removes element index, keeping the order of the others.  The slot past
    // the new end keeps its old value until overwritten or destroyed.
    HRESULT Remove(u32 index) {
        if (index >= count) return E_INVALIDARG;
        for (u32 i = index + 1; i < count; ++i) data[i - 1] = data[i];
        --count;
        return S_OK;
    }

    // Pointer vectors: removes the first element equal to value; E_FAIL when
    // there is none.
    template <typename U = T, typename std::enable_if<std::is_pointer<U>::value, int>::type = 0>
    HRESULT Remove(const T& value) {
        for (u32 i = 0; i < count; ++i) {
            if (data[i] == value) return Remove(i);
        }
        return E_FAIL;
    }

    // Copies the source's elements.  Does not shrink: elements beyond the new
    // count stay in the array.  When the array cannot grow the target is left
    // unchanged.
    Vector& operator=(const Vector& other) {
        if (this == &other) return *this;
        if (Reserve(other.count, false) < 0) return *this;
        for (u32 i = 0; i < other.count; ++i) data[i] = other.data[i];
        count = other.count;
        return *this;
    }
    Vector& operator=(Vector&& other) noexcept {
        if (this != &other) {
            std::swap(data, other.data);
            std::swap(count, other.count);
            std::swap(capacity, other.capacity);
        }
        return *this;
    }

    T& operator[](u32 i) { return data[i]; }
    const T& operator[](u32 i) const { return data[i]; }

    T* data;
    u32 count;
    u32 capacity;

private:
    void Free() {
        delete[] data;
        data = nullptr;
        count = capacity = 0;
    }
};
