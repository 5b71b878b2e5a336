#pragma once
#include <cstddef>

namespace quillet::muxtest {

// Counts operator new calls made while a CountAllocations object is alive
// (the test program replaces the global operator new to do so).
size_t allocationsCounted();
// False in sanitizer builds, which bring their own operator new.
bool allocationCountingAvailable();

class CountAllocations {
public:
    CountAllocations();
    ~CountAllocations();
    CountAllocations(const CountAllocations&) = delete;
    CountAllocations& operator=(const CountAllocations&) = delete;
};

} // namespace quillet::muxtest
