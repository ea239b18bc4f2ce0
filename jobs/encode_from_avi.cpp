#include "jobs/encode_from_avi.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "jobs/avi_movie.h"
#include "jobs/avi_picture_facts.h"
#include "jobs/ffmpeg_api.h"
#include "jobs/sound_tracks.h"
#include "jobs/work_directory.h"

std::string AviStatusText(int32_t status) {
    switch (status) {
    case kAviOk:
        return "success";
    case kAviNoInterface:
        return "no decoder for the stream";
    case kAviNoData:
        return "no such stream";
    case kAviEndOfStream:
        return "end of the stream";
    case kAviOutOfMemory:
        return "out of memory";
    case kAviFail:
        return "not an AVI file, or damaged";
    default: {
        char code[32];
        std::snprintf(code, sizeof code, "error 0x%08X", static_cast<unsigned>(status));
        return code;
    }
    }
}

void WidenUnsigned8(const uint8_t* samples, size_t count, std::vector<uint8_t>& out) {
    out.resize(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const int16_t v = static_cast<int16_t>((samples[i] - 128) * 256);
        out[2 * i] = static_cast<uint8_t>(v & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    }
}

CEncodeFromAVI::CEncodeFromAVI(IJobHost* owner, EncodeRequest request)
    : CEncodeRVXFile(owner, std::move(request)) {}

CEncodeFromAVI::~CEncodeFromAVI() {
    // The worker must end before the reader and the files it uses go away.
    Stop();
    staged_.reset();
    ReleaseWriter();
    if (!work_directory_.empty()) RemoveWorkDirectory(work_directory_);
    avi_path_.clear();
    work_directory_.clear();
    staged_path_.clear();
    movie_.reset();
}

int32_t CEncodeFromAVI::Load() {
    const std::string path = request_.source;
    if (path.empty()) {
        SetFailureReason("no AVI file was given");
        return kJobFail;
    }
    if (const std::string refusal = TwoPassRefusal(path); !refusal.empty()) {
        SetFailureReason(refusal);
        return kJobFail;
    }
    const uint16_t track = request_.settings.source.audio_track;
    auto movie = std::make_unique<CAVIMovie>(track > 0 ? track - 1u : 0u);
    const int32_t opened = movie->Open(path);
    if (opened != kAviOk) {
        SetFailureReason(path + ": the file could not be opened (" +
                         (LoadFfmpeg() ? AviStatusText(opened) : FfmpegLoadFailure()) + ")");
        return opened;
    }
    if (track > 0) {
        const size_t tracks = AviSoundTracks(path).size();
        if (track > tracks)
            return MarkSettingsRefused(path + " has no sound track " + std::to_string(track) + "; it has " +
                                       std::to_string(tracks));
    }
    movie_ = std::move(movie);
    avi_path_ = path;
    if (!CreateWorkDirectory(work_directory_)) {
        work_directory_.clear();
        SetFailureReason("the work directory could not be created under " + TemporaryFilesDirectory());
        return kJobFail;
    }
    WaveFormatEx sound;
    if (movie_->GetSoundFormat(&sound) == kAviOk) {
        staged_ = std::make_unique<CStagedSoundFile>();
        staged_path_ = work_directory_ + kStagedSoundName;
        if (!staged_->Create(staged_path_)) {
            SetFailureReason(staged_path_ + ": the sound file could not be created");
            staged_.reset();
            staged_path_.clear();
            return kJobFail;
        }
    }
    return kJobOk;
}

bool CEncodeFromAVI::EncodeFrames() {
    // The source's own length: the job's total counts the kept frames only.
    const uint32_t length = movie_->GetFileInfo()->length;
    // The part asked for starts with an exact seek, which decodes the
    // pictures before it without converting them. A file that states no
    // length is read as far as its pictures go.
    const uint64_t first = std::min<uint64_t>(FirstKeptFrame(), length ? length : UINT32_MAX);
    const int32_t sought = movie_->SeekVideo(static_cast<uint32_t>(first));
    if (sought != kAviOk) {
        SetFailureReason(avi_path_ + ": the file could not be read from picture " + std::to_string(first + 1) + " (" +
                         AviStatusText(sought) + ")");
        return false;
    }
    SkipSourceFrames(first);
    // The file's length is taken as the picture count, but it may count
    // beyond the last picture (a longer sound stream, a file cut short, an
    // over-counting header). Running out of pictures after at least one
    // therefore ends the movie where the pictures end instead of failing it
    // (counted as handed over: a deinterlacer may still hold the first).
    for (uint64_t i = first; length == 0 || i < length; ++i) {
        if (PastKeptFrames()) return true;
        if (!CanContinue()) return false;
        const uint8_t* pixels = nullptr;
        const int32_t read = movie_->ReadVideoFrame(&pixels);
        if (read == kAviEndOfStream && i > first) return true;
        if (read != kAviOk) {
            SetFailureReason(avi_path_ + ": picture " + std::to_string(i + 1) + " could not be read (" +
                             AviStatusText(read) + ")");
            return false;
        }
        if (EncodeFrame(pixels) == kJobFail) return false;
    }
    return true;
}

std::vector<std::vector<uint8_t>> CEncodeFromAVI::SamplePictures(uint32_t count) {
    std::vector<std::vector<uint8_t>> pictures;
    if (count == 0 || avi_path_.empty()) return pictures;
    // A reader of its own: the job's reader keeps its place in the movie.
    CAVIMovie sampler;
    BitmapInfoHeader header;
    if (sampler.Open(avi_path_) != kAviOk || sampler.GetVideoFormat(&header) != kAviOk || header.bit_count != 32)
        return pictures;
    // 32-bit rows need no padding: the stride EncodeFrame takes is the row.
    const uint32_t width = static_cast<uint32_t>(header.width);
    const uint32_t rows = static_cast<uint32_t>(header.height < 0 ? -int64_t(header.height) : header.height);
    const size_t row_bytes = size_t(width) * 4;
    const uint32_t length = sampler.GetFileInfo()->length;
    for (uint32_t k = 0; k < count; ++k) {
        // The middle of each of `count` equal parts, so the first and last
        // pictures (often black fades) weigh no more than the others.
        const uint32_t frame =
            length ? static_cast<uint32_t>((2 * uint64_t(k) + 1) * length / (2 * uint64_t(count))) : 0;
        const uint8_t* pixels = nullptr;
        if (sampler.ReadVideoNear(frame, &pixels) != kAviOk) continue;
        std::vector<uint8_t> picture(row_bytes * rows);
        for (uint32_t y = 0; y < rows; ++y) {
            const uint32_t from = header.height > 0 ? rows - 1 - y : y;
            std::memcpy(&picture[y * row_bytes], pixels + size_t(from) * row_bytes, row_bytes);
        }
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

bool CEncodeFromAVI::EncodeStagedSound() {
    WaveFormatEx decoded;
    if (movie_->GetSoundFormat(&decoded) != kAviOk) return true;
    // The sound encoder reads 16-, 24- and 32-bit PCM only; 8-bit sound is
    // staged widened to 16 bits rather than lost.
    const bool widen = decoded.bits_per_sample == 8;
    PcmFormat format;
    format.format_tag = decoded.format_tag;
    format.channels = decoded.channels;
    format.samples_per_second = decoded.samples_per_second;
    format.bits_per_sample = widen ? 16 : decoded.bits_per_sample;
    format.block_alignment = static_cast<uint16_t>(format.channels * (format.bits_per_sample / 8));
    format.average_bytes_per_second = format.samples_per_second * format.block_alignment;
    std::vector<uint8_t> wide;
    if (!staged_->WriteHeader(format)) {
        SetFailureReason(staged_path_ + ": the sound could not be written");
        return false;
    }
    for (;;) {
        if (!CanContinue()) return false;
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        const int32_t read = movie_->ReadSound(&data, &length);
        if (read == kAviEndOfStream) break;
        if (read != kAviOk) {
            SetFailureReason(avi_path_ + ": the sound could not be read (" + AviStatusText(read) + ")");
            return false;
        }
        if (widen) {
            WidenUnsigned8(data, length, wide);
            data = wide.data();
            length = static_cast<uint32_t>(wide.size());
        }
        if (!staged_->Append(data, length)) {
            SetFailureReason(staged_path_ + ": the sound could not be written");
            return false;
        }
    }
    if (!staged_->Complete()) {
        SetFailureReason(staged_path_ + ": the sound could not be written");
        return false;
    }
    // A sound the encoder cannot code leaves a movie without sound; the
    // pictures are still worth keeping.
    EncodeSound(staged_path_);
    std::remove(staged_path_.c_str());
    return true;
}

int32_t CEncodeFromAVI::EncodeTwoPasses() {
    // The sound first: its size comes out of the budget. Each stream is read
    // on its own, so the pictures are read from the start after it.
    if (staged_ && !EncodeStagedSound()) return FailRun(CanContinue() ? "" : "stopped");
    if (RefuseUnreachableTarget(total_frames_) != kJobOk) return kJobFail;
    for (int pass = 1; pass <= 2; ++pass) {
        const bool frames = EncodeFrames();
        if (!CanContinue()) return FailRun("stopped");
        if (!frames) return FailRun("");
        if (pass == 1 && !BeginSecondPass(work_directory_, avi_path_)) return FailRun("");
    }
    return FinishRun(*this);
}

int32_t CEncodeFromAVI::Run() {
    return RunCatchingOutOfMemory([this] { return EncodeMovie(); });
}

int32_t CEncodeFromAVI::EncodeMovie() {
    if (!movie_) return FailRun("the job was not loaded");
    const AviFileInfo& info = *movie_->GetFileInfo();
    BitmapInfoHeader header;
    const int32_t video = movie_->GetVideoFormat(&header);
    if (video != kAviOk)
        return FailRun(avi_path_ + ": the video cannot be read (" +
                       (video == kAviNoData ? std::string("the file has no video stream") : AviStatusText(video)) +
                       ")");
    const uint32_t layout = header.bit_count == 32 ? kLayoutRGB32 : kLayoutRGB24;
    const uint32_t height = static_cast<uint32_t>(header.height < 0 ? -int64_t(header.height) : header.height);
    if (!SetSourceFormat(layout, static_cast<uint32_t>(header.width), height, header.height > 0))
        return FailRun(avi_path_ + ": the picture size " + std::to_string(header.width) + "x" +
                       std::to_string(height) + " cannot be encoded");
    if (info.rate == 0 || info.scale == 0) return FailRun(avi_path_ + ": the file states no frame rate");
    rate_numerator_ = info.rate;
    rate_denominator_ = info.scale;
    total_frames_ = info.length;
    SetSourcePictureFacts(ReadAviPictureFacts(avi_path_));
    if (!OpenEncoder(work_directory_, avi_path_)) return FailRun("the encoder could not be opened");
    if (TwoPass()) return EncodeTwoPasses();

    const bool frames = EncodeFrames();
    if (!CanContinue()) return FailRun("stopped");
    if (!frames) return FailRun("");
    if (staged_ && !EncodeStagedSound()) return FailRun(CanContinue() ? "" : "stopped");
    return FinishRun(*this);
}
