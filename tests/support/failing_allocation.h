// Allocations through operator new counted, and one of them made to fail,
// in the test executable that links failing_allocation.cpp (which replaces
// the global operator new). None of it works under a sanitizer, which
// replaces operator new itself.
#pragma once

#include <cstdint>

namespace kelvarin::testing {

// Which threads' allocations count.
enum class Allocating { anywhere, this_thread, other_threads };

// From now on, counts the allocations made by `where` (this thread is the
// one calling), and fails the `nth` of them (none for 0).
void fail_allocation(std::uint64_t nth, Allocating where);
// Stops counting; gives how many allocations were counted.
std::uint64_t stop_counting_allocations();

// Whether the replaced operator new is in this executable.
extern const bool kAllocationsCounted;

}  // namespace kelvarin::testing
