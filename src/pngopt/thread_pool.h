#pragma once
// A fixed set of worker threads, sized to the machine, that runs submitted jobs in any order.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace jx::quillox {

class ThreadPool {
public:
    explicit ThreadPool(size_t threads = 0);  // 0: one per hardware thread
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    size_t Size() const { return workers_.size(); }
    void Submit(std::function<void()> job);
    // A job that runs only on a worker with no submitted job waiting; dropped at shutdown.
    void SubmitIdle(std::function<void()> job);

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::deque<std::function<void()>> idle_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

// Whether other processes keep at least half of the machine's hardware threads running: work
// done only in case it is wanted then slows what is wanted. False when it cannot be told.
bool OtherProcessesKeepCoresBusy();

// Runs produce(0..n-1) on the pool (inline when pool is null) and hands every result to
// consume in index order on the calling thread; before(i) runs in order just ahead of
// consume(i), so everything it prints comes out as a sequential run would print it.
// At most a window of results waits unconsumed.
template <typename Result>
void RunOrdered(ThreadPool* pool, size_t n, const std::function<Result(size_t)>& produce,
                const std::function<void(size_t)>& before, const std::function<void(size_t, Result&&)>& consume);

}  // namespace jx::quillox

#include "pngopt/thread_pool_impl.h"
