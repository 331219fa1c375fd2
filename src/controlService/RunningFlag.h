#pragma once
// Holds a "running" flag set for as long as a piece of work runs, cleared also when an exception
// ends it.

#include <atomic>

class RunningFlag {
public:
    explicit RunningFlag(std::atomic<bool>& flag) noexcept : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    std::atomic<bool>& flag_;
};
