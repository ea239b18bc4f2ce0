#include "container/rvx_reader.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "rvxlib/format/codec_plan.h"
#include "rvxlib/format/frame_bitstream.h"
#include "snxlib/snx_decode.h"
#include "support/hash.h"

using namespace rvx_layout;

namespace {

constexpr size_t kReadPiece = 1 << 16;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// True when [offset, offset + length) lies inside [0, size).
bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
    return offset <= size && length <= size - offset;
}

std::string Hex16(const uint8_t* bytes) {
    std::string text;
    char pair[3];
    for (uint32_t i = 0; i < kFoldedDigestSize; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

bool AllZero(const uint8_t* bytes, size_t length) {
    return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0; });
}

const char* KindName(uint32_t kind) {
    switch (kind) {
    case kRecordI: return "I";
    case kRecordRepeat: return "repeat";
    case kRecordP: return "P";
    case kRecordB: return "B";
    default: return "unknown";
    }
}

// What is wrong with the type word of record k of a group (and, for a repeat
// record, with its payload fields), given which positions came before it and
// which of those are references; null when nothing is.
const char* TypeWordFault(const RVXFrameRecord& record, uint32_t k, const std::vector<uint8_t>& seen,
                          const std::vector<uint8_t>& reference) {
    const uint32_t type = record.type, kind = RecordType(type), position = RecordPosition(type);
    const uint32_t back = RecordBackDistance(type), forward = RecordForwardDistance(type);
    const uint32_t count = uint32_t(seen.size());
    if (kind != kRecordI && kind != kRecordRepeat && kind != kRecordP && kind != kRecordB) return "unknown frame type";
    if (position >= count) return "position outside the group";
    if (seen[position]) return "a second record for the same position";
    if (k == 0 && (kind != kRecordI || position != 0)) return "a group must start with its I frame at position 0";
    if (k != 0 && kind == kRecordI) return "a second I frame in the group";
    switch (kind) {
    case kRecordP:
        if (type >> 22) return "reserved bits 22..31 are set";
        if (back == 0 || back > position || !reference[position - back]) {
            return "its reference is not an I or P frame coded before it in the group";
        }
        return nullptr;
    case kRecordB:
        if ((type >> 22) & 0x3F) return "reserved bits 22..27 are set";
        if (back == 0 || back > position || !reference[position - back] || forward == 0 ||
            forward >= count - position || !reference[position + forward]) {
            return "its references are not I or P frames coded before it in the group";
        }
        return nullptr;
    default:
        if (type >> kRecordBackShift) return "reserved bits 16..31 are set";
        if (kind == kRecordRepeat && (record.length != 0 || record.crc != 0)) {
            return "a repeat record has a payload or a CRC";
        }
        return nullptr;
    }
}

}  // namespace

const char* RVXErrorName(RVXError error) {
    switch (error) {
    case RVXError::kNone: return "none";
    case RVXError::kCannotOpen: return "cannot-open";
    case RVXError::kReadFailed: return "read-failed";
    case RVXError::kTruncatedHeader: return "truncated-header";
    case RVXError::kBadMagic: return "bad-magic";
    case RVXError::kFileSizeMismatch: return "file-size";
    case RVXError::kBadSectionLayout: return "section-layout";
    case RVXError::kBadFrameRate: return "frame-rate";
    case RVXError::kBadPicture: return "picture";
    case RVXError::kBadGopLength: return "gop-length";
    case RVXError::kBadGroupCount: return "group-count";
    case RVXError::kBadGroupIndex: return "group-index";
    case RVXError::kBadRecordCount: return "record-count";
    case RVXError::kBadFrameRecord: return "frame-record";
    case RVXError::kBadSoundFields: return "sound-fields";
    case RVXError::kBadSoundTrack: return "sound-track";
    case RVXError::kPayloadCrcMismatch: return "payload-crc";
    case RVXError::kFrameDigestMismatch: return "frame-digest";
    case RVXError::kSoundDigestMismatch: return "sound-digest";
    case RVXError::kHeaderDigestMismatch: return "header-digest";
    }
    return "unknown";
}

