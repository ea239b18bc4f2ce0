#include "gst/movie_timeline.h"

#include <algorithm>

#include "container/rvx_reader.h"

namespace {

constexpr uint64_t kSecond = 1000000000;

// value * numerator / denominator without overflow; the results the
// demuxer needs all fit in 64 bits.
uint64_t Scale(uint64_t value, uint64_t numerator, uint64_t denominator) {
    const unsigned __int128 product = (unsigned __int128)value * numerator / denominator;
    return product > UINT64_MAX - 1 ? UINT64_MAX - 1 : uint64_t(product);
}

}  // namespace

void CMovieTimeline::Build(const CRVXReader& reader) {
    rate_num_ = reader.RateNumerator();
    rate_den_ = reader.RateDenominator();
    if (rate_num_ == 0 || rate_den_ == 0) {
        rate_num_ = kFallbackRate;
        rate_den_ = 1;
    }
    const auto& frames = reader.Frames();
    // Pictures of a cut movie may end with gaps; its length is its last one's.
    frame_count_ = 0;
    for (const RVXFrameInfo& frame : frames) frame_count_ = std::max<uint64_t>(frame_count_, frame.display_number + 1ull);
    reorder_delay_ = 0;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (k > frames[k].display_number) reorder_delay_ = std::max<uint64_t>(reorder_delay_, k - frames[k].display_number);
    }
    group_first_frame_.clear();
    first_record_.clear();
    for (std::size_t k = 0; k < frames.size(); ++k) {
        if (frames[k].group == group_first_frame_.size()) {
            group_first_frame_.push_back(reader.Groups()[frames[k].group].first_frame);
            first_record_.push_back(k);
        }
    }
    sound_rate_ = block_frames_ = sound_lag_ = coded_blocks_ = 0;
    sound_frames_ = 0;
    if (reader.HasSound() && reader.Sound().sample_rate != 0 && reader.Sound().channels != 0) {
        const auto& snx = reader.Sound();
        sound_rate_ = snx.sample_rate;
        block_frames_ = snx.block_length / snx.channels;
        sound_frames_ = snx.total_samples / snx.channels;
        sound_lag_ = _snxlib_::IsMDCTMode(snx.mode) ? 1 : 0;
        coded_blocks_ = reader.IntactSoundBlocks();
        // A track cut short sounds for the blocks it keeps, less the one an
        // MDCT track spends priming.
        if (coded_blocks_ < snx.block_count) {
            const uint64_t output = coded_blocks_ > sound_lag_ ? coded_blocks_ - sound_lag_ : 0;
            sound_frames_ = std::min<uint64_t>(sound_frames_, output * block_frames_);
        }
    }
}

uint64_t CMovieTimeline::FrameTime(uint64_t display_number) const {
    return Scale(display_number, uint64_t(rate_den_) * kSecond, rate_num_);
}

uint64_t CMovieTimeline::DecodeTime(std::size_t k) const {
    if (k < reorder_delay_) return kNoTime;
    return FrameTime(k - reorder_delay_);
}

uint64_t CMovieTimeline::SoundDuration() const {
    return sound_rate_ ? Scale(sound_frames_, kSecond, sound_rate_) : 0;
}

uint64_t CMovieTimeline::Duration() const { return std::max(FrameTime(frame_count_), SoundDuration()); }

uint32_t CMovieTimeline::GroupAt(uint64_t time) const {
    uint32_t group = 0;
    for (uint32_t g = 0; g < group_first_frame_.size() && FrameTime(group_first_frame_[g]) <= time; ++g) group = g;
    return group;
}

uint64_t CMovieTimeline::GroupTime(uint32_t group) const {
    return group < group_first_frame_.size() ? FrameTime(group_first_frame_[group]) : Duration();
}

uint64_t CMovieTimeline::BlockTime(uint64_t output_block) const {
    return sound_rate_ ? Scale(output_block * block_frames_, kSecond, sound_rate_) : 0;
}

uint32_t CMovieTimeline::BlockAt(uint64_t time) const {
    if (!sound_rate_ || !block_frames_) return 0;
    const uint64_t block = Scale(time, sound_rate_, kSecond) / block_frames_;
    return uint32_t(std::min<uint64_t>(block, coded_blocks_));
}
