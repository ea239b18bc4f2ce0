#pragma once
// When each part of an open movie plays, in nanoseconds: the pictures by
// display number, the coded frames in coding order (decoding times), the
// sound blocks, and where playback restarts for a seek. Plain arithmetic on
// the reader's facts, so the demuxer's timing can be checked without a
// pipeline.

#include <cstddef>
#include <cstdint>
#include <vector>

class CRVXReader;

inline constexpr uint64_t kNoTime = UINT64_MAX;

class CMovieTimeline {
public:
    void Build(const CRVXReader& reader);

    // A movie whose header gives no rate plays at this one.
    static constexpr uint32_t kFallbackRate = 25;
    uint32_t RateNumerator() const { return rate_num_; }
    uint32_t RateDenominator() const { return rate_den_; }

    uint64_t FrameTime(uint64_t display_number) const;
    uint64_t FrameDuration() const { return FrameTime(1); }
    // Decoding time of the record at coding index k: its place in coding
    // order, held back by the deepest reordering of the movie so that it is
    // never later than the record's presentation time; kNoTime when that
    // would fall before zero.
    uint64_t DecodeTime(std::size_t k) const;
    uint64_t Duration() const;  // the longer of pictures and sound

    // The group whose first picture shows at or before time (the first
    // group for earlier times) and the coding index of its first record.
    uint32_t GroupAt(uint64_t time) const;
    uint64_t GroupTime(uint32_t group) const;
    std::size_t FirstRecordOf(uint32_t group) const { return first_record_[group]; }

    // Sound: output block o starts at BlockTime(o); BlockAt gives the output
    // block holding time. Coded blocks are output blocks shifted by the lag.
    bool HasSound() const { return sound_rate_ != 0; }
    uint64_t BlockTime(uint64_t output_block) const;
    uint32_t BlockAt(uint64_t time) const;
    uint32_t SoundLag() const { return sound_lag_; }
    uint32_t CodedBlocks() const { return coded_blocks_; }
    uint64_t SoundDuration() const;

private:
    uint32_t rate_num_ = kFallbackRate;
    uint32_t rate_den_ = 1;
    uint64_t frame_count_ = 0;
    uint64_t reorder_delay_ = 0;
    std::vector<uint32_t> group_first_frame_;
    std::vector<std::size_t> first_record_;
    uint32_t sound_rate_ = 0;
    uint32_t block_frames_ = 0;    // sample frames per block
    uint64_t sound_frames_ = 0;
    uint32_t sound_lag_ = 0;
    uint32_t coded_blocks_ = 0;
};
