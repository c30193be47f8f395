// CGrowArray: the one container of the system. A contiguous block of
// fixed-size, trivially copyable elements, copied in and out as raw bytes.
// There is deliberately no destructor: owners call RemoveAll, so records that
// hold arrays can themselves be copied bytewise into other arrays.
#pragma once

#include <stdlib.h>
#include <string.h>

template <typename T>
class CGrowArray {
public:
    int count;
    T *data;
    int growStep;     // -1 doubles, n > 0 adds n, 0 only for the first block
    int capacity;
    unsigned char borrowed;  // block belongs to someone else: never freed here

    CGrowArray() : count(0), data(0), growStep(-1), capacity(0), borrowed(0) {}

    // Inserts n elements copied from src before position index (clamped to
    // 0..count). Returns the position, or -1 with the array unchanged.
    int InsertAt(const T *src, int index, int n)
    {
        if (n < 1 || !src)
            return -1;
        if (!Reserve(count + n))
            return -1;
        if (index < 0)
            index = 0;
        if (index > count)
            index = count;
        memmove(data + index + n, data + index, (size_t)(count - index) * sizeof(T));
        memcpy(data + index, src, (size_t)n * sizeof(T));
        count += n;
        return index;
    }

    int Add(const T &element) { return InsertAt(&element, count, 1); }

    int AppendBytes(const void *bytes, int n)
    {
        static_assert(sizeof(T) == 1, "AppendBytes is for byte arrays");
        return InsertAt((const T *)bytes, count, n);
    }

    // Reallocates to exactly n elements and stores the grow step. n equal to
    // the count changes nothing; n < 1 frees everything and answers false.
    bool SetCapacity(int n, int step)
    {
        if (n == count)
            return true;
        if (n < 1) {
            RemoveAll();
            return false;
        }
        T *block = (T *)malloc((size_t)n * sizeof(T));
        if (!block)
            return false;
        int keep = count < n ? count : n;
        if (keep > 0)
            memcpy(block, data, (size_t)keep * sizeof(T));
        FreeBlock();
        data = block;
        count = keep;
        capacity = n;
        growStep = step;
        return true;
    }

    void RemoveAll()
    {
        FreeBlock();
        data = 0;
        count = 0;
        capacity = 0;
    }

    // Owner-side removal: move the tail down, no shrinking.
    void RemoveAt(int index)
    {
        if (index < 0 || index >= count)
            return;
        memmove(data + index, data + index + 1, (size_t)(count - index - 1) * sizeof(T));
        count--;
    }

private:
    // Grows the block by the growth rule until it holds at least needed.
    bool Reserve(int needed)
    {
        long long size = capacity;
        if (size == 0)
            size = growStep;
        if (size < 1)
            size = 16;
        while (size < needed) {
            // A step of 0 on a live array would never get there: treat it as doubling.
            if (growStep > 0)
                size += growStep;
            else
                size *= 2;
        }
        if (size == capacity)
            return true;
        if (size * (long long)sizeof(T) > 0x7FFFFFFF)
            return false;
        T *block = (T *)malloc((size_t)size * sizeof(T));
        if (!block)
            return false;
        if (count > 0)
            memcpy(block, data, (size_t)count * sizeof(T));
        FreeBlock();
        data = block;
        capacity = (int)size;
        // A grown borrowed array now owns its new block.
        borrowed = 0;
        return true;
    }

    void FreeBlock()
    {
        if (data && !borrowed)
            free(data);
        borrowed = 0;
    }
};

typedef char PathText[260];
