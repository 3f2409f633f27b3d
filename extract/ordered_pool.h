// A pool of worker threads for numbered jobs, handed on by one caller that
// takes their results back in the same order: one bounded ring of jobs in
// flight, one mutex, two conditions, and nothing of what a job does. The
// caller is a runner too: while it waits for a job it runs queued ones
// itself, and without workers it runs each as it is handed on. Order is
// the caller's to restore, by the jobs' numbers.
//
// A job may belong to a group: a worker takes the oldest job of the first
// group no runner is in, where there is one, so that runners stay out of
// each other's way (the extraction groups files by the folder they go in).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvarin {

class OrderedPool {
 public:
  // The jobs, the caller's own, known by their numbers.
  class Work {
   public:
    virtual ~Work() = default;
    // Runs job `job` on runner `runner`: 0 is the caller, 1 to workers()
    // the workers. It must not throw: a failure stays in the job's result.
    virtual void run(std::uint64_t job, unsigned runner) noexcept = 0;
  };

  // Starts a thread running `body`, or throws std::system_error where the
  // system refuses, as std::thread does (a test's may refuse on purpose).
  using StartThread = std::function<std::thread(std::function<void()> body)>;

  struct Entry;
  // What jobs of one group share. The caller keeps it, and keeps it alive
  // while any of its jobs is in flight; it takes no memory of the pool's.
  class Group {
    friend class OrderedPool;
    Entry* first_ = nullptr;  // its queued jobs, oldest first
    Entry* last_ = nullptr;
    Group* next_ = nullptr;  // among the groups with queued jobs
    Group* previous_ = nullptr;
    unsigned running_ = 0;
  };

  // A pool for `capacity` jobs in flight (at least 1) and up to `workers`
  // threads: fewer where the system starts fewer (see workers()). Null
  // when memory runs out.
  static std::unique_ptr<OrderedPool> create(Work& work, std::size_t capacity, unsigned workers,
                                             const StartThread& start = {});
  // Drops the jobs not begun, waits for those running, joins the workers.
  ~OrderedPool();
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  unsigned workers() const { return static_cast<unsigned>(threads_.size()); }
  // Jobs in flight are [oldest(), next()): handed on, not yet retired.
  std::uint64_t oldest() const { return retired_; }
  std::uint64_t next() const { return handed_; }
  // The ring is full: the oldest must be retired before the next is handed on.
  bool full() const { return handed_ - retired_ == capacity_; }

  // Hands on job next() of `group`; without a group it is done as it is
  // (a result that needs no work). Takes no memory, and never fails. The
  // ring must not be full.
  std::uint64_t hand_on(Group* group) noexcept;
  bool done(std::uint64_t job);
  // Until `job` is done, runs queued jobs on the caller's thread.
  void wait_for(std::uint64_t job);
  // The oldest job's result is taken: its place in the ring is free again.
  void retire() noexcept { ++retired_; }
  // Drops the jobs not begun and waits for those running: then every job
  // in flight is done, and those dropped never ran.
  void stop_queued();

 private:
  OrderedPool(Work& work, std::size_t capacity);
  Entry& entry(std::uint64_t job) { return ring_[job % capacity_]; }
  void work(unsigned runner);
  // With mutex_ held.
  void queue(Entry& job);
  Entry* take_queued();
  void finish(Entry& job);
  void drop_queued();

  Work& work_;
  const std::size_t capacity_;
  std::unique_ptr<Entry[]> ring_;
  std::uint64_t handed_ = 0;   // the caller's alone
  std::uint64_t retired_ = 0;  // the caller's alone
  std::mutex mutex_;
  std::condition_variable work_waiting_;  // for the workers
  std::condition_variable work_done_;     // for the caller
  Group* first_group_ = nullptr;          // groups with queued jobs, in the order they came
  Group* last_group_ = nullptr;
  unsigned idle_ = 0;               // workers waiting for work
  Entry* waited_for_ = nullptr;     // the job the caller sleeps on
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

struct OrderedPool::Entry {
  std::uint64_t number = 0;
  Group* group = nullptr;
  Entry* next = nullptr;  // in its group's queue
  bool done = true;
};

}  // namespace kelvarin
