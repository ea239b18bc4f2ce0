#include "jobs/image_loaders.h"

#include <algorithm>
#include <new>
#include <system_error>

CImageLoaders::CImageLoaders(uint64_t first, uint64_t end, LoadImage load, ReleaseImage release)
    : end_(end), load_(std::move(load)), release_(release), next_to_load_(first) {}

CImageLoaders::~CImageLoaders() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    for (auto& [n, item] : ready_)
        if (item.second.pixels) release_(*item.first);
}

void CImageLoaders::PutFirst(ImageSlot& slot, LoadedFrame frame) {
    ready_.emplace(next_to_load_, std::make_pair(&slot, std::move(frame)));
    ++next_to_load_;
}

void CImageLoaders::Start(std::vector<ImageSlot*> free) {
    free_ = std::move(free);
    // Counted before the first loader starts taking slots, and with the slot
    // the first picture holds: it comes free again once that picture is
    // coded, so even a run with a single slot needs a loader.
    const std::size_t loaders = std::min<std::size_t>(2, free_.size() + ready_.size());
    for (std::size_t k = 0; k < loaders; ++k) {
        try {
            threads_.emplace_back([this] { RunLoader(); });
        } catch (const std::system_error&) {
            if (threads_.empty()) throw;  // one loader is enough
            break;
        }
    }
}

void CImageLoaders::LoadAhead() {
    for (;;) {
        ImageSlot* slot = nullptr;
        uint64_t n = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || next_to_load_ >= end_ || !free_.empty(); });
            if (stopping_ || next_to_load_ >= end_) return;
            slot = free_.back();
            free_.pop_back();
            n = next_to_load_++;
        }
        LoadedFrame frame = load_(*slot, n);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!frame.pixels) next_to_load_ = end_;
            ready_.emplace(n, std::make_pair(slot, std::move(frame)));
        }
        changed_.notify_all();
    }
}

void CImageLoaders::RunLoader() {
    // Nothing may leave a loader thread: running out of memory there is
    // handed to the encoding loop, which fails the job with it.
    try {
        LoadAhead();
    } catch (const std::bad_alloc&) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            out_of_memory_ = true;
            next_to_load_ = end_;
        }
        changed_.notify_all();
    }
}

std::pair<ImageSlot*, LoadedFrame> CImageLoaders::Take(uint64_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return ready_.count(n) != 0 || out_of_memory_; });
    const auto item = ready_.find(n);
    if (item == ready_.end()) throw std::bad_alloc();
    std::pair<ImageSlot*, LoadedFrame> taken = std::move(item->second);
    ready_.erase(item);
    return taken;
}

void CImageLoaders::GiveBack(ImageSlot* slot) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(slot);
    }
    changed_.notify_all();
}