uint64_t CRVXMovieBytes::Size() { return reader_.FileSize(); }

bool CRVXMovieBytes::Read(uint64_t offset, uint64_t length, void* out) {
    return reader_.ReadBytes(offset, length, out);
}

CRVXReader::CRVXReader() = default;

CRVXReader::~CRVXReader() { Close(); }

void CRVXReader::Close() {
    file_.reset();
    source_ = nullptr;
    opened_ = false;
    file_size_ = 0;
    readable_size_ = 0;
    intact_blocks_ = 0;
    std::memset(header_, 0, sizeof header_);
    index_.clear();
    groups_.clear();
    frames_.clear();
    sound_ = _snxlib_::SNXHeader{};
}

void CRVXReader::Report(RVXError error, uint64_t offset, std::string message) {
    problems_.push_back({error, offset, std::move(message)});
}

bool CRVXReader::Fail(RVXError error, uint64_t offset, std::string message) {
    Report(error, offset, std::move(message));
    return false;
}

bool CRVXReader::ReadBytes(uint64_t offset, uint64_t length, void* out) {
    return source_ != nullptr && Inside(offset, length, readable_size_) && source_->Read(offset, length, out);
}

bool CRVXReader::Open(const std::filesystem::path& path, RVXReading reading) {
    Close();
    problems_.clear();
    reading_ = reading;
    auto file = std::make_unique<CFileByteSource>();
    std::string error;
    if (!file->Open(path, &error)) return Fail(RVXError::kCannotOpen, 0, error);
    file_ = std::move(file);
    source_ = file_.get();
    return OpenSource();
}

bool CRVXReader::Open(IByteSource& source, RVXReading reading) {
    Close();
    problems_.clear();
    reading_ = reading;
    source_ = &source;
    return OpenSource();
}

bool CRVXReader::OpenSource() {
    file_size_ = readable_size_ = source_->Size();
    if (file_size_ < kHeaderSize) {
        return Fail(RVXError::kTruncatedHeader, 0,
                    Format("the file is %" PRIu64 " bytes, shorter than the %u-byte header",
                           file_size_, kHeaderSize));
    }
    if (!ReadBytes(0, kHeaderSize, header_)) {
        return Fail(RVXError::kReadFailed, 0, "the header cannot be read");
    }
    if (!CheckHeader() || !ReadIndex()) return false;
    // Every record takes 12 bytes of the file, which bounds what a header
    // of a cut file can make the reader reserve.
    frames_.reserve(size_t(std::min<uint64_t>(FrameCount(), readable_size_ / kFrameRecordSize)));
    if (Tolerant()) {
        if (!WalkGroupsTolerantly()) return false;
    } else {
        for (uint32_t g = 0; g < groups_.size(); ++g) {
            if (!WalkGroup(g)) return false;
        }
    }
    // A tolerant reader plays the pictures of a movie whose sound is lost.
    if (HasSound() && !CheckSoundTrack() && !Tolerant()) return false;
    opened_ = true;
    return true;
}

bool CRVXReader::WalkGroupsTolerantly() {
    for (uint32_t g = 0; g < groups_.size(); ++g) {
        // Nothing of a group that starts where the file has ended is there.
        if (groups_[g].offset >= readable_size_) break;
        WalkGroup(g);
    }
    if (frames_.empty()) {
        return Fail(RVXError::kBadFrameRecord, LoadLE64(header_ + kOffsetFirstGroup),
                    "not one frame record of the movie is whole");
    }
    return true;
}

bool CRVXReader::CheckFileSize() {
    const uint64_t stated = LoadLE64(header_ + kOffsetFileSize);
    if (stated == file_size_) return true;
    const bool cut = stated > file_size_;
    std::string message = Format("the header gives a file size of %" PRIu64 " bytes but the file has %" PRIu64
                                 " bytes (%s)", stated, file_size_, cut ? "truncated" : "data after the end");
    if (!Tolerant()) return Fail(RVXError::kFileSizeMismatch, kOffsetFileSize, std::move(message));
    message += cut ? "; what is whole before the cut is kept" : "; the bytes after the end are ignored";
    Report(RVXError::kFileSizeMismatch, kOffsetFileSize, std::move(message));
    readable_size_ = std::min(stated, file_size_);
    file_size_ = stated;
    return true;
}

