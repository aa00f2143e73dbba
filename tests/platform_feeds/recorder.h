#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace feedstest
{

// Collects items from library threads; waits with a time-out.
template <typename T> class Recorder
{
public:
    void add(T item)
    {
        std::lock_guard<std::mutex> lock(m_);
        items_.push_back(std::move(item));
        cv_.notify_all();
    }
    bool waitCount(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, timeout, [&] { return items_.size() >= n; });
    }
    bool waitFor(const std::function<bool(const T&)>& match,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_);
        return cv_.wait_for(lock, timeout, [&] {
            for (const T& t : items_)
                if (match(t))
                    return true;
            return false;
        });
    }
    std::vector<T> items()
    {
        std::lock_guard<std::mutex> lock(m_);
        return items_;
    }
    std::size_t size()
    {
        std::lock_guard<std::mutex> lock(m_);
        return items_.size();
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m_);
        items_.clear();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<T> items_;
};

} // namespace feedstest
