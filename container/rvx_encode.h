#pragma once
// The container writer. A job configures it, opens it, hands it the source
// pictures one by one, optionally the sound, and finally has it assemble the
// .rvx file. Coded frames never stay in memory: each goes to its own payload
// file in the work directory, the sound to "tmpsnd.snx" there, and WriteMovie
// copies them into the movie, deleting each after copying it.
//
// Calling order: the setters, SetWorkDirectory, SetFramePrefix, Open, AddFrame
// per frame, StageSound (with sound), FinishFrames, WriteMovie.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "container/file_write_ops.h"
#include "container/rvx_common.h"
#include "container/coding_defaults.h"
#include "container/rvx_layout.h"
#include "rvxlib/group_coder.h"

class CRVXEncode : public CRVXCommon {
public:
    CRVXEncode();
    ~CRVXEncode() override;

    // Header 112 and 116, stored as given; Open refuses a denominator of 0.
    void SetFrameRate(uint32_t numerator, uint32_t denominator);
    // 0xFFFF picks the default (5 P, 2 B); P is at most 63 and B at most 7; a
    // group with B frames but no P frame gets one P frame instead of a B.
    // GOP length = P x (B + 1) + 1.
    void SetGopStructure(uint16_t pFrames, uint16_t bFrames);
    // Share (0..256 of 256) of unmatched macroblocks that starts a new group;
    // 0xFFFF picks the default 192.
    void SetSceneChange(uint16_t value);
    // values: I, P and B quality (each clamped to 2..32) and the matrix
    // selector (kept as given). Null changes nothing.
    void SetQuality(const uint16_t* values);
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

    // Builds the codec objects and the frame store. False when the picture,
    // format word or frame rate cannot be coded.
    bool Open();
    // Converts one source picture (top-down rows of the source layout, rows
    // padded to 4 bytes) and codes whatever the group structure allows.
    bool AddFrame(const void* picture);
    // Codes the open group. False when no frame was added or coding failed.
    bool FinishFrames();
    // True once a frame could not be stored or coded since Open: WriteMovie
    // will fail, so a job may stop early.
    bool FrameCodingFailed() const { return coder_->HasFailed(); }
    // Codes a WAVE file into the work directory's "tmpsnd.snx" with a sound
    // method value and block size. True when the sound file was written.
    bool StageSound(const std::filesystem::path& wave, uint32_t method, uint32_t blockSize);
    // Uses an already coded SNX sound file as the sound track; WriteMovie
    // deletes it after copying, as it does the staged one.
    void SetSoundFile(const std::filesystem::path& snx);

    // Assembles the movie from the frame files and the sound file. The file
    // is written under a temporary name beside output and renamed into place
    // only when complete, so a failure never leaves a partial movie behind nor
    // destroys a file that was at output before. True when the movie was
    // written completely.
    bool WriteMovie(const std::filesystem::path& output, const FileWriteOps& ops);

    // The frame encoder's side: records in coding order (payload length and
    // CRC are filled in by WriteMovie), one group entry per finished group.
    void AppendRecord(uint32_t type);
    void AppendGroup(uint32_t firstFrame, uint32_t recordCount);
    // The payload file of a display frame number.
    std::filesystem::path FrameFileName(uint32_t displayNumber) const;

    uint16_t PFrames() const { return p_frames_; }
    uint16_t BFrames() const { return b_frames_; }
    uint16_t GopLength() const { return gop_length_; }
    uint16_t SceneChange() const { return scene_change_; }
    uint16_t QualityI() const { return quality_i_; }
    uint16_t QualityP() const { return quality_p_; }
    uint16_t QualityB() const { return quality_b_; }
    uint16_t MatrixSelector() const { return matrix_selector_; }
    // V, U, Y, A weights and prediction threshold, as set by Open.
    const uint32_t* ChannelWeights() const { return weights_; }
    uint32_t PredictionThreshold() const { return threshold_; }
    // Filled in by WriteMovie: payload lengths and CRCs, group offsets and lengths.
    const std::vector<_rvxlib_::RVXFrameRecord>& Records() const { return coder_->Records(); }
    const std::vector<_rvxlib_::RVXGroupEntry>& Groups() const { return coder_->Groups(); }
    // The frame encoder, for observing reconstructed pictures and timings.
    _rvxlib_::CRVXGroupCoder& GroupCoder() { return *coder_; }
    const std::filesystem::path& SoundFile() const { return sound_path_; }

private:
    bool AssembleMovie(FileHandle handle, const FileWriteOps& ops);

    // Codes the frames and keeps the record and group lists; it holds the
    // codec objects of the base without owning them, so it is replaced
    // whenever they are.
    std::unique_ptr<_rvxlib_::CRVXGroupCoder> coder_;
    uint32_t threads_;
    uint16_t p_frames_ = kDefaultPFrames;
    uint16_t b_frames_ = kDefaultBFrames;
    uint16_t gop_length_ = kDefaultPFrames * (kDefaultBFrames + 1) + 1;
    uint16_t scene_change_ = kDefaultSceneChange;
    uint16_t quality_i_ = kDefaultQualityI;
    uint16_t quality_p_ = kDefaultQualityP;
    uint16_t quality_b_ = kDefaultQualityB;
    uint16_t matrix_selector_ = 0;
    uint32_t weights_[4] = {1, 1, 1, 0};
    uint32_t threshold_ = 192;
    std::filesystem::path work_directory_;
    std::filesystem::path frame_prefix_;
    std::filesystem::path sound_path_;
};
