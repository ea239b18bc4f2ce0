#include "jobs/encode_job.h"

#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "container/rvx_layout.h"
#include "jobs/black_borders.h"
#include "jobs/job_messages.h"
#include "jobs/rate_control.h"
#include "jobs/sound_cut.h"
#include "rvxlib/format/coding_defaults.h"
#include "rvxlib/format/format_word.h"
#include "rvxlib/ratecontrol/analysis_picture.h"
#include "support/thread.h"

namespace {

// Bytes of a picture row as sources hand them over: whole pixels, padded to
// four bytes.
uint64_t RowStride(uint32_t width, uint32_t bytes_per_pixel) {
    return (uint64_t(width) * bytes_per_pixel + 3) & ~uint64_t{3};
}

// Sample pictures the automatic crop looks at, spread over the movie.
constexpr uint32_t kBorderSamples = 12;

std::string TimeText(const SourceTime& time) {
    if (time.unit == SourceTime::Unit::kFrames) return std::to_string(time.value) + " frames";
    std::string fraction = std::to_string(time.value % 1000000 + 1000000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    return std::to_string(time.value / 1000000) + (fraction.empty() ? "" : "." + fraction) + " s";
}

// The part of the sound that goes with the kept frames, and where it is
// copied to; taken by value onto the thread that codes the sound.
struct SoundPart {
    bool whole = true;
    std::string copy;
    uint64_t first_frame = 0;
    uint64_t end_frame = UINT64_MAX;
    uint32_t rate_numerator = 0;
    uint32_t rate_denominator = 1;
};

SoundPart PartOf(uint64_t first, uint64_t end, uint32_t rate_numerator, uint32_t rate_denominator,
                 const std::string& work_directory) {
    SoundPart part;
    part.whole = first == 0 && end == UINT64_MAX;
    part.copy = work_directory + kCutSoundName;
    part.first_frame = first;
    part.end_frame = end;
    part.rate_numerator = rate_numerator;
    part.rate_denominator = rate_denominator;
    return part;
}

// False when the sound could not be coded; true, with nothing staged, for a
// part that lies past the end of the sound.
bool StageSoundPart(IMovieWriter& writer, const std::string& wave, uint32_t method, uint32_t block_size,
                    const SoundPart& part) {
    if (part.whole) return writer.StageSound(wave, method, block_size);
    uint64_t samples = 0;
    std::string failure;
    bool staged = CutSound(wave, part.copy, part.first_frame, part.end_frame, part.rate_numerator,
                           part.rate_denominator, samples, failure);
    if (staged && samples > 0) staged = writer.StageSound(part.copy, method, block_size);
    std::error_code ec;
    std::filesystem::remove(part.copy, ec);
    return staged;
}

}  // namespace

CEncodeRVXFile::CEncodeRVXFile(IJobHost* owner, EncodeRequest request)
    : owner_(owner), request_(std::move(request)) {}

CEncodeRVXFile::~CEncodeRVXFile() = default;

bool CEncodeRVXFile::SetSourceFormat(uint32_t layout, uint32_t width, uint32_t height, bool bottom_up) {
    uint32_t bits;
    switch (_rvxlib_::FormatSource(layout)) {
    case _rvxlib_::kSourceBGR24:
        bits = 24;
        break;
    case _rvxlib_::kSourceBGRX32:
    case _rvxlib_::kSourceBGRA32:
        bits = 32;
        break;
    default:
        return false;
    }
    if (width == 0 || height == 0 || width > _rvxlib_::kMaxPictureDimension ||
        height > _rvxlib_::kMaxPictureDimension) {
        return false;
    }
    const uint64_t stride = RowStride(width, bits / 8);
    source_layout_ = layout_ = layout;
    source_pixel_bytes_ = pixel_bytes_ = bits / 8;
    source_width_ = width_ = width;
    source_height_ = height_ = height;
    source_stride_ = stride_ = static_cast<uint32_t>(stride);
    flip_ = bottom_up;
    if (bottom_up)
        flip_buffer_.assign(static_cast<size_t>(stride * height), 0);
    else
        flip_buffer_.clear();
    return true;
}

std::unique_ptr<IMovieWriter> CEncodeRVXFile::MakeWriter(const std::string& work_directory, uint32_t width,
                                                        uint32_t height, const std::string& prefix,
                                                        uint32_t first_frame, bool sample_run) {
    std::unique_ptr<IMovieWriter> writer = writer_factory_ ? writer_factory_() : nullptr;
    if (!writer) {
        SetFailureReason("this build has no movie writer");
        return nullptr;
    }
    writer->SetFrameRate(rate_numerator_, rate_denominator_);
    ApplyEncodeSettings(sample_run    ? SizeSampleSettings(request_.settings)
                        : pass_ == 1 ? FirstPassSettings(request_.settings)
                                     : request_.settings,
                        *writer);
    writer->SetPicture(width, height, layout_ | request_.settings.FormatBits());
    writer->SetWorkDirectory(work_directory);
    writer->SetFramePrefix(work_directory + prefix);
    if (pass_ == 1) writer->SetRateControl(MakeFirstPassControl(request_.settings, first_frame));
    if (pass_ == 2) {
        writer->SetRateControl(rate_plan_);
        if (!sound_file_.empty()) writer->SetSoundFile(sound_file_);
    }
    if (!writer->Open()) {
        SetFailureReason("the encoder refused the picture size, format or frame rate");
        return nullptr;
    }
    return writer;
}

bool CEncodeRVXFile::WorkOutKeptFrames() {
    const SourceSettings& source = request_.settings.source;
    const uint64_t first = source.start.Frames(rate_numerator_, rate_denominator_);
    if (total_frames_ > 0 && first >= total_frames_) {
        MarkSettingsRefused("the start (" + TimeText(source.start) + ") lies past the end of the movie (" +
                            std::to_string(total_frames_) + " frames)");
        return false;
    }
    uint64_t end = UINT64_MAX;
    if (source.duration.IsSet()) {
        const uint64_t count = source.duration.Frames(rate_numerator_, rate_denominator_);
        if (count == 0) {
            MarkSettingsRefused("the duration (" + TimeText(source.duration) + ") keeps no frame");
            return false;
        }
        end = first + std::min(count, UINT64_MAX - first);
    }
    first_kept_frame_ = first;
    end_kept_frame_ = end;
    // A source that does not know its length counts on the duration asked
    // for, at most.
    if (total_frames_ > 0)
        total_frames_ = uint32_t(std::min<uint64_t>(total_frames_, end) - first);
    else if (end != UINT64_MAX)
        total_frames_ = uint32_t(std::min<uint64_t>(end - first, UINT32_MAX));
    return true;
}

bool CEncodeRVXFile::PrepareSourceSteps() {
    const SourceSettings& source = request_.settings.source;
    if (source.extra_rotation % 90 != 0) {
        MarkSettingsRefused("the rotation (" + std::to_string(source.extra_rotation) +
                            " degrees) is not a quarter turn");
        return false;
    }
    if (!window_known_) {
        if (!WorkOutKeptFrames()) return false;
        window_known_ = true;
    }
    if (source.crop == CropMode::kAuto && !borders_known_) {
        const SamplePictureShape shape{source_width_, source_height_, source_stride_, source_pixel_bytes_};
        found_borders_ =
            EdgesAfterTurn(DetectBlackBorders(SamplePictures(kBorderSamples), shape),
                           StepsFor(source, facts_, {}).rotation, facts_.mirrored);
        borders_known_ = true;
    }
    steps_ = StepsFor(source, facts_, found_borders_);
    // Without a step the source's pictures reach the writer untouched.
    layout_ = source_layout_;
    pixel_bytes_ = source_pixel_bytes_;
    width_ = source_width_;
    height_ = source_height_;
    stride_ = source_stride_;
    filter_.reset();
    filter_flushed_ = false;
    source_frames_seen_ = 0;
    if (!steps_.Any()) return true;
    std::string refusal;
    const PictureSize size = StepsOutputSize(steps_, source_width_, source_height_, refusal);
    if (size.width == 0) {
        MarkSettingsRefused(refusal);
        return false;
    }
    auto filter = std::make_unique<CPictureFilter>();
    if (!filter->Open(steps_, source_layout_, source_width_, source_height_, source_stride_)) {
        SetFailureReason(filter->Failure());
        return false;
    }
    layout_ = filter->OutputLayout();
    pixel_bytes_ = 4;
    width_ = filter->OutputWidth();
    height_ = filter->OutputHeight();
    stride_ = filter->OutputStride();
    filter_ = std::move(filter);
    return true;
}

bool CEncodeRVXFile::OpenEncoder(const std::string& work_directory, const std::string& source_name) {
    if (writer_) return false;
    if (!PrepareSourceSteps()) return false;
    encoder_directory_ = work_directory;
    if (TwoPass() && pass_ == 0) pass_ = 1;
    reduced_pass_ = pass_ == 1 && ReducedFirstPass(request_.settings, width_, height_);
    if (reduced_pass_) {
        reduced_stride_ = uint32_t(RowStride(AnalysisDimension(width_), pixel_bytes_));
        reduced_buffer_.assign(std::size_t(reduced_stride_) * AnalysisDimension(height_), 0);
        const uint32_t gop = _rvxlib_::ClampGopShape(request_.settings.p_frames, request_.settings.b_frames).Length();
        size_sample_ = std::make_unique<CSizeSample>(
            [this, work_directory](uint32_t first) {
                // Two runs are coded at once: their payloads must not meet.
                return MakeWriter(work_directory, width_, height_, "rvxsample" + std::to_string(first) + "-",
                                  first, true);
            },
            gop);
    }
    // The first pass's payloads must not meet the second's in the directory.
    std::unique_ptr<IMovieWriter> writer =
        reduced_pass_ ? MakeWriter(work_directory, AnalysisDimension(width_), AnalysisDimension(height_), "rvxpass")
                      : MakeWriter(work_directory, width_, height_, pass_ == 1 ? "rvxpass" : "rvxframe");
    if (!writer) return false;
    current_name_ = source_name;
    writer_ = std::move(writer);
    return true;
}

int32_t CEncodeRVXFile::RefuseSettings(const std::string& reason) {
    settings_refused_ = true;
    return FailRun(reason);
}

int32_t CEncodeRVXFile::MarkSettingsRefused(const std::string& reason) {
    settings_refused_ = true;
    SetFailureReason(reason);
    return kJobFail;
}

std::vector<std::vector<uint8_t>> CEncodeRVXFile::SamplePictures(uint32_t) { return {}; }

int32_t CEncodeRVXFile::EncodeFrame(const void* pixels) {
    if (!pixels) return kJobInvalidPointer;
    if (!writer_) return kJobFail;
    if (filter_flushed_) {
        SetFailureReason("a picture came after the pictures were finished");
        return kJobFail;
    }
    const uint64_t index = source_frames_seen_++;
    if (index < first_kept_frame_ || index >= end_kept_frame_) return kJobOk;

    const uint8_t* picture = static_cast<const uint8_t*>(pixels);
    if (flip_) {
        for (uint32_t y = 0; y < source_height_; ++y)
            std::memcpy(&flip_buffer_[static_cast<size_t>(source_height_ - 1 - y) * source_stride_],
                        picture + static_cast<size_t>(y) * source_stride_, source_stride_);
        picture = flip_buffer_.data();
    }
    if (!filter_) return CodePicture(picture);
    if (!filter_->Push(picture)) {
        SetFailureReason(filter_->Failure());
        return kJobFail;
    }
    return CodeFilteredPictures();
}

int32_t CEncodeRVXFile::CodeFilteredPictures() {
    while (const uint8_t* picture = filter_->Pull())
        if (CodePicture(picture) != kJobOk) return kJobFail;
    if (filter_->Failed()) {
        SetFailureReason(filter_->Failure());
        return kJobFail;
    }
    return kJobOk;
}

int32_t CEncodeRVXFile::FlushPictures() {
    if (!filter_ || filter_flushed_) return kJobOk;
    filter_flushed_ = true;
    if (!filter_->Flush()) {
        SetFailureReason(filter_->Failure());
        return kJobFail;
    }
    return CodeFilteredPictures();
}

int32_t CEncodeRVXFile::CodePicture(const uint8_t* picture) {
    const uint32_t n = frames_done_ + 1;
    owner_->SendProgress({JobStage::kFrames, n, total_frames_, current_name_, pass_});
    if (reduced_pass_) {
        const uint8_t* source = picture;
        if (!size_sample_->AddFrame(n - 1, source)) {
            SetFailureReason("frame " + std::to_string(n) + " could not be coded");
            return kJobFail;
        }
        ReducePicture(source, width_, height_, stride_, pixel_bytes_, reduced_buffer_.data(), reduced_stride_);
        picture = reduced_buffer_.data();
    }
    // A frame the writer could not code would silently be missing from the
    // movie, so it is reported rather than counted.
    if (!writer_->AddFrame(picture)) {
        SetFailureReason("frame " + std::to_string(n) + " could not be coded");
        return kJobFail;
    }
    frames_done_ = n;
    return kJobOk;
}

void CEncodeRVXFile::StartSound(const std::string& wave_path) {
    if (!writer_ || sound_.valid()) return;
    IMovieWriter* writer = writer_.get();
    const uint32_t method = request_.settings.sound_method, block_size = request_.settings.audio_block_size;
    const SoundPart part =
        PartOf(first_kept_frame_, end_kept_frame_, rate_numerator_, rate_denominator_, encoder_directory_);
    sound_wave_ = wave_path;
    sound_ = std::async(std::launch::async, [writer, wave_path, method, block_size, part] {
        return StageSoundPart(*writer, wave_path, method, block_size, part);
    });
}

void CEncodeRVXFile::WaitForSound() {
    if (sound_.valid()) sound_.wait();
}

void CEncodeRVXFile::ReleaseWriter() {
    WaitForSound();
    sound_ = std::future<bool>();
    size_sample_.reset();
    writer_.reset();
    filter_.reset();
}

int32_t CEncodeRVXFile::EncodeSound(const std::string& wave_path) {
    if (!writer_) return kJobFail;
    owner_->SendProgress({JobStage::kSound, frames_done_, total_frames_, wave_path, pass_});
    const bool started = sound_.valid() && sound_wave_ == wave_path;
    const EncodeSettings& settings = request_.settings;
    if (!(started ? sound_.get()
                  : StageSoundPart(*writer_, wave_path, settings.sound_method, settings.audio_block_size,
                                   PartOf(first_kept_frame_, end_kept_frame_, rate_numerator_, rate_denominator_,
                                          encoder_directory_)))) {
        SetFailureReason(wave_path + ": the sound could not be coded");
        return kJobFail;
    }
    if (pass_ == 1) sound_file_ = writer_->SoundFile();
    return kJobOk;
}

int32_t CEncodeRVXFile::WriteOutput(const std::string& output_path) {
    if (!writer_) return kJobFail;
    owner_->SendProgress({JobStage::kWriting, 0, 0, output_path, pass_});
    if (output_path.empty() || !writer_->WriteMovie(output_path)) {
        SetFailureReason(output_path + ": the movie file could not be written");
        return kJobFail;
    }
    return kJobOk;
}

bool CEncodeRVXFile::TwoPass() const { return HasRateTarget(request_.settings); }

std::string CEncodeRVXFile::TwoPassRefusal(const std::string& source) const {
    if (!TwoPass()) return "";
    if (std::string refusal = RateTargetRefusal(request_.settings); !refusal.empty()) return refusal;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec))
        return source + ": a target size or bitrate reads the source twice, and this source cannot be read "
                        "again (not a regular file)";
    return "";
}

