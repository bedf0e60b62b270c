// A bounded queue between the command's threads, and a pool of frame buffers
// that never holds more than a fixed number, however long the stream.
#ifndef VELVANE_CLI_CHANNEL_H
#define VELVANE_CLI_CHANNEL_H

#include <stddef.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

namespace velvane {

template <class T> class Channel {
public:
    explicit Channel(size_t capacity) : capacity_(capacity) {}

    // Blocks while full; false once the channel was aborted (the value is dropped).
    bool push(T value)
    {
        std::unique_lock<std::mutex> lock(m_);
        notFull_.wait(lock, [&] { return aborted_ || items_.size() < capacity_; });
        if (aborted_)
            return false;
        items_.push_back(std::move(value));
        notEmpty_.notify_one();
        return true;
    }

    // Blocks while empty; false when aborted, or closed and drained.
    bool pop(T &value)
    {
        std::unique_lock<std::mutex> lock(m_);
        notEmpty_.wait(lock, [&] { return aborted_ || closed_ || !items_.empty(); });
        if (aborted_ || items_.empty())
            return false;
        value = std::move(items_.front());
        items_.pop_front();
        notFull_.notify_one();
        return true;
    }

    // No more pushes: pop drains what is left, then answers false.
    void close()
    {
        std::lock_guard<std::mutex> lock(m_);
        closed_ = true;
        notEmpty_.notify_all();
    }

    // Wakes every waiter; push and pop answer false from now on.
    void abort()
    {
        std::lock_guard<std::mutex> lock(m_);
        aborted_ = true;
        notEmpty_.notify_all();
        notFull_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable notEmpty_, notFull_;
    std::deque<T> items_;
    size_t capacity_;
    bool closed_ = false;
    bool aborted_ = false;
};

// Hands out buffers made by `make`, at most `limit` of them alive at once;
// acquire blocks until one comes back.
template <class T> class Pool {
public:
    Pool(size_t limit, std::function<std::unique_ptr<T>()> make) : limit_(limit), make_(std::move(make)) {}

    // Null once aborted.
    std::unique_ptr<T> acquire()
    {
        std::unique_lock<std::mutex> lock(m_);
        if (free_.empty() && created_ < limit_) {
            created_++;
            lock.unlock();
            return make_();
        }
        cv_.wait(lock, [&] { return aborted_ || !free_.empty(); });
        if (aborted_)
            return nullptr;
        std::unique_ptr<T> p = std::move(free_.back());
        free_.pop_back();
        return p;
    }

    void release(std::unique_ptr<T> p)
    {
        if (!p)
            return;
        std::lock_guard<std::mutex> lock(m_);
        free_.push_back(std::move(p));
        cv_.notify_one();
    }

    void abort()
    {
        std::lock_guard<std::mutex> lock(m_);
        aborted_ = true;
        cv_.notify_all();
    }

    // Buffers made so far: the pool's whole footprint.
    size_t created()
    {
        std::lock_guard<std::mutex> lock(m_);
        return created_;
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::unique_ptr<T>> free_;
    size_t limit_;
    size_t created_ = 0;
    bool aborted_ = false;
    std::function<std::unique_ptr<T>()> make_;
};

} // namespace velvane

#endif