bool CRVXReader::CheckHeader() {
    if (std::memcmp(header_ + kOffsetMagic, kMagic, sizeof kMagic) != 0) {
        return Fail(RVXError::kBadMagic, kOffsetMagic, "the file does not start with \"RVXFILE0\"");
    }
    if (!CheckFileSize()) return false;

    const uint32_t groupCount = GroupCount();
    if (groupCount == 0) return Fail(RVXError::kBadGroupCount, kOffsetGroupCount, "the movie has no group");
    const uint64_t frameSection = kHeaderSize + uint64_t(kGroupIndexEntrySize) * groupCount;
    if (frameSection > readable_size_) {
        return Fail(RVXError::kBadGroupCount, kOffsetGroupCount,
                    Format("an index of %u groups would end at offset %" PRIu64
                           ", past the end of the file (%" PRIu64 " bytes)",
                           groupCount, frameSection, readable_size_));
    }
    const uint64_t sectionField = LoadLE64(header_ + kOffsetFrameSection);
    if (sectionField != frameSection) {
        return Fail(RVXError::kBadSectionLayout, kOffsetFrameSection,
                    Format("the frame section offset is %" PRIu64 "; after the index of %u groups it must be %" PRIu64,
                           sectionField, groupCount, frameSection));
    }
    const uint64_t firstGroup = LoadLE64(header_ + kOffsetFirstGroup);
    if (firstGroup != frameSection) {
        return Fail(RVXError::kBadSectionLayout, kOffsetFirstGroup,
                    Format("the first group offset is %" PRIu64 " but the frame section starts at %" PRIu64,
                           firstGroup, frameSection));
    }
    const uint64_t sectionLength = LoadLE64(header_ + kOffsetFrameSectionLength);
    if (!Inside(frameSection, sectionLength, file_size_)) {
        return Fail(RVXError::kBadSectionLayout, kOffsetFrameSectionLength,
                    Format("a frame section of %" PRIu64 " bytes at offset %" PRIu64
                           " runs past the end of the file (%" PRIu64 " bytes)",
                           sectionLength, frameSection, file_size_));
    }

    const uint32_t recordCount = FrameCount();
    if (recordCount < groupCount || uint64_t(recordCount) * kFrameRecordSize > sectionLength) {
        return Fail(RVXError::kBadRecordCount, kOffsetRecordCount,
                    Format("%u frame records cannot fill %u groups in a frame section of %" PRIu64 " bytes",
                           recordCount, groupCount, sectionLength));
    }
    if (RateDenominator() == 0) {
        return Fail(RVXError::kBadFrameRate, kOffsetRateDenominator, "the frame-rate denominator is 0");
    }
    if (GopLength() == 0) return Fail(RVXError::kBadGopLength, kOffsetGopLength, "the GOP length is 0");
    return CheckPicture() && CheckSoundFields();
}

bool CRVXReader::CheckPicture() {
    const uint32_t width = Width(), height = Height();
    if (width == 0 || height == 0 || width > kMaxPictureDimension || height > kMaxPictureDimension) {
        return Fail(RVXError::kBadPicture, kOffsetWidth,
                    Format("a picture of %u x %u pixels is outside 1..%u on a side", width, height,
                           kMaxPictureDimension));
    }
    if (HeaderWord(kOffsetWidthCopy) != width || HeaderWord(kOffsetHeightCopy) != height) {
        return Fail(RVXError::kBadPicture, kOffsetWidthCopy,
                    Format("the second picture size %u x %u differs from %u x %u",
                           HeaderWord(kOffsetWidthCopy), HeaderWord(kOffsetHeightCopy), width, height));
    }
    const uint32_t flags = FormatFlags();
    // The codec's own plan decides what can be decoded; a file names its
    // picture format explicitly, as the writer always does.
    _rvxlib_::CodecPlan plan;
    if (PictureFormatText(flags) == nullptr ||
        !_rvxlib_::PlanStoredFormat(width, height, flags, true, &plan)) {
        return Fail(RVXError::kBadPicture, kOffsetFormatFlags,
                    Format("the format flags 0x%08x name no known picture format and transform", flags));
    }
    return true;
}

