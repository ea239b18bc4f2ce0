#include "jobs/encode_from_images.h"

#include <cstdio>
#include <cstring>

#include "jobs/control_ids.h"
#include "jobs/job_messages.h"
#include "jobs/work_directory.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

bool IsWaveFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t head[44];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

void ExpandGreyRows(const uint8_t* grey, int32_t grey_pitch, uint8_t* out, int32_t out_pitch, int32_t width,
                    int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = grey + static_cast<ptrdiff_t>(y) * grey_pitch;
        uint8_t* dst = out + static_cast<ptrdiff_t>(y) * out_pitch;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t g = src[x];
            dst[4 * x + 0] = g;
            dst[4 * x + 1] = g;
            dst[4 * x + 2] = g;
            dst[4 * x + 3] = g;
        }
    }
}

CEncodeFromSeqFile::CEncodeFromSeqFile(IJobHost* owner) : CEncodeRVXFile(owner), page_(owner) {}

CEncodeFromSeqFile::~CEncodeFromSeqFile() {
    // The worker must end before anything it uses goes away.
    Stop();
    if (!work_directory_.empty()) RemoveWorkDirectory(work_directory_);
    work_directory_.clear();
    sound_path_.clear();
}

int32_t CEncodeFromSeqFile::Load() {
    sound_path_.clear();
    const std::string wave = page_->GetControlText(kIdWavePath);
    if (!wave.empty() && IsWaveFile(wave)) sound_path_ = wave;

    source_ = std::make_unique<CPlaneSurface>();
    loader_ = std::make_unique<CGraphicLoader>();

    const std::string image = page_->GetControlText(kIdImagePath);
    if (image.empty()) {
        SetFailureReason("no image file was given");
        return kJobFail;
    }
    if (!DiscoverSequence(image)) return kJobFail;
    if (!CreateWorkDirectory(work_directory_)) {
        work_directory_.clear();
        SetFailureReason("the work directory could not be created under " + TemporaryFilesDirectory());
        return kJobFail;
    }
    return kJobOk;
}

bool CEncodeFromSeqFile::DiscoverSequence(const std::string& path) {
    if (!source_) source_ = std::make_unique<CPlaneSurface>();
    if (!loader_) loader_ = std::make_unique<CGraphicLoader>();
    if (!ParseSequenceName(path, sequence_)) {
        SetFailureReason(path + ": the name has no frame number");
        return false;
    }
    source_->SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8);
    if (!source_->LoadFile(path, loader_.get())) {
        SetFailureReason(path + ": the image could not be read");
        return false;
    }
    int32_t w = 0, h = 0;
    source_->GetSize(&w, &h);
    picture_width_ = static_cast<uint32_t>(w);
    picture_height_ = static_cast<uint32_t>(h);
    picture_format_ = source_->GetFormat();
    conversion_.reset();
    if (picture_format_ == PF_A8) {
        conversion_ = std::make_unique<CPlaneSurface>();
        if (!conversion_->CreateWithFormat(w, h, PF_A8R8G8B8)) {
            SetFailureReason(path + ": no memory for the picture");
            return false;
        }
    } else if (picture_format_ != PF_X8R8G8B8 && picture_format_ != PF_A8R8G8B8) {
        SetFailureReason(path + ": unsupported pixel format");
        return false;
    }
    end_ = FindSequenceEnd(sequence_);
    return true;
}

const uint8_t* CEncodeFromSeqFile::LoadFrame(const std::string& name) {
    if (!source_->LoadFile(name, loader_.get())) {
        SetFailureReason(name + ": the image could not be read");
        return nullptr;
    }
    // Every picture must have the first one's size and pixel form; another
    // would make the encoder read past its pixels or code garbage.
    int32_t w = 0, h = 0;
    source_->GetSize(&w, &h);
    if (static_cast<uint32_t>(w) != picture_width_ || static_cast<uint32_t>(h) != picture_height_) {
        SetFailureReason(name + ": the image is " + std::to_string(w) + "x" + std::to_string(h) +
                         ", the run is " + std::to_string(picture_width_) + "x" +
                         std::to_string(picture_height_));
        return nullptr;
    }
    const uint32_t format = source_->GetFormat();
    const bool grey_run = picture_format_ == PF_A8;
    if (grey_run != (format == PF_A8) || (!grey_run && format != PF_X8R8G8B8 && format != PF_A8R8G8B8)) {
        SetFailureReason(name + ": the image's pixel format differs from the first image's");
        return nullptr;
    }
    if (!source_->Lock()) {
        SetFailureReason(name + ": the image has no pixels");
        return nullptr;
    }
    const SurfaceDesc& src = source_->Desc();
    if (!grey_run) {
        if (src.pitch != w * 4) {
            source_->Unlock();
            SetFailureReason(name + ": unexpected row layout");
            return nullptr;
        }
        return src.bits;  // unlocked by the caller after encoding
    }
    if (!conversion_->Lock()) {
        source_->Unlock();
        SetFailureReason(name + ": the conversion picture has no pixels");
        return nullptr;
    }
    const SurfaceDesc& dst = conversion_->Desc();
    ExpandGreyRows(src.bits, src.pitch, dst.bits, dst.pitch, w, h);
    source_->Unlock();
    return dst.bits;
}

int32_t CEncodeFromSeqFile::Run() {
    CPlaneSurface* encode_surface = conversion_ ? conversion_.get() : source_.get();
    if (!encode_surface) return FailRun("the job was not loaded");
    const uint32_t layout = encode_surface->HasAlpha() ? kLayoutARGB32 : kLayoutRGB32;
    if (!SetSourceFormat(layout, picture_width_, picture_height_, false))
        return FailRun("the picture size " + std::to_string(picture_width_) + "x" +
                       std::to_string(picture_height_) + " cannot be encoded");
    total_frames_ = end_ - sequence_.first;
    rate_numerator_ = 30;
    rate_denominator_ = 1;
    if (!OpenEncoder(work_directory_, std::string())) return FailRun("the encoder could not be opened");

    bool failed = false;
    for (uint64_t n = sequence_.first; n < end_; ++n) {
        if (!CanContinue()) break;
        const std::string name = FormatSequenceName(sequence_.pattern, n);
        const uint8_t* pixels = LoadFrame(name);
        if (!pixels) {
            failed = true;
            break;
        }
        current_name_ = name;
        const int32_t status = EncodeFrame(pixels);
        encode_surface->Unlock();
        if (status == kJobFail) {
            failed = true;
            break;
        }
    }

    if (!failed && CanContinue() && !sound_path_.empty() && EncodeSound(sound_path_) != kJobOk) failed = true;
    if (!CanContinue()) return FailRun("stopped");
    if (failed) return FailRun("");
    return FinishRun(*this);
}
