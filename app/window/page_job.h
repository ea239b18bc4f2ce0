#pragma once
// A source page's running job as the page sees it: load on the window's
// thread, start its thread, say why it failed. Destroying it stops its thread
// and removes its work directory.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jobs/encode_settings.h"
#include "jobs/job_host.h"

class IPageJob {
public:
    virtual ~IPageJob() = default;
    // 0 when the source is ready.
    virtual int32_t Load() = 0;
    // False when the job's thread could not be started.
    virtual bool Start() = 0;
    virtual std::string FailureReason() const = 0;
    // Whether the job refused its target size as below the smallest movie
    // its source can become, and the two sizes in bytes (0 when it did not).
    virtual bool TargetRefused() const { return false; }
    virtual uint64_t RefusedTargetBytes() const { return 0; }
    virtual uint64_t SmallestReachableBytes() const { return 0; }
    // Whether the job refused a source setting its source cannot take (a
    // start past the end, a crop larger than the pictures, a missing sound
    // track); FailureReason says which.
    virtual bool SettingsRefused() const { return false; }
    // A movie written to a target size: the target, the size written (both
    // 0 without a target), and whether it came out too far over.
    virtual uint64_t TargetBytes() const { return 0; }
    virtual uint64_t WrittenBytes() const { return 0; }
    virtual bool TargetMissed() const { return false; }
};

// Any of the encoding jobs (CEncodeFromSeqFile, CEncodeFromAVI, ...).
template <class Job>
class CPageJob : public IPageJob {
public:
    CPageJob(IJobHost* host, const EncodeRequest& request) : job_(host, request) {}
    int32_t Load() override { return job_.Load(); }
    bool Start() override { return job_.Start() == 1; }
    std::string FailureReason() const override { return job_.FailureReason(); }
    bool TargetRefused() const override { return job_.TargetRefused(); }
    uint64_t RefusedTargetBytes() const override { return job_.RefusedTargetBytes(); }
    uint64_t SmallestReachableBytes() const override { return job_.SmallestReachableBytes(); }
    bool SettingsRefused() const override { return job_.SettingsRefused(); }
    uint64_t TargetBytes() const override { return job_.TargetBytes(); }
    uint64_t WrittenBytes() const override { return job_.WrittenBytes(); }
    bool TargetMissed() const override { return job_.TargetMissed(); }

private:
    Job job_;
};

using PageJobFactory = std::function<std::unique_ptr<IPageJob>(IJobHost* host, const EncodeRequest& request)>;

template <class Job>
PageJobFactory MakePageJobFactory() {
    return [](IJobHost* host, const EncodeRequest& request) -> std::unique_ptr<IPageJob> {
        return std::make_unique<CPageJob<Job>>(host, request);
    };
}
