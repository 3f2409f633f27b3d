// The ordered pool alone: every job runs once and its result is taken in
// the order handed on, whoever ran it; no more than its capacity is in
// flight, and handing on takes no memory; a job that fails is just a
// result; stopping drops what is queued and waits for what runs; and
// where the system starts fewer threads, or memory runs out on the way,
// creating it says so instead of failing.
#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <vector>

#include "extract/ordered_pool.h"
#include "support/failing_allocation.h"

namespace kelvarin::testing {
namespace {

// Job n's result is n * 3, or -1 for a job that fails (every 7th); each
// counts its runs. Jobs are grouped by n % 5.
class Tripling final : public OrderedPool::Work {
 public:
  explicit Tripling(std::size_t jobs) : results(jobs), runs(jobs) {}
  void run(std::uint64_t job, unsigned runner) noexcept override {
    if (block_first && job == 0) {
      started = true;
      while (!released) std::this_thread::yield();
    }
    results[job] = job % 7 == 6 ? -1 : static_cast<long>(job) * 3;
    ++runs[job];
    if (runner > 0) ++on_workers;
  }
  std::vector<long> results;
  std::vector<std::atomic<int>> runs;
  std::atomic<int> on_workers{0};
  bool block_first = false;
  std::atomic<bool> started{false}, released{false};
};

OrderedPool::StartThread refusing_after(int starts) {
  return [starts, started = std::make_shared<int>(0)](std::function<void()> body) {
    if ((*started)++ >= starts) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(body));
  };
}

// Hands on `count` jobs, taking each result once the ring is full and the
// rest at the end, into `taken` (with room for them, so that this takes no
// memory).
void hand_on_all(OrderedPool& pool, Tripling& work, std::size_t count, std::vector<long>& taken) {
  OrderedPool::Group groups[5];
  auto take_oldest = [&] {
    pool.wait_for(pool.oldest());
    EXPECT_TRUE(pool.done(pool.oldest()));
    taken.push_back(work.results[pool.oldest()]);
    pool.retire();
  };
  for (std::size_t job = 0; job < count; ++job) {
    if (pool.full()) take_oldest();
    const std::uint64_t number = pool.next();
    EXPECT_EQ(pool.hand_on(&groups[job % 5]), number);
  }
  while (pool.oldest() < pool.next()) take_oldest();
}

TEST(OrderedPool, ResultsComeInOrderWhateverRunsThemAndFewerThreadsStillRunAll) {
  constexpr std::size_t kJobs = 3000;
  std::vector<long> expected;
  for (std::size_t job = 0; job < kJobs; ++job) expected.push_back(job % 7 == 6 ? -1 : static_cast<long>(job) * 3);
  // Asked for 4: all started, 2 of them, none (the caller runs every job).
  for (const int starts : {4, 2, 0}) {
    Tripling work(kJobs);
    const auto pool = OrderedPool::create(work, 16, 4, refusing_after(starts));
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->workers(), static_cast<unsigned>(starts));
    std::vector<long> taken;
    taken.reserve(kJobs);
    hand_on_all(*pool, work, kJobs, taken);
    EXPECT_EQ(taken, expected) << starts;
    for (const auto& runs : work.runs) ASSERT_EQ(runs.load(), 1) << starts;
    if (starts == 0) {
      EXPECT_EQ(work.on_workers.load(), 0);
    }
  }
}

TEST(OrderedPool, NoMoreThanItsCapacityInFlightAndHandingOnTakesNoMemory) {
  Tripling work(1000);
  const auto pool = OrderedPool::create(work, 8, 3);
  ASSERT_NE(pool, nullptr);
  OrderedPool::Group group;
  for (int job = 0; job < 8; ++job) {
    EXPECT_FALSE(pool->full());
    pool->hand_on(job % 2 == 0 ? &group : nullptr);
  }
  EXPECT_TRUE(pool->full());
  pool->wait_for(pool->oldest());
  pool->retire();
  EXPECT_FALSE(pool->full());
  std::vector<long> taken;
  taken.reserve(1000);
  fail_allocation(0, Allocating::anywhere);
  hand_on_all(*pool, work, 900, taken);
  EXPECT_EQ(stop_counting_allocations(), 0u);
  EXPECT_EQ(taken.size(), 900u + 7);
}

TEST(OrderedPool, StoppingDropsWhatIsQueuedAndWaitsForWhatRuns) {
  Tripling work(20);
  work.block_first = true;
  auto pool = OrderedPool::create(work, 32, 1);
  ASSERT_NE(pool, nullptr);
  OrderedPool::Group group;
  for (int job = 0; job < 20; ++job) pool->hand_on(&group);
  while (!work.started) std::this_thread::yield();
  // Job 0 runs until the queued ones are dropped.
  std::thread releasing([&] {
    while (!pool->done(19)) std::this_thread::yield();
    work.released = true;
  });
  pool->stop_queued();
  releasing.join();
  for (int job = 0; job < 20; ++job) EXPECT_TRUE(pool->done(job));
  EXPECT_EQ(work.runs[0].load(), 1);
  for (int job = 1; job < 20; ++job) EXPECT_EQ(work.runs[job].load(), 0) << job;
  // Destroyed with jobs queued and running: each runs at most once.
  Tripling more(20);
  pool = OrderedPool::create(more, 32, 2);
  for (int job = 0; job < 20; ++job) pool->hand_on(&group);
  pool.reset();
  for (const auto& runs : more.runs) EXPECT_LE(runs.load(), 1);
}

TEST(OrderedPool, CreationSaysWhenMemoryRunsOut) {
  if (!kAllocationsCounted) GTEST_SKIP() << "a sanitizer counts allocations itself";
  Tripling work(100);
  fail_allocation(0, Allocating::anywhere);
  OrderedPool::create(work, 16, 4).reset();
  const std::uint64_t allocations = stop_counting_allocations();
  EXPECT_GE(allocations, 3u);
  for (std::uint64_t nth = 1; nth <= allocations; ++nth) {
    fail_allocation(nth, Allocating::anywhere);
    std::unique_ptr<OrderedPool> pool = OrderedPool::create(work, 16, 4);
    stop_counting_allocations();
    EXPECT_EQ(pool, nullptr) << nth;
  }
}

}  // namespace
}  // namespace kelvarin::testing