namespace {

uint64_t FileBytes(const std::string& path) {
    std::error_code ec;
    const uintmax_t size = path.empty() ? 0 : std::filesystem::file_size(path, ec);
    return ec ? 0 : uint64_t(size);
}

}  // namespace

uint64_t CEncodeRVXFile::TargetBytes(uint64_t frames) const {
    const EncodeSettings& settings = request_.settings;
    const FrameRate rate = settings.frame_rate.IsSourceRate() ? FrameRate{rate_numerator_, rate_denominator_}
                                                              : settings.frame_rate;
    return TargetMovieBytes(settings, frames, rate.numerator, rate.denominator);
}

std::string CEncodeRVXFile::RefusalBelow(uint64_t target, uint64_t smallest, const std::string& how) {
    if (target >= smallest) return "";
    target_refused_ = true;
    refused_target_bytes_ = target;
    smallest_movie_bytes_ = smallest;
    return "the target of " + ByteCountText(target) + " is below the smallest this movie can be: " +
           ByteCountText(smallest) + how;
}

std::string CEncodeRVXFile::UnreachableTargetReason(uint64_t frames) {
    if (!TwoPass() || !writer_) return "";
    const uint32_t gop = _rvxlib_::ClampGopShape(request_.settings.p_frames, request_.settings.b_frames).Length();
    const uint64_t smallest = SmallestMovieBytes(frames, gop, MovieMacroblocks(),
                                                 writer_->BlocksPerMacroblock(), FileBytes(sound_file_));
    return RefusalBelow(TargetBytes(frames), smallest,
                        " (every macroblock at quality 32 without coefficients, with the sound and the container)");
}

