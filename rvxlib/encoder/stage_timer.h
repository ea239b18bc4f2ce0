#pragma once
// Adds the time a scope takes to a stage total, when measuring is on.

#include <chrono>

namespace _rvxlib_ {

class StageTimer {
public:
    StageTimer(bool on, std::chrono::nanoseconds& total)
        : total_(on ? &total : nullptr),
          start_(on ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point()) {}
    ~StageTimer() {
        if (total_) *total_ += std::chrono::steady_clock::now() - start_;
    }

private:
    std::chrono::nanoseconds* total_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace _rvxlib_
