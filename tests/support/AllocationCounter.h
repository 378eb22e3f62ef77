// Counts every heap allocation of the program that includes this header (in exactly one of
// its files): the replacement operator new adds one to AllocationCount(). Used where the
// hot path is to allocate nothing. (The replacement pairs malloc with free, which GCC
// cannot see through once the operators are inlined.)
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

inline std::atomic<long>& AllocationCounter() {
    static std::atomic<long> count{0};
    return count;
}
inline long AllocationCount() {
    return AllocationCounter().load(std::memory_order_relaxed);
}

// Every ordinary form is replaced, so that each allocation is counted and every pair of new
// and delete meets the same allocator.
inline void* CountedAllocation(std::size_t size) noexcept {
    AllocationCounter().fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void* operator new(std::size_t size) {
    if (void* p = CountedAllocation(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = CountedAllocation(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return CountedAllocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
