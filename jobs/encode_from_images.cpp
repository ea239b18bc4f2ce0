#include "jobs/encode_from_images.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <new>
#include <utility>

#include "jobs/job_messages.h"
#include "jobs/work_directory.h"
#include "rvxlib/encoder/row_workers.h"
#include "support/allocation_failure.h"
#include "support/graphic_loader.h"
#include "support/surface.h"

namespace {

// The loader's own words on why an image was refused, as a suffix; memory
// that ran out for the picture it would have filled counts as such too.
std::string LoaderReason(const CGraphicLoader& loader) {
    const bool out_of_memory = TakeAllocationFailure();
    const std::string& why = loader.FailureReason();
    if (!why.empty()) return " (" + why + ")";
    return out_of_memory ? " (out of memory)" : std::string();
}

}  // namespace

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

CEncodeFromSeqFile::CEncodeFromSeqFile(IJobHost* owner, EncodeRequest request)
    : CEncodeRVXFile(owner, std::move(request)), slots_(1) {}

CEncodeFromSeqFile::~CEncodeFromSeqFile() {
    // The worker must end before anything it uses goes away.
    Stop();
    ReleaseWriter();
    if (!work_directory_.empty()) RemoveWorkDirectory(work_directory_);
    work_directory_.clear();
    sound_path_.clear();
}

int32_t CEncodeFromSeqFile::Load() {
    try {
        return LoadSteps();
    } catch (const std::bad_alloc&) {
        for (ImageSlot& slot : slots_) slot = ImageSlot();
        if (!work_directory_.empty()) RemoveWorkDirectory(work_directory_);
        work_directory_.clear();
        SetFailureReason("out of memory");
        return kJobFail;
    }
}

int32_t CEncodeFromSeqFile::LoadSteps() {
    sound_path_.clear();
    const std::string& wave = request_.wave;
    if (!wave.empty() && IsWaveFile(wave)) sound_path_ = wave;

    slots_[0].source = std::make_unique<CPlaneSurface>();
    slots_[0].loader = std::make_unique<CGraphicLoader>();

    const std::string& image = request_.source;
    if (image.empty()) {
        SetFailureReason("no image file was given");
        return kJobFail;
    }
    if (const std::string refusal = TwoPassRefusal(image); !refusal.empty()) {
        SetFailureReason(refusal);
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
    ImageSlot& first = slots_[0];
    if (!first.source) first.source = std::make_unique<CPlaneSurface>();
    if (!first.loader) first.loader = std::make_unique<CGraphicLoader>();
    if (!ParseSequenceName(path, sequence_)) {
        SetFailureReason(path + ": the name has no frame number");
        return false;
    }
    first.source->SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8);
    TakeAllocationFailure();  // only this load's failures count
    if (!first.source->LoadFile(path, first.loader.get())) {
        SetFailureReason(path + ": the image could not be read" + LoaderReason(*first.loader));
        return false;
    }
    int32_t w = 0, h = 0;
    first.source->GetSize(&w, &h);
    picture_width_ = static_cast<uint32_t>(w);
    picture_height_ = static_cast<uint32_t>(h);
    picture_format_ = first.source->GetFormat();
    first.conversion.reset();
    if (picture_format_ == PF_A8) {
        first.conversion = std::make_unique<CPlaneSurface>();
        if (!first.conversion->CreateWithFormat(w, h, PF_A8R8G8B8)) {
            SetFailureReason(path + ": no memory for the picture");
            return false;
        }
    } else if (picture_format_ != PF_X8R8G8B8 && picture_format_ != PF_A8R8G8B8) {
        SetFailureReason(path + ": unsupported pixel format");
        return false;
    }
    end_ = FindSequenceEnd(sequence_);
    first_decoded_ = true;
    return true;
}

bool CEncodeFromSeqFile::MakeSlot(ImageSlot& slot) const {
    slot.source = std::make_unique<CPlaneSurface>();
    slot.source->SetDefaultFormats(PF_X8R8G8B8, PF_A8R8G8B8);
    slot.loader = std::make_unique<CGraphicLoader>();
    slot.conversion.reset();
    if (picture_format_ != PF_A8) return true;
    slot.conversion = std::make_unique<CPlaneSurface>();
    return slot.conversion->CreateWithFormat(int32_t(picture_width_), int32_t(picture_height_),
                                             PF_A8R8G8B8) != 0;
}

void CEncodeFromSeqFile::Release(ImageSlot& slot) {
    (slot.conversion ? slot.conversion : slot.source)->Unlock();
}

CEncodeFromSeqFile::LoadedFrame CEncodeFromSeqFile::LoadFrame(ImageSlot& slot,
                                                              const std::string& name) const {
    TakeAllocationFailure();  // only this load's failures count
    if (!slot.source->LoadFile(name, slot.loader.get())) {
        LoadedFrame frame;
        frame.failure = name + ": the image could not be read" + LoaderReason(*slot.loader);
        return frame;
    }
    return TakeDecoded(slot, name);
}

