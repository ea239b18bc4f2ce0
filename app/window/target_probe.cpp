#include "app/window/target_probe.h"

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/window/window_prompts.h"
#include "jobs/job_messages.h"
#include "jobs/rate_control.h"

namespace {

// A source that neither refuses nor delivers a picture for this long is
// left to its run to judge.
constexpr auto kProbeLimit = std::chrono::seconds(60);

// Sees the job through its first pass's first picture or its last word.
class CProbeHost : public IJobHost {
public:
    void SendProgress(const JobProgress& progress) override {
        if (progress.pass == 1 && progress.stage == JobStage::kFrames) Settle();
    }
    void PostJobMessage(uint32_t) override { Settle(); }

    // False when time ran out; the job may still be deciding then.
    bool Wait() {
        std::unique_lock<std::mutex> hold(mutex_);
        return settled_cv_.wait_for(hold, kProbeLimit, [this] { return settled_; });
    }

private:
    void Settle() {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            settled_ = true;
        }
        settled_cv_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable settled_cv_;
    bool settled_ = false;
};

}  // namespace

TargetProbe ProbeTarget(const PageJobFactory& factory, const EncodeRequest& request) {
    TargetProbe probe;
    if (!HasRateTarget(request.settings) || !factory) return probe;
    CProbeHost host;
    {
        std::unique_ptr<IPageJob> job = factory(&host, request);
        if (!job || job->Load() != 0 || !job->Start()) return probe;
        if (!host.Wait()) return probe;
        probe.refused = job->TargetRefused();
        probe.target_bytes = job->RefusedTargetBytes();
        probe.smallest_bytes = job->SmallestReachableBytes();
    }  // the job's thread ends here, before the host goes
    return probe;
}

QString TargetRefusalText(uint64_t target_bytes, uint64_t smallest_bytes) {
    return QCoreApplication::translate("CTargetProbe", "目標サイズ %1 ではこの動画を作成できません。最小のサイズは %2 です。")
        .arg(Q(ByteCountText(target_bytes)), Q(ByteCountText(smallest_bytes)));
}
