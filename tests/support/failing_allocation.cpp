// The global operator new of a test executable, replaced so that a test
// can fail any one allocation of a run (see failing_allocation.h).
#include "support/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace kelvarin::testing {
namespace {

std::atomic<bool> counting{false};
std::atomic<std::uint64_t> counted{0};
std::atomic<std::uint64_t> failing_at{0};
Allocating counted_where = Allocating::anywhere;
thread_local bool on_chosen_thread = false;

bool this_one_fails() {
  if (!counting.load(std::memory_order_acquire)) return false;
  if (counted_where != Allocating::anywhere && on_chosen_thread != (counted_where == Allocating::this_thread)) {
    return false;
  }
  const std::uint64_t number = counted.fetch_add(1) + 1;
  return number == failing_at.load();
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const bool kAllocationsCounted = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
const bool kAllocationsCounted = false;
#else
const bool kAllocationsCounted = true;
#define KELVARIN_REPLACE_NEW
#endif
#else
const bool kAllocationsCounted = true;
#define KELVARIN_REPLACE_NEW
#endif

void fail_allocation(std::uint64_t nth, Allocating where) {
  counting.store(false);
  on_chosen_thread = true;
  counted_where = where;
  counted.store(0);
  failing_at.store(nth);
  counting.store(true, std::memory_order_release);
}

std::uint64_t stop_counting_allocations() {
  counting.store(false);
  on_chosen_thread = false;
  return counted.load();
}

}  // namespace kelvarin::testing

#ifdef KELVARIN_REPLACE_NEW

void* operator new(std::size_t size) {
  if (kelvarin::testing::this_one_fails()) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

#endif