std::string CEncodeRVXFile::PlannedFloorReason(uint64_t overhead) {
    const double share = _rvxlib_::TuningFor(request_.settings.preset).smallest_share_of_estimate;
    const uint64_t smallest = overhead + uint64_t(share * double(rate_plan_->SmallestPlannedBytes()));
    return RefusalBelow(target_bytes_, smallest, ", as its first pass measured it with the sound and the container");
}

int32_t CEncodeRVXFile::RefuseUnreachableTarget(uint64_t frames) {
    const std::string reason = UnreachableTargetReason(frames);
    return reason.empty() ? kJobOk : FailRun(reason);
}

bool CEncodeRVXFile::BeginSecondPass(const std::string& work_directory, const std::string& source_name) {
    if (!writer_ || pass_ != 1) return false;
    if (FlushPictures() != kJobOk) return false;
    if (!writer_->FinishFrames() || (size_sample_ && !size_sample_->Finish())) {
        SetFailureReason("the first pass could not code the frames");
        return false;
    }
    std::vector<_rvxlib_::RVXPassFrame> frames = writer_->PassFrames();
    if (frames.empty()) {
        SetFailureReason("the first pass measured no frame");
        return false;
    }
    if (const std::string reason = UnreachableTargetReason(frames.size()); !reason.empty()) {
        SetFailureReason(reason);
        return false;
    }
    const EncodeSettings& settings = request_.settings;
    target_bytes_ = TargetBytes(frames.size());
    const uint64_t overhead = rvx_layout::MovieOverheadBytes(frames.size(), frames.back().group + 1) +
                              FileBytes(sound_file_);
    payload_budget_ = target_bytes_ > overhead ? target_bytes_ - overhead : 0;
    if (reduced_pass_) {
        const uint32_t gop = _rvxlib_::ClampGopShape(settings.p_frames, settings.b_frames).Length();
        frames = _rvxlib_::FullSizePassFrames(std::move(frames), writer_->Macroblocks(), size_sample_->Frames(),
                                    MovieMacroblocks(), writer_->BlocksPerMacroblock(), gop);
        size_sample_.reset();
        reduced_buffer_ = std::vector<uint8_t>();
    }
    rate_plan_ = MakeRatePlan(settings, std::move(frames), MovieMacroblocks(), writer_->BlocksPerMacroblock(),
                              payload_budget_);
    if (const std::string reason = PlannedFloorReason(overhead); !reason.empty()) {
        SetFailureReason(reason);
        return false;
    }
    writer_->DiscardFrames();
    writer_.reset();
    reduced_pass_ = false;
    pass_ = 2;
    frames_done_ = 0;
    return OpenEncoder(work_directory, source_name);
}

