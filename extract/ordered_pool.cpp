// The pool's ring, its queue of groups and its workers. Everything a job
// needs to be queued is in the ring and in its group, both had before the
// first job: handing on never allocates, so it can't fail half-way.
#include "extract/ordered_pool.h"

#include <new>
#include <system_error>

namespace kelvarin {

std::unique_ptr<OrderedPool> OrderedPool::create(Work& work, std::size_t capacity, unsigned workers,
                                                 const StartThread& start) {
  std::unique_ptr<OrderedPool> pool;
  try {
    pool.reset(new OrderedPool(work, capacity));
    pool->threads_.reserve(workers);
    for (unsigned runner = 1; runner <= workers; ++runner) {
      std::function<void()> body = [pool = pool.get(), runner] { pool->work(runner); };
      try {
        pool->threads_.push_back(start ? start(std::move(body)) : std::thread(std::move(body)));
      } catch (const std::system_error&) {
        break;  // the system starts no more: the pool makes do with those it has
      }
    }
  } catch (const std::bad_alloc&) {
    return nullptr;  // the workers started are stopped with the pool
  }
  return pool;
}

OrderedPool::OrderedPool(Work& work, std::size_t capacity)
    : work_(work), capacity_(capacity < 1 ? 1 : capacity), ring_(new Entry[capacity_]) {}

OrderedPool::~OrderedPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    drop_queued();
    stopping_ = true;
  }
  work_waiting_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::uint64_t OrderedPool::hand_on(Group* group) noexcept {
  const std::uint64_t number = handed_++;
  Entry& job = entry(number);
  job.number = number;
  job.group = group;
  job.next = nullptr;
  if (group == nullptr) {
    job.done = true;
  } else if (threads_.empty()) {
    job.done = false;
    work_.run(number, 0);
    job.done = true;
  } else {
    bool wake = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job.done = false;
      queue(job);
      wake = idle_ > 0;
    }
    if (wake) work_waiting_.notify_one();
  }
  return number;
}

bool OrderedPool::done(std::uint64_t job) {
  if (threads_.empty()) return entry(job).done;
  std::lock_guard<std::mutex> lock(mutex_);
  return entry(job).done;
}

void OrderedPool::wait_for(std::uint64_t number) {
  if (threads_.empty()) return;  // each job ran as it was handed on
  Entry& awaited = entry(number);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!awaited.done) {
    if (Entry* job = take_queued()) {
      lock.unlock();
      work_.run(job->number, 0);
      lock.lock();
      finish(*job);
      continue;
    }
    waited_for_ = &awaited;
    work_done_.wait(lock);
    waited_for_ = nullptr;
  }
}

void OrderedPool::stop_queued() {
  std::unique_lock<std::mutex> lock(mutex_);
  drop_queued();
  for (std::uint64_t number = retired_; number < handed_; ++number) {
    Entry& running = entry(number);
    while (!running.done) {
      waited_for_ = &running;
      work_done_.wait(lock);
    }
  }
  waited_for_ = nullptr;
}

void OrderedPool::work(unsigned runner) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Entry* job = take_queued();
    if (job == nullptr) {
      if (stopping_) return;
      ++idle_;
      work_waiting_.wait(lock);
      --idle_;
      continue;
    }
    lock.unlock();
    work_.run(job->number, runner);
    lock.lock();
    finish(*job);
  }
}

void OrderedPool::queue(Entry& job) {
  Group& group = *job.group;
  if (group.first_ == nullptr) {
    group.first_ = &job;
    group.next_ = nullptr;
    group.previous_ = last_group_;
    (last_group_ != nullptr ? last_group_->next_ : first_group_) = &group;
    last_group_ = &group;
  } else {
    group.last_->next = &job;
  }
  group.last_ = &job;
}

OrderedPool::Entry* OrderedPool::take_queued() {
  Group* from = first_group_;
  while (from != nullptr && from->running_ > 0) from = from->next_;
  if (from == nullptr) from = first_group_;
  if (from == nullptr) return nullptr;
  Entry* job = from->first_;
  from->first_ = job->next;
  if (from->first_ == nullptr) {
    (from->previous_ != nullptr ? from->previous_->next_ : first_group_) = from->next_;
    (from->next_ != nullptr ? from->next_->previous_ : last_group_) = from->previous_;
  }
  ++from->running_;
  return job;
}

void OrderedPool::finish(Entry& job) {
  --job.group->running_;
  job.done = true;
  // Only the caller waits for a job, and only for one.
  if (waited_for_ == &job) work_done_.notify_one();
}

void OrderedPool::drop_queued() {
  for (Group* group = first_group_; group != nullptr; group = group->next_) {
    for (Entry* job = group->first_; job != nullptr; job = job->next) job->done = true;
    group->first_ = nullptr;
  }
  first_group_ = last_group_ = nullptr;
}

}  // namespace kelvarin
