#pragma once
// One thread that makes library calls for a test, so that several calls share the thread (and so
// the thread's pipe client). A call that has not returned within 30 s fails the test, and
// `unblock` is run to make it return.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

class CallingThread {
public:
    explicit CallingThread(std::function<void()> unblock = [] {})
        : unblock_(std::move(unblock))
        , thread_([this] { loop(); })
    {
    }
    ~CallingThread()
    {
        post(nullptr);
        thread_.join();
    }
    CallingThread(const CallingThread&) = delete;
    CallingThread& operator=(const CallingThread&) = delete;

    template <typename Call>
    auto run(Call call) -> decltype(call())
    {
        using Result = decltype(call());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(call));
        std::future<Result> result = task->get_future();
        post([task] { (*task)(); });
        if (result.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "a library call did not return";
            unblock_();
        }
        return result.get();
    }

private:
    void post(std::function<void()> work)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(work));
        }
        ready_.notify_one();
    }
    void loop()
    {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [this] { return !queue_.empty(); });
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            if (!work)
                return;
            work();
        }
    }

    std::function<void()> unblock_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    std::thread thread_; // last, so that it starts once the rest is ready
};