bool CRVXReader::CheckSoundFields() {
    const uint64_t sectionEnd = LoadLE64(header_ + kOffsetFirstGroup) +
                                LoadLE64(header_ + kOffsetFrameSectionLength);
    const uint32_t present = HeaderWord(kOffsetSoundPresent);
    if (present > 1) {
        return Fail(RVXError::kBadSoundFields, kOffsetSoundPresent,
                    Format("the sound-present field is %u, neither 0 nor 1", present));
    }
    if (present == 0) {
        if (!AllZero(header_ + kOffsetSoundOffset, kOffsetRecordCount - kOffsetSoundOffset)) {
            return Fail(RVXError::kBadSoundFields, kOffsetSoundOffset,
                        "the movie has no sound but its sound offset, length or digest is not 0");
        }
        if (!AllZero(header_ + kOffsetSoundChannels, kOffsetSoundPresent - kOffsetSoundChannels)) {
            return Fail(RVXError::kBadSoundFields, kOffsetSoundChannels,
                        "the movie has no sound but its sound format fields are not 0");
        }
        if (sectionEnd != file_size_) {
            return Fail(RVXError::kBadSectionLayout, kOffsetFrameSectionLength,
                        Format("the frame section ends at %" PRIu64 " but the file, which has no sound, "
                               "ends at %" PRIu64, sectionEnd, file_size_));
        }
        return true;
    }
    const uint64_t soundOffset = SoundOffset(), soundLength = SoundLength();
    if (soundOffset != sectionEnd) {
        return Fail(RVXError::kBadSoundFields, kOffsetSoundOffset,
                    Format("the sound track offset is %" PRIu64 " but the frame section ends at %" PRIu64,
                           soundOffset, sectionEnd));
    }
    if (!Inside(soundOffset, soundLength, file_size_) || soundOffset + soundLength != file_size_) {
        return Fail(RVXError::kBadSoundFields, kOffsetSoundLength,
                    Format("a sound track of %" PRIu64 " bytes at %" PRIu64
                           " does not end where the file ends (%" PRIu64 ")",
                           soundLength, soundOffset, file_size_));
    }
    return true;
}

