#include "container/rvx_encode.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <system_error>

#include "container/quant_matrices.h"
#include "rvxlib/encoder/row_workers.h"
#include "snxlib/snx_decode.h"
#include "snxlib/snx_encode.h"
#include "support/hash.h"
#include "support/stdio_file.h"

using namespace rvx_layout;
namespace fs = std::filesystem;

namespace {

constexpr size_t kSoundCopyPiece = 65536;

// Every write, seek and flush result is checked; the first failure sticks.
class MovieOutput {
public:
    MovieOutput(const FileWriteOps& ops, FileHandle handle) : ops_(ops), handle_(handle) {}

    bool Write(const void* bytes, size_t length) {
        const uint8_t* p = static_cast<const uint8_t*>(bytes);
        while (ok_ && length > 0) {
            const uint32_t piece = uint32_t(std::min<size_t>(length, 1u << 30));
            uint32_t written = 0;
            if (ops_.write(handle_, p, piece, &written, nullptr) == 0 || written != piece) ok_ = false;
            p += piece;
            length -= piece;
        }
        return ok_;
    }
    bool SeekToStart() {
        int64_t position = -1;
        if (ok_ && (ops_.seek(handle_, 0, &position, kFileSeekBegin) == 0 || position != 0)) ok_ = false;
        return ok_;
    }
    bool Flush() {
        if (ok_ && ops_.flush(handle_) == 0) ok_ = false;
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    const FileWriteOps& ops_;
    FileHandle handle_;
    bool ok_ = true;
};

void FoldInto(const CHashSHA256& sha, uint8_t* out) { sha.FoldDigest(out, kFoldedDigestSize); }

void StoreIndex(const std::vector<RVXGroupEntry>& groups, std::vector<uint8_t>& index) {
    for (size_t g = 0; g < groups.size(); ++g) {
        const RVXGroupEntry& e = groups[g];
        StoreGroupEntry(&index[g * kGroupIndexEntrySize], {e.first_frame, e.record_count, e.offset, e.length});
    }
}

fs::path TemporaryNameBeside(const fs::path& output) {
    std::random_device random;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08" PRIx32 ".part", uint32_t(random()));
    // Hidden, and unique enough that two writers never share it.
    std::string name(".");
    name.append(output.filename().string()).append(suffix);
    return output.parent_path() / name;
}

// One record and its payload, read back from its file; the frame digest
// covers both.
bool WriteRecord(MovieOutput& out, const CRVXPayloadFiles& payloads, const RVXGroupEntry& group,
                 const RVXFrameRecord& record, std::vector<uint8_t>& payload, CHashSHA256& sha) {
    const bool repeat = RecordType(record.type) == kRecordRepeat;
    if (!repeat && !payloads.ReadPayload(group, record, payload)) return false;
    uint8_t bytes[kFrameRecordSize];
    StoreFrameRecord(bytes, record);
    out.Write(bytes, kFrameRecordSize);
    sha.Update(bytes, kFrameRecordSize);
    if (!repeat && record.length != 0) {
        out.Write(payload.data(), record.length);
        sha.Update(payload.data(), record.length);
    }
    return out.ok();
}

// Every group's records in coding order, each followed by its payload,
// starting at *end; fills in the groups' offsets and lengths and the frame
// section's header fields, and moves *end past the section.
bool WriteFrameSection(MovieOutput& out, CRVXPayloadFiles& payloads, uint8_t* header, uint64_t* end) {
    const std::vector<RVXFrameRecord>& records = payloads.Records();
    const uint64_t first = *end;
    CHashSHA256 sha;
    std::vector<uint8_t> payload;
    size_t next = 0;
    for (RVXGroupEntry& group : payloads.Groups()) {
        if (group.record_count > records.size() - next) return false;
        group.offset = *end;
        group.length = 0;
        for (uint32_t i = 0; i < group.record_count; ++i, ++next) {
            if (!WriteRecord(out, payloads, group, records[next], payload, sha)) return false;
            group.length += kFrameRecordSize + uint64_t(records[next].length);
        }
        *end += group.length;
    }
    if (next != records.size()) return false;
    sha.Final();
    StoreLE64(header + kOffsetFrameSection, first);
    StoreLE64(header + kOffsetFirstGroup, first);
    StoreLE64(header + kOffsetFrameSectionLength, *end - first);
    StoreLE32(header + kOffsetRecordCount, uint32_t(records.size()));
    StoreLE32(header + kOffsetGroupCount, uint32_t(payloads.Groups().size()));
    FoldInto(sha, header + kOffsetFrameDigest);
    return true;
}

// The sound format fields of the header, from the SNX file's own header.
bool StoreSoundFormat(const fs::path& sound, uint8_t* header) {
    _snxlib_::CSNXDecode decoder;
    if (decoder.Open(sound) != 1) return false;
    StoreLE16(header + kOffsetSoundChannels, decoder.GetChannels());
    StoreLE16(header + kOffsetSoundBitsPerSample, decoder.GetBitsPerSample());
    StoreLE32(header + kOffsetSoundSampleRate, decoder.GetSampleRate());
    StoreLE32(header + kOffsetSoundSampleFrames, decoder.GetSampleFrames());
    StoreLE32(header + kOffsetSoundPresent, 1);
    return true;
}

// Copies a whole file to the movie; *size counts the bytes, sha digests them.
bool CopyFile(MovieOutput& out, const fs::path& path, CHashSHA256& sha, uint64_t* size) {
    StdioFile in(path, "rb");
    if (!in) return false;
    std::vector<uint8_t> piece(kSoundCopyPiece);
    for (;;) {
        const size_t n = std::fread(piece.data(), 1, piece.size(), in.get());
        if (n > 0) {
            if (!out.Write(piece.data(), n)) return false;
            sha.Update(piece.data(), n);
            *size += n;
        }
        if (n < piece.size()) break;
    }
    return !std::ferror(in.get());
}

// The sound track after the frame section, with its header fields; without
// sound the sound fields are all zero.
bool AppendSound(MovieOutput& out, const fs::path& sound, uint8_t* header, uint64_t* end) {
    std::memset(header + kOffsetSoundOffset, 0, kOffsetRecordCount - kOffsetSoundOffset);
    std::memset(header + kOffsetSoundChannels, 0, kOffsetIntraMatrix - kOffsetSoundChannels);
    if (sound.empty()) return true;
    if (!StoreSoundFormat(sound, header)) return false;
    CHashSHA256 sha;
    uint64_t size = 0;
    if (!CopyFile(out, sound, sha, &size)) return false;
    sha.Final();
    StoreLE64(header + kOffsetSoundOffset, *end);
    StoreLE64(header + kOffsetSoundLength, size);
    FoldInto(sha, header + kOffsetSoundDigest);
    *end += size;
    return true;
}

// The final header and index over the ones that reserved their place.
bool RewriteHeaderAndIndex(MovieOutput& out, uint8_t* header, const std::vector<uint8_t>& index,
                           uint64_t fileSize) {
    CHashSHA256 sha;
    sha.Update(header + kHeaderDigestCoverageStart, kHeaderSize - kHeaderDigestCoverageStart);
    sha.Update(index.data(), index.size());
    sha.Final();
    FoldInto(sha, header + kOffsetHeaderDigest);
    StoreLE64(header + kOffsetFileSize, fileSize);
    out.SeekToStart();
    out.Write(header, kHeaderSize);
    out.Write(index.data(), index.size());
    out.Flush();
    return out.ok();
}

}  // namespace

CRVXEncode::CRVXEncode()
    : coder_(std::make_unique<_rvxlib_::CRVXGroupCoder>()), threads_(_rvxlib_::WorkerThreadCount()) {
    std::memcpy(header_.data() + kOffsetMagic, kMagic, sizeof kMagic);
    // Selector 3 keeps the matrices there are: these, until an Open loads others.
    LoadQuantMatrices(kMatrixSelectorMpeg, settings_.intra_matrix, settings_.inter_matrix);
}

CRVXEncode::~CRVXEncode() = default;

void CRVXEncode::SetFrameRate(uint32_t numerator, uint32_t denominator) {
    rate_numerator_ = numerator;
    rate_denominator_ = denominator;
}

void CRVXEncode::SetGopStructure(uint16_t pFrames, uint16_t bFrames) {
    gop_ = _rvxlib_::ClampGopShape(pFrames, bFrames);
    settings_.b_count = gop_.b_frames;
    settings_.gop_length = gop_.Length();
}

void CRVXEncode::SetSceneChange(uint16_t value) { settings_.scene_change = _rvxlib_::ClampSceneChange(value); }

void CRVXEncode::SetQuality(const uint16_t* values) {
    if (values == nullptr) return;
    settings_.quality_i = _rvxlib_::ClampQuality(values[0]);
    settings_.quality_p = _rvxlib_::ClampQuality(values[1]);
    settings_.quality_b = _rvxlib_::ClampQuality(values[2]);
    matrix_selector_ = values[3];
}

void CRVXEncode::SetPreset(_rvxlib_::RVXPreset preset, bool adaptiveQuantisation) {
    preset_ = preset;
    settings_.tuning = _rvxlib_::TuningFor(preset);
    settings_.adaptive_quantisation = adaptiveQuantisation && settings_.tuning.adapts_quantisers;
}

void CRVXEncode::SetRateControl(std::shared_ptr<_rvxlib_::IRVXRateControl> control) {
    rate_control_ = std::move(control);
    settings_.rate_control = rate_control_.get();
}

std::vector<_rvxlib_::RVXPassFrame> CRVXEncode::PassFrames() const {
    std::vector<_rvxlib_::RVXPassFrame> frames;
    const std::vector<RVXFrameRecord>& records = Records();
    size_t next = 0;
    for (uint32_t g = 0; g < Groups().size(); ++g) {
        const RVXGroupEntry& group = Groups()[g];
        for (uint32_t k = 0; k < group.record_count && next < records.size(); ++k, ++next) {
            const RVXFrameRecord& record = records[next];
            const uint32_t frame = group.first_frame + RecordPosition(record.type);
            if (frame >= frames.size()) frames.resize(frame + 1);
            _rvxlib_::RVXPassFrame& f = frames[frame];
            f.kind = _rvxlib_::FrameKindOfRecord(record.type);
            f.quantiser = rate_control_ ? rate_control_->QuantiserGiven(frame) : settings_.FixedQuantisers().Of(f.kind);
            f.group = g;
            f.coding_position = k;
            f.bytes = record.length;
        }
    }
    return frames;
}

uint32_t CRVXEncode::Macroblocks() const {
    return HasCodec() ? PixelBlock()->MacroblockColumns() * PixelBlock()->MacroblockRows() : 0;
}

uint32_t CRVXEncode::BlocksPerMacroblock() const {
    return HasCodec() ? BlockConverter()->BlocksPerMacroblock() : 0;
}

void CRVXEncode::SetPicture(uint32_t width, uint32_t height, uint32_t format) {
    StorePicture(width, height, format);
}

void CRVXEncode::SetWorkDirectory(const fs::path& directory) { work_directory_ = directory; }

void CRVXEncode::SetFramePrefix(const fs::path& prefix) { payloads_.SetPrefix(prefix); }

void CRVXEncode::SetSoundFile(const fs::path& snx) { sound_path_ = snx; }

fs::path CRVXEncode::FrameFileName(uint32_t displayNumber) const { return payloads_.FileName(displayNumber); }

bool CRVXEncode::Open() {
    // The old coder points at the codec objects that SetupCodec destroys. A
    // new Open also starts a new movie: frames of an earlier one would carry
    // frame numbers that the new frames reuse.
    coder_ = std::make_unique<_rvxlib_::CRVXGroupCoder>();
    payloads_.Clear();
    if (rate_denominator_ == 0 || !SetupCodec()) {
        DestroyCodec();
        return false;
    }
    LoadQuantMatrices(matrix_selector_, settings_.intra_matrix, settings_.inter_matrix);
    settings_.format = Plan().format;
    _rvxlib_::UseDesignWeights(&settings_);
    if (!coder_->Open(Codec(), settings_, ProcessorFeatureWord(), &payloads_)) {
        DestroyCodec();
        return false;
    }
    coder_->SetThreads(threads_, [this](_rvxlib_::RVXCodingLane& lane) { return MakeCodingLane(lane); });
    StoreFixedFields();
    return true;
}

void CRVXEncode::StoreFixedFields() {
    uint8_t* header = header_.data();
    StoreLE32(header + kOffsetRateNumerator, rate_numerator_);
    StoreLE32(header + kOffsetRateDenominator, rate_denominator_);
    StoreLE32(header + kOffsetGopLength, settings_.gop_length);
    StoreLE32(header + kOffsetWidth, Plan().width);
    StoreLE32(header + kOffsetWidthCopy, Plan().width);
    StoreLE32(header + kOffsetHeight, Plan().height);
    StoreLE32(header + kOffsetHeightCopy, Plan().height);
    StoreLE32(header + kOffsetFormatFlags, Plan().format & kFormatStoredMask);
    std::memcpy(header + kOffsetIntraMatrix, settings_.intra_matrix, kMatrixSize);
    std::memcpy(header + kOffsetInterMatrix, settings_.inter_matrix, kMatrixSize);
}

void CRVXEncode::SetThreads(uint32_t threads) { threads_ = std::max<uint32_t>(threads, 1); }

bool CRVXEncode::AddFrame(const void* picture) {
    if (picture == nullptr || !HasCodec()) return false;
    return coder_->AddFrame(static_cast<const uint8_t*>(picture));
}

bool CRVXEncode::FinishFrames() { return HasCodec() && coder_->FinishFrames(); }

bool CRVXEncode::StageSound(const fs::path& wave, uint32_t method, uint32_t blockSize) {
    _snxlib_::CSNXEncode encoder;
    // A method or block size the encoder refuses leaves its previous setting;
    // the settings only offer accepted values.
    encoder.SetMode(method);
    encoder.SetBlockSize(blockSize);
    sound_path_ = work_directory_ / "tmpsnd.snx";
    return encoder.EncodeFile(wave, sound_path_) == 1;
}

bool CRVXEncode::WriteMovie(const fs::path& output, const FileWriteOps& ops) {
    // A frame that failed to code, or a group naming a payload that was never
    // kept, would leave a hole in the movie.
    if (!HasCodec() || coder_->HasFailed() || !payloads_.Complete()) return false;
    if (Groups().empty() || Records().empty() || output.empty()) return false;
    const fs::path temporary = TemporaryNameBeside(output);
    const FileHandle handle = ops.open(temporary.c_str(), kFileAccessWrite, 0, kFileCreateAlways);
    if (handle == 0) return false;
    bool ok = false;
    try {
        ok = AssembleMovie(handle, ops);
    } catch (...) {
        // Out of memory part-way: the job reports it, and no partial movie
        // may stay behind.
        ops.close(handle);
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw;
    }
    if (ops.close(handle) == 0) ok = false;
    std::error_code error;
    if (ok) {
        fs::rename(temporary, output, error);
        if (error) ok = false;
    }
    if (!ok) {
        fs::remove(temporary, error);
        return false;
    }
    // Only a complete movie may replace the payload files: after a failed
    // write (a full disk) they are all still there for another attempt. The
    // movie is complete whatever happens here: files that cannot be removed
    // for want of memory go with the work directory.
    try {
        payloads_.RemoveFiles();
        if (!sound_path_.empty()) fs::remove(sound_path_, error);
    } catch (const std::bad_alloc&) {
    }
    return true;
}

bool CRVXEncode::AssembleMovie(FileHandle handle, const FileWriteOps& ops) {
    std::vector<RVXGroupEntry>& groups = payloads_.Groups();
    if (groups.size() > UINT32_MAX || Records().size() > UINT32_MAX) return false;
    MovieOutput out(ops, handle);
    // The header and the index are written now to reserve their place and
    // again at the end with their final values.
    std::vector<uint8_t> index(uint64_t(kGroupIndexEntrySize) * groups.size());
    for (auto& group : groups) group.offset = group.length = 0;
    StoreIndex(groups, index);
    out.Write(header_.data(), kHeaderSize);
    out.Write(index.data(), index.size());
    uint64_t end = kHeaderSize + index.size();
    if (!WriteFrameSection(out, payloads_, header_.data(), &end)) return false;
    if (!AppendSound(out, sound_path_, header_.data(), &end)) return false;
    StoreIndex(groups, index);
    return RewriteHeaderAndIndex(out, header_.data(), index, end);
}
