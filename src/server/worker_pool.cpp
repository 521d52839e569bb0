#include "server/worker_pool.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace zk::server {

WorkerPool::WorkerPool(unsigned threads, size_t limit) : limit_(limit) {
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) std::abort();  // out of descriptors at start-up: nothing sensible to do
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    ready_.notify_all();
    for (auto& t : threads_) t.join();
    ::close(wake_fd_);
}

bool WorkerPool::submit(Job job) {
    if (outstanding_ >= limit_) return false;
    ++outstanding_;
    if (threads_.empty()) {
        finished(job());
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
}

void WorkerPool::finished(std::function<void()> result) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_.push_back(std::move(result));
    }
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void WorkerPool::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        finished(job());
    }
}

void WorkerPool::finish() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
    for (;;) {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(done_);
        }
        if (batch.empty()) return;
        for (auto& result : batch) {
            --outstanding_;
            if (result) result();
        }
        // Results that workers finish meanwhile wake the loop again; without
        // workers, jobs the results submitted are done already.
        if (!threads_.empty()) return;
    }
}

}  // namespace zk::server
