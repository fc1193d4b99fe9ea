#include "pngopt/thread_pool.h"

#include <dirent.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

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

namespace {

// Threads running now: the whole machine's, and this process's own.
bool RunningThreads(long& machine, long& own) {
    std::ifstream stat("/proc/stat");
    std::string line;
    machine = -1;
    while (std::getline(stat, line))
        if (line.rfind("procs_running ", 0) == 0) machine = std::stol(line.substr(14));
    if (machine < 0) return false;
    own = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return false;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream task(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(task)), std::istreambuf_iterator<char>());
        const size_t close = text.rfind(')');
        if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'R') ++own;
    }
    closedir(dir);
    return true;
}

}  // namespace

bool OtherProcessesKeepCoresBusy() {
    const long cores = std::max(1u, std::thread::hardware_concurrency());
    // The least of a few looks: a moment's burst elsewhere is no reason to hold back.
    long others = -1;
    for (int look = 0; look < 3; ++look) {
        long machine = 0, own = 0;
        if (!RunningThreads(machine, own)) return false;
        others = others < 0 ? machine - own : std::min(others, machine - own);
        if (look < 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return others >= std::max(1L, cores / 2);
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
