// Slow work (password hashing) done off the poll loop: each job runs on a
// worker thread and answers what the loop then does with its result.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zk::server {

class WorkerPool {
public:
    // Runs off the loop; answers what to run on the loop afterwards. It must
    // touch nothing but what it captured.
    using Job = std::function<std::function<void()>()>;

    // `threads` workers, at most `limit` jobs queued or unfinished at once.
    // With 0 threads a job runs as soon as it is submitted, on the caller's
    // thread (deterministic, for fuzzing); its result still waits for finish().
    WorkerPool(unsigned threads, size_t limit);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // False when `limit` jobs are already outstanding.
    bool submit(Job job);
    // On the loop: runs the results of finished jobs in the order they
    // finished, including those of jobs that results submit.
    void finish();
    // Jobs submitted whose result has not run yet.
    size_t outstanding() const { return outstanding_; }
    // Readable while results wait for finish().
    int wake_fd() const { return wake_fd_; }

private:
    void run();
    void finished(std::function<void()> result);

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> queue_;
    std::deque<std::function<void()>> done_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
    const size_t limit_;
    size_t outstanding_ = 0;  // the loop's own count
    int wake_fd_ = -1;
};

}  // namespace zk::server