bool CRVXReader::CheckSoundTrack() {
    const uint64_t base = SoundOffset(), length = SoundLength();
    uint8_t bytes[_snxlib_::kSNXHeaderSize] = {};
    const uint64_t have = std::min<uint64_t>(length, _snxlib_::kSNXHeaderSize);
    if (!ReadBytes(base, have, bytes)) return Fail(RVXError::kReadFailed, base, "the sound track cannot be read");
    _snxlib_::SNXHeader snx;
    if (have < _snxlib_::kSNXHeaderSize || !_snxlib_::LoadSNXHeader(bytes, snx) || snx.channels == 0) {
        return Fail(RVXError::kBadSoundTrack, base,
                    Format("the sound track at offset %" PRIu64 " does not start with a complete SNX header",
                           base));
    }
    const uint64_t tableStart = _snxlib_::kSNXHeaderSize;
    const uint64_t tableLength = uint64_t(snx.block_count) * 4;
    // Only modes the sound coder has a block coder for can be played.
    if (!_snxlib_::IsCodedMode(snx.mode)) {
        return Fail(RVXError::kBadSoundTrack, base + 8, Format("unknown SNX coding mode %u", snx.mode));
    }
    if (snx.bits_per_sample != _snxlib_::kSNXBitsPerSample || snx.block_length == 0 ||
        snx.block_length % snx.channels != 0 || snx.block_length / snx.channels < _snxlib_::kMinBlockSize) {
        return Fail(RVXError::kBadSoundTrack, base + 10,
                    Format("the SNX header gives %u channels, %u bits per sample and blocks of %u samples",
                           snx.channels, snx.bits_per_sample, snx.block_length));
    }
    const uint64_t expectedBlocks = _snxlib_::SNXBlockCount(snx.mode, snx.total_samples, snx.block_length);
    if (snx.block_count != expectedBlocks) {
        return Fail(RVXError::kBadSoundTrack, base + 20,
                    Format("the SNX header gives %u blocks; %u samples in blocks of %u need %" PRIu64,
                           snx.block_count, snx.total_samples, snx.block_length, expectedBlocks));
    }
    if (!Inside(tableStart, tableLength, length) || snx.end_offset < tableStart + tableLength ||
        snx.end_offset > length) {
        return Fail(RVXError::kBadSoundTrack, base + 4,
                    Format("the SNX block table and blocks (end offset %u) do not fit the sound track of %" PRIu64
                           " bytes", snx.end_offset, length));
    }
    const uint64_t expectedLength = uint64_t(snx.end_offset) + (snx.extra_length > _snxlib_::kSNXInlineExtraSize ? snx.extra_length : 0);
    if (expectedLength != length) {
        return Fail(RVXError::kBadSoundTrack, base + 4,
                    Format("the SNX file should be %" PRIu64 " bytes but the sound track holds %" PRIu64,
                           expectedLength, length));
    }
    uint32_t intactBlocks = 0;
    if (!CheckSoundBlockTable(snx, &intactBlocks)) return false;
    // The sound decoder checks its header its own way and decodes the first
    // blocks; a track it refuses cannot be played.
    _snxlib_::CSNXDecode decoder;
    if (decoder.Open(bytes_, base, length) != 1) {
        return Fail(RVXError::kBadSoundTrack, base, "the sound decoder refuses the sound track");
    }

    const uint16_t channels = LoadLE16(header_ + kOffsetSoundChannels);
    const uint16_t bits = LoadLE16(header_ + kOffsetSoundBitsPerSample);
    const uint32_t rate = HeaderWord(kOffsetSoundSampleRate);
    const uint32_t frames = HeaderWord(kOffsetSoundSampleFrames);
    const uint32_t snxFrames = _snxlib_::SNXSampleFrames(snx);
    if (channels != snx.channels || bits != snx.bits_per_sample || rate != snx.sample_rate || frames != snxFrames) {
        return Fail(RVXError::kBadSoundFields, kOffsetSoundChannels,
                    Format("the header gives %u channels, %u bits, %u Hz, %u sample frames; the sound track "
                           "has %u, %u, %u, %u", channels, bits, rate, frames, snx.channels,
                           snx.bits_per_sample, snx.sample_rate, snxFrames));
    }
    sound_ = snx;
    intact_blocks_ = intactBlocks;
    return true;
}

bool CRVXReader::CheckSoundBlockTable(const _snxlib_::SNXHeader& snx, uint32_t* intactBlocks) {
    const uint64_t base = SoundOffset(), tableStart = _snxlib_::kSNXHeaderSize;
    const uint64_t tableLength = uint64_t(snx.block_count) * 4;
    // Checked before the table is allocated: in a cut file the header's
    // lengths are not bounded by the bytes there are.
    if (!Inside(base + tableStart, tableLength, readable_size_)) {
        return Fail(RVXError::kReadFailed, base + tableStart, "the file ends inside the SNX block table");
    }
    std::vector<uint8_t> table(static_cast<size_t>(tableLength));
    if (!ReadBytes(base + tableStart, tableLength, table.data())) {
        return Fail(RVXError::kReadFailed, base + tableStart, "the SNX block table cannot be read");
    }
    uint64_t previous = tableStart + tableLength;
    *intactBlocks = 0;
    for (uint32_t i = 0; i < snx.block_count; ++i) {
        const uint32_t start = LoadLE32(&table[size_t(i) * 4]);
        if (start < previous || start > snx.end_offset) {
            return Fail(RVXError::kBadSoundTrack, base + tableStart + uint64_t(i) * 4,
                        Format("SNX block %u starts at %u, outside %" PRIu64 "..%u", i, start, previous,
                               snx.end_offset));
        }
        // Block i - 1 ends where block i starts.
        if (i > 0 && *intactBlocks == i - 1 && base + start <= readable_size_) *intactBlocks = i;
        previous = start;
    }
    if (snx.block_count > 0 && *intactBlocks == snx.block_count - 1 && base + snx.end_offset <= readable_size_) {
        *intactBlocks = snx.block_count;
    }
    return true;
}

