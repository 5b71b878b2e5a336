#include "tests/mux/AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLET_KEEP_SANITIZER_NEW 1
#endif

namespace {
std::atomic<bool> counting{false};
std::atomic<size_t> counted{0};
} // namespace

namespace quillet::muxtest {

size_t allocationsCounted() { return counted.load(); }
#ifdef QUILLET_KEEP_SANITIZER_NEW
bool allocationCountingAvailable() { return false; }
#else
bool allocationCountingAvailable() { return true; }
#endif
CountAllocations::CountAllocations()
{
    counted = 0;
    counting = true;
}
CountAllocations::~CountAllocations() { counting = false; }

} // namespace quillet::muxtest

#ifndef QUILLET_KEEP_SANITIZER_NEW
void* operator new(std::size_t n)
{
    if (counting.load(std::memory_order_relaxed))
        counted.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif
