#pragma once
// The container writer. A job configures it, opens it, hands it the source
// pictures one by one, optionally the sound, and finally has it assemble the
// .rvx file. The settings flow forward: the setters bring each choice into
// its range once, Open hands them to the group coder, and the header is
// written from them. The group coder hands every coded frame to the writer's
// payload files (payload_files.h), the sound goes to "tmpsnd.snx" in the
// work directory, and WriteMovie copies them into the movie, deleting them
// once the movie is complete.
//
// Calling order: the setters, SetWorkDirectory, SetFramePrefix, Open, AddFrame
// per frame, StageSound (with sound), FinishFrames, WriteMovie.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "container/file_write_ops.h"
#include "container/payload_files.h"
#include "container/rvx_common.h"
#include "container/rvx_layout.h"
#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/ratecontrol/rate_control.h"
#include "rvxlib/ratecontrol/rate_plan.h"

class CRVXEncode : public CRVXCommon {
public:
    CRVXEncode();
    ~CRVXEncode() override;

    // Header 112 and 116 as given, stored by Open, which refuses a
    // denominator of 0.
    void SetFrameRate(uint32_t numerator, uint32_t denominator);
    // As rvxlib's ClampGopShape: 0xFFFF picks the default (5 P, 2 B), P is at
    // most 63 and B at most 7, B frames without a P frame give one up for a
    // P frame. GOP length = P x (B + 1) + 1.
    void SetGopStructure(uint16_t pFrames, uint16_t bFrames);
    // Share (0..256 of 256) of unmatched macroblocks that starts a new group;
    // 0xFFFF picks the default 192.
    void SetSceneChange(uint16_t value);
    // values: I, P and B quality (each clamped to 2..32) and the matrix
    // selector (kept as given; Open loads its matrices). Null changes nothing.
    void SetQuality(const uint16_t* values);
    // How the encoder decides (kClassic: the fixed decisions of every
    // earlier movie) and whether quantisers follow the detail of each
    // macroblock. Takes effect at the next Open.
    void SetPreset(_rvxlib_::RVXPreset preset, bool adaptiveQuantisation);
    // Hands the frames to rate control (a first pass's fixed quantisers or a
    // second pass's plan): it gives every frame its quantiser and learns every
    // coded frame's size. Takes effect at the next Open; null goes back to
    // the frame types' quantisers.
    void SetRateControl(std::shared_ptr<_rvxlib_::IRVXRateControl> control);
    // Picture size and format word (layout, transform, source layout bits).
    void SetPicture(uint32_t width, uint32_t height, uint32_t format);
    // The work directory holds the sound file; the frame prefix (the work
    // directory followed by "rvxframe") starts every frame file name.
    void SetWorkDirectory(const std::filesystem::path& directory);
    void SetFramePrefix(const std::filesystem::path& prefix);

    // Threads that code the rows of each frame (default: WorkerThreadCount,
    // which RVX_THREADS can set). The movie is the same for every count.
    // Takes effect at the next Open.
    void SetThreads(uint32_t threads);

    // Builds the codec objects and the frame store, forgets the frames of an
    // earlier movie and writes the header's fixed fields. False when the
    // picture, format word or frame rate cannot be coded.
    bool Open();
    // Converts one source picture (top-down rows of the source layout, rows
    // padded to 4 bytes) and codes whatever the group structure allows.
    bool AddFrame(const void* picture);
    // Codes the open group. False when no frame was added or any frame
    // failed to code.
    bool FinishFrames();
    // True once a frame could not be stored, coded or kept since Open:
    // WriteMovie will fail, so a job may stop early.
    bool FrameCodingFailed() const { return coder_->HasFailed(); }
    // Codes a WAVE file into the work directory's "tmpsnd.snx" with a sound
    // method value and block size. True when the sound file was written.
    bool StageSound(const std::filesystem::path& wave, uint32_t method, uint32_t blockSize);
    // Uses an already coded SNX sound file as the sound track; WriteMovie
    // deletes it after copying, as it does the staged one.
    void SetSoundFile(const std::filesystem::path& snx);