uint32_t CEncodeRVXFile::MovieMacroblocks() const {
    if (reduced_pass_) return MacroblocksOfPicture(width_, height_);
    return writer_ ? writer_->Macroblocks() : 0;
}

int32_t CEncodeRVXFile::FinishRun(IThread& thread) {
    if (!thread.CanContinue()) return FailRun("stopped");
    if (!writer_) return FailRun("no frame was encoded");
    if (FlushPictures() != kJobOk) return FailRun("");
    if (!writer_->FinishFrames()) return FailRun("the last group of frames could not be coded");
    if (!thread.CanContinue()) return FailRun("stopped");

    const std::string& output = request_.output;
    std::string written = output;  // copied before the movie exists, so taking it cannot fail after
    if (WriteOutput(output) != kJobOk) {
        owner_->PostJobMessage(MSG_JOB_FAILED);
        return kJobFail;
    }
    written_output_.swap(written);
    // A stop that arrived while the movie was written still means the user
    // abandoned the job: it must not leave a movie that looks finished.
    if (!thread.CanContinue()) {
        std::error_code ec;
        std::filesystem::remove(output, ec);
        return FailRun("stopped");
    }
    if (pass_ == 2) NoteSizeAgainstTarget(output);
    owner_->PostJobMessage(MSG_JOB_DONE);
    written_output_.clear();
    return kJobOk;
}

