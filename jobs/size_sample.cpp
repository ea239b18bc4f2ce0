#include "jobs/size_sample.h"

#include <algorithm>
#include <utility>

CSizeSample::CSizeSample(WriterOpener open_writer, uint32_t gop_length)
    : open_writer_(std::move(open_writer)), gop_length_(std::max<uint32_t>(gop_length, 1)) {}

// The writers join their threads as they go; what they wrote stays in the
// work directory, which goes with the job.
CSizeSample::~CSizeSample() = default;

bool CSizeSample::AddFrame(uint32_t n, const void* picture) {
    const uint32_t position = n % gop_length_;
    if (position >= _rvxlib_::kSampleRunFrames) return true;
    if (position == 0) {
        if (coding_.writer && !EndRun(coding_)) return false;
        if (current_.writer) coding_ = std::move(current_);
        current_.writer = open_writer_(n);
        current_.first = n;
        if (!current_.writer) return false;
    }
    return current_.writer && current_.writer->AddFrame(picture);
}

bool CSizeSample::Finish() {
    bool coded = true;
    for (Run* run : {&coding_, &current_})
        if (run->writer && !EndRun(*run)) coded = false;
    return coded;
}

bool CSizeSample::EndRun(Run& run) {
    std::unique_ptr<IMovieWriter> writer = std::move(run.writer);
    const bool coded = writer->FinishFrames();
    if (coded) {
        const std::vector<_rvxlib_::RVXPassFrame> frames = writer->PassFrames();
        for (uint32_t k = 0; k < frames.size(); ++k) frames_.push_back({run.first + k, frames[k]});
        macroblocks_ = writer->Macroblocks();
    }
    writer->DiscardFrames();
    return coded;
}