bool CRVXReader::ReadIndex() {
    const uint32_t groupCount = GroupCount();
    index_.resize(size_t(groupCount) * kGroupIndexEntrySize);
    if (!ReadBytes(kHeaderSize, index_.size(), index_.data())) {
        return Fail(RVXError::kReadFailed, kHeaderSize, "the group index cannot be read");
    }
    const uint64_t sectionStart = LoadLE64(header_ + kOffsetFirstGroup);
    const uint64_t sectionEnd = sectionStart + LoadLE64(header_ + kOffsetFrameSectionLength);
    const uint32_t gop = GopLength();
    groups_.resize(groupCount);
    uint64_t running = sectionStart;
    uint64_t firstFrame = 0;
    for (uint32_t g = 0; g < groupCount; ++g) {
        const uint64_t at = kHeaderSize + uint64_t(g) * kGroupIndexEntrySize;
        const RVXGroupEntry entry = LoadGroupEntry(&index_[size_t(g) * kGroupIndexEntrySize]);
        if (entry.first_frame != firstFrame) {
            return Fail(RVXError::kBadGroupIndex, at + kGroupFirstFrame,
                        Format("group %u starts at display frame %u; after the frames before it, it must be %" PRIu64,
                               g, entry.first_frame, firstFrame));
        }
        // Each record of a group has a display position of its own, and a
        // type word has room for 4096 positions.
        if (entry.record_count == 0 || entry.record_count > gop || entry.record_count > kRecordPositionMask + 1) {
            return Fail(RVXError::kBadGroupIndex, at + kGroupRecordCount,
                        Format("group %u holds %u frames; a group holds 1 to %u (the GOP length, at most %u)", g,
                               entry.record_count, gop, kRecordPositionMask + 1));
        }
        if (entry.offset != running) {
            return Fail(RVXError::kBadGroupIndex, at + kGroupOffset,
                        Format("group %u is at offset %" PRIu64 " but the previous group ends at %" PRIu64, g,
                               entry.offset, running));
        }
        if (entry.length < uint64_t(entry.record_count) * kFrameRecordSize ||
            !Inside(entry.offset, entry.length, sectionEnd)) {
            return Fail(RVXError::kBadGroupIndex, at + kGroupLength,
                        Format("group %u of %" PRIu64 " bytes at %" PRIu64
                               " does not fit its %u records or the frame section ending at %" PRIu64,
                               g, entry.length, entry.offset, entry.record_count, sectionEnd));
        }
        groups_[g] = entry;
        running += entry.length;
        firstFrame += entry.record_count;
    }
    if (firstFrame != FrameCount()) {
        return Fail(RVXError::kBadRecordCount, kOffsetRecordCount,
                    Format("the header counts %u frame records but the groups hold %" PRIu64, FrameCount(),
                           firstFrame));
    }
    if (running != sectionEnd) {
        return Fail(RVXError::kBadSectionLayout, kOffsetFrameSectionLength,
                    Format("the groups end at %" PRIu64 " but the frame section ends at %" PRIu64, running,
                           sectionEnd));
    }
    return true;
}

