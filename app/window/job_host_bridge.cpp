#include "app/window/job_host_bridge.h"

bool CLatestProgress::Put(uint64_t serial, const JobProgress& progress) {
    std::lock_guard<std::mutex> hold(mutex_);
    const bool tell = !waiting_ || serial != serial_;
    serial_ = serial;
    progress_ = progress;
    waiting_ = true;
    return tell;
}

bool CLatestProgress::Take(uint64_t serial, JobProgress* progress) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!waiting_ || serial != serial_) return false;
    *progress = progress_;
    waiting_ = false;
    return true;
}

void CJobHostBridge::SendProgress(const JobProgress& progress) {
    if (latest_->Put(serial_, progress)) emit progressReady(serial_);
}

void CJobHostBridge::PostJobMessage(uint32_t message) { emit jobEnded(serial_, message); }