CEncodeFromSeqFile::LoadedFrame CEncodeFromSeqFile::TakeDecoded(ImageSlot& slot,
                                                                const std::string& name) const {
    LoadedFrame frame;
    CPlaneSurface& source = *slot.source;
    // Every picture must have the first one's size and pixel form; another
    // would make the encoder read past its pixels or code garbage.
    int32_t w = 0, h = 0;
    source.GetSize(&w, &h);
    if (static_cast<uint32_t>(w) != picture_width_ || static_cast<uint32_t>(h) != picture_height_) {
        frame.failure = name + ": the image is " + std::to_string(w) + "x" + std::to_string(h) +
                        ", the run is " + std::to_string(picture_width_) + "x" +
                        std::to_string(picture_height_);
        return frame;
    }
    const uint32_t format = source.GetFormat();
    const bool grey_run = picture_format_ == PF_A8;
    if (grey_run != (format == PF_A8) || (!grey_run && format != PF_X8R8G8B8 && format != PF_A8R8G8B8)) {
        frame.failure = name + ": the image's pixel format differs from the first image's";
        return frame;
    }
    if (!source.Lock()) {
        frame.failure = name + ": the image has no pixels";
        return frame;
    }
    const SurfaceDesc& src = source.Desc();
    if (!grey_run) {
        if (src.pitch != w * 4) {
            source.Unlock();
            frame.failure = name + ": unexpected row layout";
            return frame;
        }
        frame.pixels = src.bits;
        return frame;
    }
    if (!slot.conversion->Lock()) {
        source.Unlock();
        frame.failure = name + ": the conversion picture has no pixels";
        return frame;
    }
    const SurfaceDesc& dst = slot.conversion->Desc();
    ExpandGreyRows(src.bits, src.pitch, dst.bits, dst.pitch, w, h);
    source.Unlock();
    frame.pixels = dst.bits;
    return frame;
}

int32_t CEncodeFromSeqFile::Run() {
    return RunCatchingOutOfMemory([this] { return EncodeSequence(); });
}

int32_t CEncodeFromSeqFile::EncodeSequence() {
    // Read without keeping a reference into slots_: EncodeImagesAhead
    // resizes it.
    CPlaneSurface* encode_surface =
        slots_[0].conversion ? slots_[0].conversion.get() : slots_[0].source.get();
    if (!encode_surface) return FailRun("the job was not loaded");
    const uint32_t layout = encode_surface->HasAlpha() ? kLayoutARGB32 : kLayoutRGB32;
    if (!SetSourceFormat(layout, picture_width_, picture_height_, false))
        return FailRun("the picture size " + std::to_string(picture_width_) + "x" +
                       std::to_string(picture_height_) + " cannot be encoded");
    total_frames_ = end_ - sequence_.first;
    // Pictures of a run have no time of their own: a start or duration in
    // seconds counts at the movie's rate, which the WAVE file plays along.
    const FrameRate& rate = request_.settings.frame_rate;
    rate_numerator_ = rate.IsSourceRate() ? 30 : rate.numerator;
    rate_denominator_ = rate.IsSourceRate() ? 1 : rate.denominator;
    if (!OpenEncoder(work_directory_, std::string())) return FailRun("the encoder could not be opened");

    if (TwoPass()) return EncodeTwoPasses();
    bool failed = false;
    const bool threaded = _rvxlib_::WorkerThreadCount() > 1;
    // The sound depends on nothing the pictures make: it is coded beside
    // them, and its result taken where it used to be coded.
    if (threaded && !sound_path_.empty()) StartSound(sound_path_);
    if (threaded && LookaheadSlots() > 1)
        EncodeImagesAhead(failed);
    else
        EncodeImages(failed);
    WaitForSound();

    if (!failed && CanContinue() && !sound_path_.empty() && EncodeSound(sound_path_) != kJobOk) failed = true;
    if (!CanContinue()) return FailRun("stopped");
    if (failed) return FailRun("");
    return FinishRun(*this);
}

void CEncodeFromSeqFile::EncodeAllImages(bool& failed) {
    if (_rvxlib_::WorkerThreadCount() > 1 && LookaheadSlots() > 1)
        EncodeImagesAhead(failed);
    else
        EncodeImages(failed);
}

int32_t CEncodeFromSeqFile::EncodeTwoPasses() {
    // The sound first: its size comes out of the budget.
    if (!sound_path_.empty() && EncodeSound(sound_path_) != kJobOk) return FailRun("");
    if (RefuseUnreachableTarget(total_frames_) != kJobOk) return kJobFail;
    bool failed = false;
    EncodeAllImages(failed);
    if (!CanContinue()) return FailRun("stopped");
    if (failed || !BeginSecondPass(work_directory_, std::string())) return FailRun("");
    EncodeAllImages(failed);
    if (!CanContinue()) return FailRun("stopped");
    if (failed) return FailRun("");
    return FinishRun(*this);
}