bool CRVXReader::WalkGroup(uint32_t g) {
    const RVXGroupEntry& group = groups_[g];
    const uint64_t end = group.offset + group.length;
    // Per display position: seen at all, and usable as a reference by now.
    std::vector<uint8_t> seen(group.record_count, 0), reference(group.record_count, 0);
    uint64_t at = group.offset;
    for (uint32_t k = 0; k < group.record_count; ++k) {
        RVXFrameRecord record;
        if (!ReadRecord(g, k, at, end, &record) || !CheckRecord(g, k, at, end, record, seen, reference)) return false;
        if (!Inside(at + kFrameRecordSize, record.length, readable_size_)) {
            return Fail(RVXError::kFileSizeMismatch, at,
                        Format("the file ends inside the payload of record %u of group %u at offset %" PRIu64, k, g,
                               at));
        }
        const uint32_t kind = RecordType(record.type), position = RecordPosition(record.type);
        seen[position] = 1;
        if (kind == kRecordI || kind == kRecordP) reference[position] = 1;
        RVXFrameInfo info;
        info.type = record.type;
        info.display_number = group.first_frame + position;
        info.group = g;
        info.record_offset = at;
        info.payload_length = record.length;
        info.crc = record.crc;
        frames_.push_back(info);
        at += kFrameRecordSize + uint64_t(record.length);
    }
    if (at != end) {
        return Fail(RVXError::kBadGroupIndex, kHeaderSize + uint64_t(g) * kGroupIndexEntrySize + kGroupLength,
                    Format("group %u is %" PRIu64 " bytes long but its %u records end %" PRIu64 " bytes into it",
                           g, group.length, group.record_count, at - group.offset));
    }
    return true;
}

bool CRVXReader::ReadRecord(uint32_t g, uint32_t k, uint64_t at, uint64_t end, RVXFrameRecord* record) {
    if (!Inside(at, kFrameRecordSize, end)) {
        return Fail(RVXError::kBadFrameRecord, at,
                    Format("record %u of group %u at offset %" PRIu64 " runs past the group's end (%" PRIu64 ")",
                           k, g, at, end));
    }
    if (!Inside(at, kFrameRecordSize, readable_size_)) {
        return Fail(RVXError::kFileSizeMismatch, at,
                    Format("the file ends inside record %u of group %u at offset %" PRIu64, k, g, at));
    }
    uint8_t bytes[kFrameRecordSize];
    if (!ReadBytes(at, kFrameRecordSize, bytes)) return Fail(RVXError::kReadFailed, at, "a frame record cannot be read");
    *record = LoadFrameRecord(bytes);
    return true;
}

bool CRVXReader::CheckRecord(uint32_t g, uint32_t k, uint64_t at, uint64_t end, const RVXFrameRecord& record,
                             const std::vector<uint8_t>& seen, const std::vector<uint8_t>& reference) {
    auto bad = [&](const std::string& what) {
        return Fail(RVXError::kBadFrameRecord, at,
                    Format("record %u of group %u at offset %" PRIu64 " (type word 0x%08x, %s frame at position %u): %s",
                           k, g, at, record.type, KindName(RecordType(record.type)), RecordPosition(record.type),
                           what.c_str()));
    };
    if (const char* fault = TypeWordFault(record, k, seen, reference)) return bad(fault);
    // Every macroblock of a coded frame starts with a quantiser, so a
    // shorter payload cannot be a frame. Refusing it keeps a few bytes that
    // claim a huge picture from making a player build huge pictures from
    // nothing.
    const uint64_t macroblocks = ((uint64_t(Width()) + 15) / 16) * ((uint64_t(Height()) + 15) / 16);
    const uint64_t minimumPayload = (macroblocks * _rvxlib_::MacroblockHeaderBits(false, false) + 7) / 8;
    if (RecordType(record.type) != kRecordRepeat && record.length < minimumPayload) {
        return bad(Format("a payload of %u bytes cannot hold the %" PRIu64 " macroblocks of a picture (at least %" PRIu64
                          " bytes)", record.length, macroblocks, minimumPayload));
    }
    if (!Inside(at + kFrameRecordSize, record.length, end)) {
        return bad(Format("a payload of %u bytes runs past the group's end (%" PRIu64 ")", record.length, end));
    }
    return true;
}