    // Assembles the movie from the payload files and the sound file. The
    // file is written under a temporary name beside output and renamed into
    // place only when complete, so a failure never leaves a partial movie
    // behind nor destroys a file that was at output before. Fails when a
    // frame failed to code, or a payload file is missing or changed since it
    // was written. True when the movie was written completely.
    bool WriteMovie(const std::filesystem::path& output, const FileWriteOps& ops);

    // The payload file of a display frame number.
    std::filesystem::path FrameFileName(uint32_t displayNumber) const;
    // The coded frames and groups handed over since Open, in file order, with
    // payload lengths and CRCs; WriteMovie fills in the group offsets and
    // lengths. A test may hand frames and groups of its own through it.
    CRVXPayloadFiles& Payloads() { return payloads_; }
    const std::vector<_rvxlib_::RVXFrameRecord>& Records() const { return payloads_.Records(); }
    const std::vector<_rvxlib_::RVXGroupEntry>& Groups() const { return payloads_.Groups(); }

    // What the frames coded since Open cost, in display order, with their
    // kinds, groups and the quantisers they were coded at: a first pass's
    // findings for a rate plan.
    std::vector<_rvxlib_::RVXPassFrame> PassFrames() const;
    // Macroblocks per picture and blocks per macroblock; 0 before Open.
    uint32_t Macroblocks() const;
    uint32_t BlocksPerMacroblock() const;

    // The settings Open hands the group coder.
    uint16_t PFrames() const { return gop_.p_frames; }
    uint16_t BFrames() const { return gop_.b_frames; }
    uint16_t GopLength() const { return gop_.Length(); }
    uint16_t SceneChange() const { return settings_.scene_change; }
    uint16_t QualityI() const { return settings_.quality_i; }
    uint16_t QualityP() const { return settings_.quality_p; }
    uint16_t QualityB() const { return settings_.quality_b; }
    uint16_t MatrixSelector() const { return matrix_selector_; }
    _rvxlib_::RVXPreset Preset() const { return preset_; }
    // V, U, Y, A weights and prediction threshold, as set by Open.
    const uint32_t* ChannelWeights() const { return settings_.weights; }
    uint32_t PredictionThreshold() const { return settings_.threshold; }
    // The header as written so far: Open fills in the fixed fields, WriteMovie
    // the rest.
    const uint8_t* Header() const { return header_.data(); }
    uint32_t HeaderWord(uint32_t offset) const { return LoadLE32(header_.data() + offset); }
    // The frame encoder, for observing reconstructed pictures and timings.
    _rvxlib_::CRVXGroupCoder& GroupCoder() { return *coder_; }
    const std::filesystem::path& SoundFile() const { return sound_path_; }

private:
    // Header fields that Open fixes: frame rate, picture, matrices.
    void StoreFixedFields();
    bool AssembleMovie(FileHandle handle, const FileWriteOps& ops);

    // Declared before the coder, whose group threads hand them frames and
    // ask them for quantisers until the coder ends them.
    CRVXPayloadFiles payloads_;
    std::shared_ptr<_rvxlib_::IRVXRateControl> rate_control_;
    // Codes the frames; it holds the codec objects of the base without
    // owning them, so it is replaced whenever they are.
    std::unique_ptr<_rvxlib_::CRVXGroupCoder> coder_;
    uint32_t threads_;
    uint32_t rate_numerator_ = 0;
    uint32_t rate_denominator_ = 0;
    _rvxlib_::RVXGopShape gop_;
    _rvxlib_::RVXGroupSettings settings_;
    _rvxlib_::RVXPreset preset_ = _rvxlib_::RVXPreset::kClassic;
    uint16_t matrix_selector_ = 0;
    std::array<uint8_t, rvx_layout::kHeaderSize> header_{};
    std::filesystem::path work_directory_;
    std::filesystem::path sound_path_;
};
