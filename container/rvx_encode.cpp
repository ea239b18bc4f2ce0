#include "container/rvx_encode.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <system_error>

#include "container/quant_matrices.h"
#include "rvxlib/frame_bitstream.h"
#include "rvxlib/row_workers.h"
#include "snxlib/snx_decode.h"
#include "snxlib/snx_encode.h"
#include "support/hash.h"
#include "support/stdio_file.h"

using namespace rvx_layout;
namespace fs = std::filesystem;

namespace {

constexpr uint16_t kMaxPFrames = 63;
constexpr uint16_t kMaxBFrames = 7;
constexpr uint16_t kMaxSceneChange = 256;
constexpr uint16_t kMinQuality = 2;
constexpr uint16_t kMaxQuality = 32;
constexpr uint16_t kUseDefault = 0xFFFF;
constexpr size_t kSoundCopyPiece = 65536;

uint16_t ClampQuality(uint16_t q) { return std::clamp(q, kMinQuality, kMaxQuality); }

// Reads a whole payload file into buffer (grown, never shrunk). False when
// the file cannot be read completely or does not fit a record's 32-bit length.
bool ReadPayloadFile(const fs::path& path, std::vector<uint8_t>& buffer, uint32_t* length) {
    StdioFile in(path, "rb");
    if (!in) return false;
    const int64_t size = in.Length();
    if (size < 0 || uint64_t(size) > UINT32_MAX) return false;
    if (!in.Seek(0, SEEK_SET)) return false;
    if (buffer.size() < size_t(size)) buffer.resize(size_t(size));
    if (size > 0 && std::fread(buffer.data(), 1, size_t(size), in.get()) != size_t(size)) return false;
    // A file that grew while we read it is not the payload that was coded.
    if (std::fgetc(in.get()) != EOF || std::ferror(in.get())) return false;
    *length = uint32_t(size);
    return true;
}

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

void StoreIndex(const std::vector<_rvxlib_::RVXGroupEntry>& groups, std::vector<uint8_t>& index) {
    for (size_t g = 0; g < groups.size(); ++g) {
        const _rvxlib_::RVXGroupEntry& e = groups[g];
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

}  // namespace

CRVXEncode::CRVXEncode()
    : coder_(std::make_unique<_rvxlib_::CRVXGroupCoder>()), threads_(_rvxlib_::WorkerThreadCount()) {
    const uint16_t defaults[4] = {quality_i_, quality_p_, quality_b_, matrix_selector_};
    SetQuality(defaults);
}

CRVXEncode::~CRVXEncode() = default;

void CRVXEncode::SetFrameRate(uint32_t numerator, uint32_t denominator) {
    SetHeaderWord(kOffsetRateNumerator, numerator);
    SetHeaderWord(kOffsetRateDenominator, denominator);
}

void CRVXEncode::SetGopStructure(uint16_t pFrames, uint16_t bFrames) {
    uint16_t p = pFrames == kUseDefault ? kDefaultPFrames : std::min(pFrames, kMaxPFrames);
    uint16_t b = bFrames == kUseDefault ? kDefaultBFrames : std::min(bFrames, kMaxBFrames);
    // B frames need a later reference inside the group.
    if (p == 0 && b != 0) {
        p = 1;
        b -= 1;
    }
    p_frames_ = p;
    b_frames_ = b;
    gop_length_ = uint16_t(p * (b + 1) + 1);
}

void CRVXEncode::SetSceneChange(uint16_t value) {
    scene_change_ = value == kUseDefault ? kDefaultSceneChange : std::min(value, kMaxSceneChange);
}

void CRVXEncode::SetQuality(const uint16_t* values) {
    if (values == nullptr) return;
    quality_i_ = ClampQuality(values[0]);
    quality_p_ = ClampQuality(values[1]);
    quality_b_ = ClampQuality(values[2]);
    matrix_selector_ = values[3];
}

void CRVXEncode::SetPicture(uint32_t width, uint32_t height, uint32_t format) {
    StorePicture(width, height, format);
}

void CRVXEncode::SetWorkDirectory(const fs::path& directory) { work_directory_ = directory; }

void CRVXEncode::SetFramePrefix(const fs::path& prefix) { frame_prefix_ = prefix; }

void CRVXEncode::SetSoundFile(const fs::path& snx) { sound_path_ = snx; }

fs::path CRVXEncode::FrameFileName(uint32_t displayNumber) const {
    return _rvxlib_::FrameFileName(frame_prefix_.string(), displayNumber);
}

void CRVXEncode::AppendRecord(uint32_t type) { coder_->Records().push_back({type, 0, 0}); }

void CRVXEncode::AppendGroup(uint32_t firstFrame, uint32_t recordCount) {
    coder_->Groups().push_back({firstFrame, recordCount, 0, 0});
}

bool CRVXEncode::Open() {
    // The old coder points at the codec objects that SetupCodec destroys. A
    // new Open also starts a new movie: records of an earlier one would carry
    // frame numbers that the new frames reuse.
    coder_ = std::make_unique<_rvxlib_::CRVXGroupCoder>();
    if (!SetupCodec(false, 0, 0, 0)) return false;
    LoadQuantMatrices(matrix_selector_, header_.data() + kOffsetIntraMatrix,
                      header_.data() + kOffsetInterMatrix);
    weights_[0] = weights_[1] = weights_[2] = 1;
    weights_[3] = (HeaderWord(kOffsetFormatFlags) & kFormatAlphaMask) ? 1 : 0;
    threshold_ = (weights_[0] + weights_[1] + weights_[2] + weights_[3]) * 64;

    _rvxlib_::RVXCodecSet codecs;
    codecs.transform = Transform();
    codecs.color = ColourConverter();
    codecs.pixel = PixelBlock();
    codecs.block = BlockConverter();
    codecs.moving = MovingBlock();
    codecs.deblock = DeblockFilter();
    _rvxlib_::RVXGroupSettings settings;
    settings.format = Plan().format;
    settings.b_count = b_frames_;
    settings.gop_length = gop_length_;
    settings.scene_change = scene_change_;
    settings.quality_i = quality_i_;
    settings.quality_p = quality_p_;
    settings.quality_b = quality_b_;
    std::memcpy(settings.weights, weights_, sizeof weights_);
    settings.threshold = threshold_;
    std::memcpy(settings.intra_matrix, header_.data() + kOffsetIntraMatrix, kMatrixSize);
    std::memcpy(settings.inter_matrix, header_.data() + kOffsetInterMatrix, kMatrixSize);
    settings.frame_prefix = frame_prefix_.string();
    if (!coder_->Open(codecs, settings, ProcessorFeatureWord())) {
        DestroyCodec();
        return false;
    }
    coder_->SetThreads(threads_, [this](_rvxlib_::RVXCodingLane& lane) { return MakeCodingLane(lane); });
    return true;
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
    // write (a full disk) they are all still there for another attempt.
    // Assembly checked that the groups' record counts cover the records in
    // order. The movie is complete whatever happens here: files that cannot
    // be removed for want of memory go with the work directory.
    try {
        size_t next = 0;
        for (const auto& group : Groups()) {
            for (uint32_t i = 0; i < group.record_count; ++i) {
                const _rvxlib_::RVXFrameRecord& record = Records()[next++];
                if (RecordType(record.type) == kRecordRepeat) continue;
                fs::remove(FrameFileName(group.first_frame + RecordPosition(record.type)), error);
            }
        }
        if (!sound_path_.empty()) fs::remove(sound_path_, error);
    } catch (const std::bad_alloc&) {
    }
    return true;
}

bool CRVXEncode::AssembleMovie(FileHandle handle, const FileWriteOps& ops) {
    std::vector<_rvxlib_::RVXGroupEntry>& groups = coder_->Groups();
    std::vector<_rvxlib_::RVXFrameRecord>& records = coder_->Records();
    MovieOutput out(ops, handle);
    const uint64_t indexSize = uint64_t(kGroupIndexEntrySize) * groups.size();
    if (groups.size() > UINT32_MAX || records.size() > UINT32_MAX) return false;
    std::vector<uint8_t> index(indexSize);

    // The header and the index are written now to reserve their place and
    // again at the end with their final values.
    for (auto& group : groups) group.offset = group.length = 0;
    StoreIndex(groups, index);
    out.Write(header_.data(), kHeaderSize);
    out.Write(index.data(), index.size());

    uint64_t running = kHeaderSize + indexSize;
    StoreLE64(header_.data() + kOffsetFrameSection, running);
    CHashCRC32 crc;
    CHashSHA256 sha;
    std::vector<uint8_t> payload;
    const uint64_t firstGroup = running;

    size_t next = 0;
    for (auto& group : groups) {
        group.offset = running;
        uint64_t bytes = 0;
        uint32_t count = 0;
        // A group is its I record and every record up to the next I record;
        // the frame encoder's count for it must agree, or records would be
        // attributed to the wrong group and read from the wrong frame files.
        if (next >= records.size() || RecordType(records[next].type) != kRecordI) return false;
        do {
            _rvxlib_::RVXFrameRecord& record = records[next];
            if (RecordType(record.type) == kRecordRepeat) {
                record.length = 0;
                record.crc = 0;
            } else {
                const fs::path name = FrameFileName(group.first_frame + RecordPosition(record.type));
                if (!ReadPayloadFile(name, payload, &record.length)) return false;
                crc.Init();
                crc.Update(payload.data(), record.length);
                record.crc = crc.Final();
            }
            uint8_t bytesOut[kFrameRecordSize];
            StoreFrameRecord(bytesOut, {record.type, record.length, record.crc});
            out.Write(bytesOut, kFrameRecordSize);
            sha.Update(bytesOut, kFrameRecordSize);
            if (record.length != 0) {
                out.Write(payload.data(), record.length);
                sha.Update(payload.data(), record.length);
            }
            if (!out.ok()) return false;
            bytes += kFrameRecordSize + uint64_t(record.length);
            ++count;
            ++next;
        } while (next < records.size() && RecordType(records[next].type) != kRecordI);
        if (count != group.record_count) return false;
        group.length = bytes;
        running += bytes;
    }
    if (next != records.size()) return false;

    sha.Final();
    StoreLE32(header_.data() + kOffsetRecordCount, uint32_t(records.size()));
    StoreLE32(header_.data() + kOffsetGroupCount, uint32_t(groups.size()));
    StoreLE32(header_.data() + kOffsetGopLength, gop_length_);
    StoreLE64(header_.data() + kOffsetFirstGroup, firstGroup);
    StoreLE64(header_.data() + kOffsetFrameSectionLength, running - firstGroup);
    FoldInto(sha, header_.data() + kOffsetFrameDigest);

    // Without sound the sound fields are all zero.
    std::memset(header_.data() + kOffsetSoundOffset, 0, kOffsetRecordCount - kOffsetSoundOffset);
    std::memset(header_.data() + kOffsetSoundChannels, 0, kOffsetIntraMatrix - kOffsetSoundChannels);
    if (!sound_path_.empty()) {
        uint16_t channels, bitsPerSample;
        uint32_t sampleRate, sampleFrames;
        {
            _snxlib_::CSNXDecode sound;
            if (sound.Open(sound_path_) != 1) return false;
            channels = sound.GetChannels();
            bitsPerSample = sound.GetBitsPerSample();
            sampleRate = sound.GetSampleRate();
            sampleFrames = sound.GetSampleFrames();
        }
        StdioFile in(sound_path_, "rb");
        if (!in) return false;
        sha.Init();
        std::vector<uint8_t> piece(kSoundCopyPiece);
        uint64_t size = 0;
        for (;;) {
            const size_t n = std::fread(piece.data(), 1, piece.size(), in.get());
            if (n > 0) {
                if (!out.Write(piece.data(), n)) return false;
                sha.Update(piece.data(), n);
                size += n;
            }
            if (n < piece.size()) break;
        }
        if (std::ferror(in.get())) return false;
        sha.Final();
        StoreLE64(header_.data() + kOffsetSoundOffset, running);
        StoreLE64(header_.data() + kOffsetSoundLength, size);
        FoldInto(sha, header_.data() + kOffsetSoundDigest);
        StoreLE16(header_.data() + kOffsetSoundChannels, channels);
        StoreLE16(header_.data() + kOffsetSoundBitsPerSample, bitsPerSample);
        StoreLE32(header_.data() + kOffsetSoundSampleRate, sampleRate);
        StoreLE32(header_.data() + kOffsetSoundSampleFrames, sampleFrames);
        StoreLE32(header_.data() + kOffsetSoundPresent, 1);
        running += size;
    }

    StoreIndex(groups, index);
    sha.Init();
    sha.Update(header_.data() + kHeaderDigestCoverageStart, kHeaderSize - kHeaderDigestCoverageStart);
    sha.Update(index.data(), index.size());
    sha.Final();
    FoldInto(sha, header_.data() + kOffsetHeaderDigest);
    StoreLE64(header_.data() + kOffsetFileSize, running);

    out.SeekToStart();
    out.Write(header_.data(), kHeaderSize);
    out.Write(index.data(), index.size());
    out.Flush();
    return out.ok();
}
