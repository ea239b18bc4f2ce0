#include "jobs/encode_from_directshow.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

#include "jobs/movie_pipeline.h"
#include "jobs/movie_render_sound.h"
#include "jobs/movie_render_surface.h"
#include "jobs/movie_sample_pictures.h"
#include "jobs/movie_sound_tracks.h"
#include "jobs/work_directory.h"

namespace {

using namespace std::chrono_literals;

// A movie that does not reach its first picture in this time is taken as
// broken rather than left to hang the window.
constexpr auto kPrerollTimeout = 20s;
// The event loop's tick: a stop request is seen within this time.
constexpr auto kEventTick = 50ms;
// No sample decoded and nothing being encoded for this long: the decoder is
// stuck, and the job ends instead of waiting for ever.
constexpr int64_t kStallLimitMs = 60000;
// Frame periods below 10 us (100,000 fps) are not a movie's rate; they would
// also overflow the rate's 32-bit numerator.
constexpr int64_t kShortestFramePeriod = 100;
// Time stamps jumping back by more than this, or beyond the movie's length
// by more, are broken; without a length a pause may last up to ten minutes.
// A container's length may reach beyond the last picture by a hold of up to
// ten seconds.
constexpr int64_t kTimeLeapNs = 1000000000;
constexpr int64_t kLongestPauseNs = 600 * kTimeLeapNs;
constexpr int64_t kLongestLastHoldNs = 10 * kTimeLeapNs;
// The pictures sampled for cropping must all come within this.
constexpr auto kSampleTimeout = 10s;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

CEncodeFromDirectShow::CEncodeFromDirectShow(IJobHost* owner, EncodeRequest request)
    : CEncodeRVXFile(owner, std::move(request)) {}

CEncodeFromDirectShow::~CEncodeFromDirectShow() {
    // The worker and the streaming threads must end before what they use goes.
    Stop();
    pipeline_.reset();
    sound_.reset();
    surface_.reset();
    staged_sound_.reset();
    ReleaseWriter();
    if (!work_directory_.empty()) RemoveWorkDirectory(work_directory_);
    work_directory_.clear();
    movie_path_.clear();
}

int32_t CEncodeFromDirectShow::LoadFailure(const std::string& reason) {
    SetFailureReason(reason);
    if (pipeline_) pipeline_->Stop();
    return kJobFail;
}

int32_t CEncodeFromDirectShow::Load() {
    const std::string path = request_.source;
    if (path.empty()) return LoadFailure("no movie file was given");
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return LoadFailure(path + ": no such file");
    if (const std::string refusal = TwoPassRefusal(path); !refusal.empty()) return LoadFailure(refusal);
    if (!std::filesystem::is_regular_file(path, ec)) return LoadFailure(path + ": no such file");
    std::string reason;
    if (!InitMediaFramework(reason)) return LoadFailure(reason);

    surface_ = std::make_unique<CMovieRenderSurface>(picture_lock_);
    sound_ = std::make_unique<CMovieRenderSound>(sound_lock_);
    pipeline_ = std::make_unique<CMoviePipeline>(*surface_, *sound_);
    movie_path_ = path;
    if (const int32_t status = ChooseSoundTrack(); status != kJobOk) return status;
    if (!pipeline_->Preroll(path, kPrerollTimeout, reason)) return LoadFailure(path + ": " + reason);
    if (!pipeline_->HasPicture() || !surface_->ReadFormat())
        return LoadFailure(path + ": the movie has no picture stream that can be decoded");
    if (!ChooseFrameRate()) return LoadFailure(path + ": the movie does not tell its frame rate");
    // A track asked for by number that did not come would leave the movie
    // silent while the job reports success.
    if (request_.settings.source.audio_track > 0 && !pipeline_->HasSound())
        return LoadFailure(path + ": sound track " + std::to_string(request_.settings.source.audio_track) +
                           " could not be decoded");

    // Frames from the stream when it counts them, else from its length. A
    // stream with gaps or a variable rate counts fewer pictures than its
    // length holds frames; beyond a frame's rounding its length counts.
    movie_length_ns_ = static_cast<int64_t>(std::min<uint64_t>(pipeline_->DurationInTime(), INT64_MAX));
    const uint64_t period_ns = static_cast<uint64_t>(average_time_per_frame_) * 100;
    const uint64_t frames_in_length = (static_cast<uint64_t>(movie_length_ns_) + period_ns / 2) / period_ns;
    uint64_t frames = pipeline_->DurationInFrames();
    if (frames == 0 || frames_in_length > frames + 1) frames = frames_in_length;
    total_frames_ = static_cast<uint32_t>(std::min<uint64_t>(frames, std::numeric_limits<uint32_t>::max()));
    SetSourcePictureFacts(surface_->Format().facts);

    if (!CreateWorkDirectory(work_directory_)) {
        work_directory_.clear();
        return LoadFailure("the work directory could not be created under " + TemporaryFilesDirectory());
    }

    CMovieRenderSurface::FrameDelegate on_picture;
    on_picture.bind(this, &CEncodeFromDirectShow::OnPicture);
    surface_->SetDelegate(on_picture);
    if (pipeline_->HasSound()) {
        if (!sound_->ReadFormat()) return LoadFailure(path + ": the sound stream has a format that cannot be staged");
        staged_sound_ = std::make_unique<CStagedSoundFile>();
        if (!staged_sound_->Create(work_directory_ + kStagedSoundName))
            return LoadFailure(work_directory_ + kStagedSoundName + ": the sound file could not be created");
        CMovieRenderSound::SoundDelegate on_sound;
        on_sound.bind(this, &CEncodeFromDirectShow::OnSoundBlock);
        sound_->SetDelegate(on_sound);
    }
    return kJobOk;
}

int32_t CEncodeFromDirectShow::ChooseSoundTrack() {
    const uint16_t track = request_.settings.source.audio_track;
    if (track == 0) return kJobOk;
    std::vector<MovieSoundStream> streams;
    std::string reason;
    if (!ListMovieSoundStreams(movie_path_, streams, reason)) return LoadFailure(reason);
    if (track > streams.size())
        return MarkSettingsRefused(movie_path_ + " has no sound track " + std::to_string(track) + "; it has " +
                                   std::to_string(streams.size()));
    pipeline_->ChooseSoundStream(streams[track - 1].stream_id);
    return kJobOk;
}

bool CEncodeFromDirectShow::ChooseFrameRate() {
    // The stream's own rate; variable-rate streams say 0/1 and leave the
    // length of the first picture as the best guess.
    const MoviePictureFormat& format = surface_->Format();
    int64_t period = 0;
    if (format.rate_numerator > 0 && format.rate_denominator > 0)
        period = 10000000LL * format.rate_denominator / format.rate_numerator;
    if (period <= 0) period = surface_->PrerollFrameDuration();
    if (period < kShortestFramePeriod) return false;
    if (format.rate_numerator > 0 && format.rate_denominator > 0) {
        place_numerator_ = static_cast<uint64_t>(format.rate_numerator);
        place_denominator_ = static_cast<uint64_t>(format.rate_denominator);
    } else {
        place_numerator_ = 10000000;
        place_denominator_ = static_cast<uint64_t>(period);
    }
    average_time_per_frame_ = period;
    rate_numerator_ = static_cast<uint32_t>(10000000000LL / period);
    rate_denominator_ = 1000;
    return true;
}

uint64_t CEncodeFromDirectShow::FrameAt(int64_t ns) const {
    if (ns <= 0) return 0;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(ns) * place_numerator_;
    const unsigned __int128 per = static_cast<unsigned __int128>(place_denominator_) * 1000000000u;
    return static_cast<uint64_t>((scaled + per / 2) / per);
}

int64_t CEncodeFromDirectShow::FramePeriodNs() const {
    return static_cast<int64_t>(place_denominator_ * 1000000000u / place_numerator_);
}

void CEncodeFromDirectShow::ResetPlacement() {
    first_start_ = -1;
    end_time_ = 0;
    last_length_known_ = false;
    next_frame_ = 0;
    part_passed_ = false;
    part_end_frame_ = 0;
}

int32_t CEncodeFromDirectShow::HandOn(const void* pixels) {
    const int32_t status = EncodeFrame(pixels);
    ++next_frame_;
    if (status == kJobOk && PastKeptFrames() && !part_passed_) {
        part_end_frame_ = next_frame_;
        part_passed_ = true;
    }
    return status;
}

int32_t CEncodeFromDirectShow::PlacePicture(const void* pixels, const MoviePictureTime& time) {
    if (part_passed_) return kJobOk;
    uint64_t frame = next_frame_;  // a picture without a time follows the one before
    if (time.start >= 0) {
        // Pictures before the first time stamp count as frames of their own.
        const int64_t expected = static_cast<int64_t>(next_frame_) * FramePeriodNs();
        if (first_start_ < 0) first_start_ = time.start - expected;
        int64_t start = time.start - first_start_;
        // A time that leaps past the movie's end or far back is a clock that
        // broke or started again (files joined end to end), not a pause: the
        // picture follows the one before and later times count from it, so
        // that a broken stamp can neither repeat a picture for hours nor drop
        // the rest of the movie.
        const int64_t latest = movie_length_ns_ > 0 ? movie_length_ns_ + kTimeLeapNs : expected + kLongestPauseNs;
        if (start > latest || start < expected - kTimeLeapNs) {
            first_start_ = time.start - expected;
            start = expected;
        }
        frame = FrameAt(start);
        const int64_t end = start + (time.length > 0 ? time.length : FramePeriodNs());
        if (end >= end_time_) {
            end_time_ = end;
            last_length_known_ = time.length > 0;
        }
    } else {
        end_time_ = std::max(end_time_, static_cast<int64_t>((next_frame_ + 1) * FramePeriodNs()));
        last_length_known_ = false;
    }
    if (frame < next_frame_) return kJobOk;
    if (last_picture_.empty()) frame = next_frame_;
    const size_t bytes = static_cast<size_t>(surface_->Format().width) * surface_->Format().height * 4;
    while (next_frame_ < frame && !part_passed_) {
        if (const int32_t status = HandOn(last_picture_.data()); status != kJobOk) return status;
    }
    if (part_passed_) return kJobOk;
    if (const int32_t status = HandOn(pixels); status != kJobOk) return status;
    // Kept for a gap after it; the sink's buffer is gone once this returns.
    last_picture_.assign(static_cast<const uint8_t*>(pixels), static_cast<const uint8_t*>(pixels) + bytes);
    return kJobOk;
}

int32_t CEncodeFromDirectShow::FillToEnd() {
    if (part_passed_ || last_picture_.empty()) return kJobOk;
    // The container's length stands in for the last picture's own length
    // only when the stream did not tell it, and then only when it reaches a
    // frame or more beyond the last picture but not by more than a picture is
    // held: a sound track longer than the pictures must not add frames to a
    // movie whose pictures all came, and a length estimated from the bit
    // rate of a stream whose clock jumps can be off by hours.
    int64_t end = end_time_;
    const int64_t container_end = first_start_ >= 0 ? movie_length_ns_ - first_start_ : movie_length_ns_;
    if (!last_length_known_ && container_end > end_time_ + FramePeriodNs() &&
        container_end <= end_time_ + kLongestLastHoldNs)
        end = container_end;
    const uint64_t frames = FrameAt(end);
    while (next_frame_ < frames && !part_passed_ && CanContinue()) {
        if (const int32_t status = HandOn(last_picture_.data()); status != kJobOk) return status;
    }
    return kJobOk;
}

bool CEncodeFromDirectShow::PartComplete() {
    if (!part_passed_) return false;
    if (!staged_sound_) return true;
    // The sound runs on its own streaming thread and may trail the pictures;
    // the part's sound must be staged whole before decoding stops.
    const PcmFormat& format = sound_->Format();
    if (format.average_bytes_per_second == 0) return true;
    uint64_t staged;
    {
        std::lock_guard<std::mutex> hold(sound_lock_);
        staged = staged_sound_->DataLength();
    }
    const unsigned __int128 needed = static_cast<unsigned __int128>(part_end_frame_) * place_denominator_ *
                                     format.average_bytes_per_second / place_numerator_;
    return staged >= needed;
}

std::vector<std::vector<uint8_t>> CEncodeFromDirectShow::SamplePictures(uint32_t count) {
    if (movie_path_.empty() || !surface_) return {};
    const MoviePictureFormat& format = surface_->Format();
    return SampleMoviePictures(movie_path_, format.layout, format.width, format.height, count, kSampleTimeout);
}

long CEncodeFromDirectShow::OnPicture(void* pixels, MoviePictureTime time) {
    ++busy_;
    last_activity_ms_ = NowMs();
    int32_t status;
    // Nothing may be thrown into the pipeline's own code: running out of
    // memory ends the stream with an error, and the job fails with the reason.
    try {
        status = PlacePicture(pixels, time);
    } catch (const std::bad_alloc&) {
        SetFailureReason("out of memory");
        status = kJobFail;
    }
    if (status != kJobOk) picture_failed_ = true;
    last_activity_ms_ = NowMs();
    --busy_;
    // Past the part asked for no picture is wanted: the picture branch ends
    // there, so a long movie is not decoded to its end (nor fails on damage
    // beyond the part), while the sound branch goes on until it has staged
    // the part's sound.
    if (status == kJobOk && part_passed_) return 1;
    return status;
}

long CEncodeFromDirectShow::OnSoundBlock(void* data, unsigned int length) {
    last_activity_ms_ = NowMs();
    if (!staged_sound_->Append(data, length)) {
        // Sound cut short would be a silently damaged movie: the job fails.
        sound_failed_ = true;
        return 1;
    }
    return 0;
}

void CEncodeFromDirectShow::StopPipeline() {
    surface_->SetStopping();
    sound_->SetStopping();
    pipeline_->Stop();
}

int32_t CEncodeFromDirectShow::Run() {
    return RunCatchingOutOfMemory([this] {
        // The streaming threads must be stopped before the writer they feed
        // is released.
        try {
            return EncodeMovie();
        } catch (...) {
            if (pipeline_) StopPipeline();
            throw;
        }
    });
}

bool CEncodeFromDirectShow::PlayToEnd(std::string& error) {
    last_activity_ms_ = NowMs();
    if (!pipeline_->Play(error)) {
        StopPipeline();
        return false;
    }
    bool ended = false;
    bool failed = false;
    while (!ended && !failed && !picture_failed_ && !sound_failed_ && CanContinue()) {
        switch (pipeline_->WaitForEvent(kEventTick, error)) {
        case CMoviePipeline::Event::kEnd:
            ended = true;
            break;
        case CMoviePipeline::Event::kError:
            failed = true;
            break;
        case CMoviePipeline::Event::kNone:
            if (PartComplete()) {
                ended = true;
                break;
            }
            if (busy_ == 0 && NowMs() - last_activity_ms_ > kStallLimitMs) {
                error = "the movie stopped decoding";
                failed = true;
            }
            break;
        }
    }
    StopPipeline();
    return !failed;
}

int32_t CEncodeFromDirectShow::PlayPass(bool code_sound) {
    ResetPlacement();
    std::string error;
    const bool played = PlayToEnd(error);
    if (!CanContinue()) return FailRun("stopped");
    if (!played) return FailRun(movie_path_ + ": " + error);
    if (picture_failed_) return FailRun("");  // the frame's own reason stands
    if (sound_failed_) return FailRun(staged_sound_->Path() + ": the sound could not be staged");
    if (FillToEnd() != kJobOk || FlushPictures() != kJobOk) return FailRun("");
    if (!CanContinue()) return FailRun("stopped");
    if (frames_done_ == 0) return FailRun(movie_path_ + ": no picture could be decoded");
    if (staged_sound_ && code_sound) {
        const std::string wave = staged_sound_->Path();
        if (!staged_sound_->Complete()) return FailRun(wave + ": the sound file could not be completed");
        // An empty sound stream leaves nothing to encode.
        if (staged_sound_->DataLength() > 0 && EncodeSound(wave) != kJobOk) return FailRun("");
        std::error_code ec;
        std::filesystem::remove(wave, ec);
    }
    return kJobOk;
}

bool CEncodeFromDirectShow::ReopenPipeline(std::string& reason) {
    // A stopped pipeline and its stopping sinks cannot play again: the movie
    // is opened anew, its pictures to the encoder, its sound (already coded)
    // nowhere.
    const MoviePictureFormat first = surface_->Format();
    pipeline_.reset();
    surface_ = std::make_unique<CMovieRenderSurface>(picture_lock_);
    sound_ = std::make_unique<CMovieRenderSound>(sound_lock_);
    pipeline_ = std::make_unique<CMoviePipeline>(*surface_, *sound_);
    if (!pipeline_->Preroll(movie_path_, kPrerollTimeout, reason)) return false;
    if (!pipeline_->HasPicture() || !surface_->ReadFormat()) {
        reason = "the movie's pictures could not be decoded a second time";
        return false;
    }
    const MoviePictureFormat& again = surface_->Format();
    if (again.width != first.width || again.height != first.height || again.layout != first.layout) {
        reason = "the movie's pictures changed between the two passes";
        return false;
    }
    if (pipeline_->HasSound() && !sound_->ReadFormat()) {
        reason = "the sound stream has a format that cannot be read";
        return false;
    }
    CMovieRenderSurface::FrameDelegate on_picture;
    on_picture.bind(this, &CEncodeFromDirectShow::OnPicture);
    surface_->SetDelegate(on_picture);
    return true;
}

int32_t CEncodeFromDirectShow::EncodeTwoPasses() {
    // The sound comes with the first pass's pictures, so its exact size is
    // known only after it; before any picture the target is checked against
    // the movie without sound.
    if (RefuseUnreachableTarget(total_frames_) != kJobOk) {
        StopPipeline();
        return kJobFail;
    }
    if (const int32_t status = PlayPass(true); status != kJobOk) return status;
    if (!BeginSecondPass(work_directory_, movie_path_)) return FailRun("");
    if (std::string error; !ReopenPipeline(error)) {
        if (pipeline_) StopPipeline();
        return FailRun(movie_path_ + ": " + error);
    }
    if (const int32_t status = PlayPass(false); status != kJobOk) return status;
    return FinishRun(*this);
}

int32_t CEncodeFromDirectShow::EncodeMovie() {
    if (!pipeline_ || !surface_ || work_directory_.empty()) return FailRun("the job was not loaded");
    const MoviePictureFormat& format = surface_->Format();
    if (!SetSourceFormat(format.layout, format.width, format.height, false))
        return FailRun("the picture size " + std::to_string(format.width) + "x" + std::to_string(format.height) +
                       " cannot be encoded");
    if (staged_sound_ && !staged_sound_->WriteHeader(sound_->Format()))
        return FailRun(staged_sound_->Path() + ": the sound file could not be written");
    if (!OpenEncoder(work_directory_, movie_path_)) return FailRun("the encoder could not be opened");

    if (TwoPass()) return EncodeTwoPasses();
    if (const int32_t status = PlayPass(true); status != kJobOk) return status;
    return FinishRun(*this);
}