std::size_t CEncodeFromSeqFile::LookaheadSlots() const {
    constexpr std::size_t kMostSlots = 8;
    constexpr uint64_t kMostBytes = uint64_t{64} << 20;
    const uint64_t picture = std::max<uint64_t>(uint64_t(picture_width_) * picture_height_ * 4, 1);
    return std::size_t(std::clamp<uint64_t>(kMostBytes / picture, 2, kMostSlots));
}

uint64_t CEncodeFromSeqFile::FirstKeptNumber() const {
    return std::min<uint64_t>(sequence_.first + FirstKeptFrame(), end_);
}

uint64_t CEncodeFromSeqFile::EndKeptNumber() const {
    const uint64_t run = end_ - sequence_.first;
    return EndKeptFrame() >= run ? end_ : sequence_.first + EndKeptFrame();
}

std::vector<std::vector<uint8_t>> CEncodeFromSeqFile::SamplePictures(uint32_t count) {
    std::vector<std::vector<uint8_t>> pictures;
    const uint64_t first = FirstKeptNumber(), end = EndKeptNumber();
    if (first >= end || count == 0) return pictures;
    ImageSlot slot;
    if (!MakeSlot(slot)) return pictures;
    const std::size_t bytes = std::size_t(picture_width_) * 4 * picture_height_;
    uint64_t previous = end;
    for (uint32_t k = 0; k < count; ++k) {
        // The middle of each of `count` equal stretches of the part.
        const uint64_t n = first + ((end - first) * (2 * k + 1)) / (2 * uint64_t(count));
        if (n == previous) continue;
        previous = n;
        const LoadedFrame frame = LoadFrame(slot, FormatSequenceName(sequence_.pattern, n));
        if (!frame.pixels) continue;  // the encoder reports it when it comes to it
        pictures.emplace_back(frame.pixels, frame.pixels + bytes);
        Release(slot);
    }
    return pictures;
}

bool CEncodeFromSeqFile::TakeFirstDecoded(uint64_t n) {
    const bool first = first_decoded_ && n == sequence_.first;
    first_decoded_ = false;
    return first;
}

bool CEncodeFromSeqFile::EncodeLoaded(uint64_t n, const LoadedFrame& frame, ImageSlot& slot) {
    if (!frame.pixels) {
        SetFailureReason(frame.failure);
        return false;
    }
    current_name_ = SequenceDisplayName(sequence_.pattern, n);
    const int32_t status = EncodeFrame(frame.pixels);
    Release(slot);
    return status != kJobFail;
}

void CEncodeFromSeqFile::EncodeImages(bool& failed) {
    ImageSlot& slot = slots_[0];
    const uint64_t first = FirstKeptNumber(), end = EndKeptNumber();
    SkipSourceFrames(first - sequence_.first);
    for (uint64_t n = first; n < end; ++n) {
        if (!CanContinue()) break;
        const std::string name = FormatSequenceName(sequence_.pattern, n);
        if (!EncodeLoaded(n, TakeFirstDecoded(n) ? TakeDecoded(slot, name) : LoadFrame(slot, name), slot)) {
            failed = true;
            break;
        }
    }
}

void CEncodeFromSeqFile::EncodeImagesAhead(bool& failed) {
    const std::size_t count = LookaheadSlots();
    slots_.resize(count);
    std::vector<ImageSlot*> free;
    for (std::size_t k = 0; k < count; ++k) {
        if (k > 0 && !MakeSlot(slots_[k])) break;
        free.push_back(&slots_[k]);
    }
    const uint64_t first = FirstKeptNumber(), end = EndKeptNumber();
    SkipSourceFrames(first - sequence_.first);
    CImageLoaders loaders(
        first, end,
        [this](ImageSlot& slot, uint64_t n) { return LoadFrame(slot, FormatSequenceName(sequence_.pattern, n)); },
        &Release);
    if (TakeFirstDecoded(first)) {
        // The first picture is the one the load step decoded, still in slot 0.
        loaders.PutFirst(slots_[0], TakeDecoded(slots_[0], FormatSequenceName(sequence_.pattern, first)));
        free.erase(free.begin());
    }
    loaders.Start(std::move(free));

    for (uint64_t n = first; n < end; ++n) {
        if (!CanContinue()) break;
        auto [slot, frame] = loaders.Take(n);
        const bool encoded = EncodeLoaded(n, frame, *slot);
        loaders.GiveBack(slot);
        if (!encoded) {
            failed = true;
            break;
        }
    }
}
