// A small blocking queue between two pipeline stages: a full queue holds the
// stage before it back, so frames in flight stay few.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

namespace pelx04run {

template <typename T>
class BoundedQueue {
public:
    explicit BoundedQueue(std::size_t capacity) : capacity_(capacity) {}

    // False when the queue was stopped: the item was not taken.
    bool push(T item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notFull_.wait(lock, [this] { return stopped_ || items_.size() < capacity_; });
        if (stopped_) return false;
        items_.push_back(std::move(item));
        notEmpty_.notify_one();
        return true;
    }

    // False when the queue is closed and empty, or stopped.
    bool pop(T& item) {
        std::unique_lock<std::mutex> lock(mutex_);
        notEmpty_.wait(lock, [this] { return stopped_ || closed_ || !items_.empty(); });
        if (stopped_ || items_.empty()) return false;
        item = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }

    // No more items will come; what is queued is still handed out.
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        notEmpty_.notify_all();
    }

    // The run is abandoned: every waiting stage wakes and gets false.
    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<T> items_;
    std::size_t capacity_;
    bool closed_ = false;
    bool stopped_ = false;
};

}  // namespace pelx04run