int32_t CEncodeRVXFile::FailRun(const std::string& reason) {
    SetFailureReason(reason);
    owner_->PostJobMessage(MSG_JOB_FAILED);
    return kJobFail;
}

int32_t CEncodeRVXFile::RunCatchingOutOfMemory(const std::function<int32_t()>& steps) {
    const char* reason = nullptr;
    try {
        return steps();
    } catch (const std::bad_alloc&) {
        reason = "out of memory";
    } catch (const std::system_error& error) {
        // Threads fail to start for want of memory for their stacks.
        if (error.code() != std::errc::resource_unavailable_try_again &&
            error.code() != std::errc::not_enough_memory) {
            throw;
        }
        reason = "out of memory: a thread could not be started";
    }
    // The writer holds the pictures and threads; freeing them first gives
    // the failure report room, and the output was never written.
    ReleaseWriter();
    flip_buffer_ = std::vector<uint8_t>();
    // A movie written just before the failure must not look like the result
    // of a job that reports it failed.
    if (!written_output_.empty()) {
        std::error_code ec;
        std::filesystem::remove(written_output_, ec);
        written_output_.clear();
    }
    failure_reason_.clear();
    return FailRun(reason);
}

bool CEncodeRVXFile::TargetMissed() const {
    return target_bytes_ && written_bytes_ &&
           double(written_bytes_) > double(target_bytes_) * (1.0 + kMissedTargetShare);
}

void CEncodeRVXFile::NoteSizeAgainstTarget(const std::string& output) {
    const uint64_t size = FileBytes(output);
    if (!rate_plan_ || !target_bytes_) return;
    written_bytes_ = size;
    const double error = (double(size) - double(target_bytes_)) / double(target_bytes_);
    const std::string sizes = ByteCountText(size) + " of the " + ByteCountText(target_bytes_) + " asked";
    if (error < -kTargetTolerance && rate_plan_->AllAssigned(_rvxlib_::kMinQuality))
        notice_ = "the movie came out smaller than asked, " + sizes + ": quality 2 everywhere reaches no more";
    else if (error < -kTargetTolerance)
        notice_ = "the movie came out smaller than asked, " + sizes;
    else if (error > kTargetTolerance && rate_plan_->AllCoarsest())
        notice_ = "the movie came out larger than asked, " + sizes + ": quality 32 everywhere makes it no smaller";
    else if (error > kTargetTolerance)
        notice_ = "the movie came out larger than asked, " + sizes;
}

void CEncodeRVXFile::SetFailureReason(const std::string& reason) {
    if (failure_reason_.empty()) failure_reason_ = reason;
}