bool CRVXReader::Verify() {
    if (!IsOpen()) {
        if (problems_.empty()) Report(RVXError::kCannotOpen, 0, "no movie is open");
        return false;
    }
    problems_.clear();
    if (!VerifyFrames()) return false;
    if (HasSound() && !VerifySound()) return false;
    VerifyHeaderDigest();
    return problems_.empty();
}

bool CRVXReader::HashRange(uint64_t offset, uint64_t length, CHashSHA256& sha, CHashCRC32* crc,
                           const char* failure) {
    piece_.resize(kReadPiece);
    while (length > 0) {
        const size_t n = size_t(std::min<uint64_t>(length, piece_.size()));
        if (!ReadBytes(offset, n, piece_.data())) {
            Report(RVXError::kReadFailed, offset, failure);
            return false;
        }
        sha.Update(piece_.data(), n);
        if (crc) crc->Update(piece_.data(), n);
        offset += n;
        length -= n;
    }
    return true;
}

void CRVXReader::CompareDigest(const CHashSHA256& sha, uint32_t field, RVXError error, const char* what) {
    uint8_t folded[kFoldedDigestSize];
    sha.FoldDigest(folded, kFoldedDigestSize);
    if (std::memcmp(folded, header_ + field, kFoldedDigestSize) != 0) {
        Report(error, field,
               Format("%s is %s but the header says %s", what, Hex16(folded).c_str(), Hex16(header_ + field).c_str()));
    }
}

bool CRVXReader::VerifyFrames() {
    CHashSHA256 sha;
    CHashCRC32 crc;
    for (const RVXFrameInfo& frame : frames_) {
        if (!HashRange(frame.record_offset, kFrameRecordSize, sha, nullptr, "a frame record cannot be read")) {
            return false;
        }
        crc.Init();
        if (!HashRange(frame.record_offset + kFrameRecordSize, frame.payload_length, sha, &crc,
                       "a payload cannot be read")) {
            return false;
        }
        const uint32_t value = crc.Final();
        if (RecordType(frame.type) != kRecordRepeat && value != frame.crc) {
            Report(RVXError::kPayloadCrcMismatch, frame.record_offset + kFrameRecordSize,
                   Format("frame %u (group %u, %s frame, record at offset %" PRIu64
                          "): the payload's CRC-32 is %08x but the record says %08x",
                          frame.display_number, frame.group, KindName(RecordType(frame.type)), frame.record_offset,
                          value, frame.crc));
        }
    }
    sha.Final();
    CompareDigest(sha, kOffsetFrameDigest, RVXError::kFrameDigestMismatch, "the frame section digest");
    return true;
}

bool CRVXReader::VerifySound() {
    CHashSHA256 sha;
    if (!HashRange(SoundOffset(), SoundLength(), sha, nullptr, "the sound track cannot be read")) return false;
    sha.Final();
    CompareDigest(sha, kOffsetSoundDigest, RVXError::kSoundDigestMismatch, "the sound track digest");
    return true;
}

void CRVXReader::VerifyHeaderDigest() {
    CHashSHA256 sha;
    sha.Update(header_ + kHeaderDigestCoverageStart, kHeaderSize - kHeaderDigestCoverageStart);
    sha.Update(index_.data(), index_.size());
    sha.Final();
    CompareDigest(sha, kOffsetHeaderDigest, RVXError::kHeaderDigestMismatch,
                  "the digest of header bytes 40..287 and the group index");
}

bool CRVXReader::ReadPayload(size_t frame, std::vector<uint8_t>& out) {
    if (!IsOpen() || frame >= frames_.size()) return false;
    const RVXFrameInfo& info = frames_[frame];
    out.resize(info.payload_length);
    return ReadBytes(info.record_offset + kFrameRecordSize, info.payload_length, out.data());
}

bool CRVXReader::ReadSound(std::vector<uint8_t>& out) {
    if (!IsOpen() || !HasSound()) return false;
    out.resize(size_t(SoundLength()));
    return ReadBytes(SoundOffset(), SoundLength(), out.data());
}
