#include "pngopt/thread_pool.h"

namespace jx::quillox {

ThreadPool::ThreadPool(size_t threads) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    for (size_t i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
}

void ThreadPool::Submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void ThreadPool::SubmitIdle(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void ThreadPool::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty() || !idle_.empty(); });
            if (!jobs_.empty()) {
                job = std::move(jobs_.front());
                jobs_.pop_front();
            } else if (stopping_) {
                return;
            } else {
                job = std::move(idle_.front());
                idle_.pop_front();
            }
        }
        job();
    }
}

}  // namespace jx::quillox
