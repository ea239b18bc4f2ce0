#pragma once
// Reads and verifies an RVX movie file. Open checks everything about the
// layout that can be checked without reading the payloads: magic, sizes,
// offsets, the group index, every frame record and its type word, the sound
// fields against the embedded SNX header. Verify then reads every byte and
// checks the CRC-32 of each payload and the three folded SHA-256 digests.
// Every size and offset taken from the file is checked before it is used, so
// a truncated or hostile file gives a problem report, never a read outside
// the file.
//
// A player may open a movie tolerantly instead: then a movie whose end is
// missing opens with the frame records that are whole (a group cut short
// keeps the records before the cut; a record that fails its checks ends its
// group, and the next group goes on), bytes after the end the header gives
// are ignored, and a sound track keeps the blocks that are whole. What was
// passed over is listed in Problems() all the same.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "container/rvx_layout.h"
#include "snxlib/snx_format.h"
#include "support/byte_source.h"

enum class RVXError : uint32_t {
    kNone = 0,
    kCannotOpen,           // missing, unreadable, or not a regular file
    kReadFailed,           // the system refused a read inside the file
    kTruncatedHeader,      // shorter than the 288-byte header
    kBadMagic,
    kFileSizeMismatch,     // header size field against the real size
    kBadSectionLayout,     // frame section offsets and length, section order
    kBadFrameRate,
    kBadPicture,           // size, its copy, format flags
    kBadGopLength,
    kBadGroupCount,
    kBadGroupIndex,        // an index entry: offset, count, length, first frame
    kBadRecordCount,
    kBadFrameRecord,       // a record's type word, position, references, length
    kBadSoundFields,       // header 72..103 and 144..159
    kBadSoundTrack,        // the embedded SNX sound file's own header
    kPayloadCrcMismatch,
    kFrameDigestMismatch,
    kSoundDigestMismatch,
    kHeaderDigestMismatch,
};

// Short stable name of an error ("payload-crc"), for reports and JSON.
const char* RVXErrorName(RVXError error);

struct RVXProblem {
    RVXError error = RVXError::kNone;
    uint64_t offset = 0;    // file offset of the field or structure at fault
    std::string message;    // what is wrong and where, for a person
};

// How Open treats a damaged movie.
enum class RVXReading {
    kStrict,    // any fault refuses the movie
    kTolerant,  // the whole and checked part of the movie is kept
};

class CHashSHA256;
class CHashCRC32;
class CRVXReader;

// The movie's bytes as long as its header says, of which only those in the
// file can be read, so a decoder opens a sound track whose end is missing.
class CRVXMovieBytes final : public IByteSource {
public:
    explicit CRVXMovieBytes(CRVXReader& reader) : reader_(reader) {}
    uint64_t Size() override;
    bool Read(uint64_t offset, uint64_t length, void* out) override;

private:
    CRVXReader& reader_;
};

// One frame record, in coding order.
struct RVXFrameInfo {
    uint32_t type = 0;            // the record's type word
    uint32_t display_number = 0;   // over the whole movie, from 0
    uint32_t group = 0;           // index of its group
    uint64_t record_offset = 0;    // the payload follows at record_offset + 12
    uint32_t payload_length = 0;
    uint32_t crc = 0;
};

class CRVXReader {
public:
    CRVXReader();
    ~CRVXReader();
    CRVXReader(const CRVXReader&) = delete;
    CRVXReader& operator=(const CRVXReader&) = delete;

    // True when the file has a sound layout; otherwise Problems() holds the
    // first problem found. Checks no CRC and no digest. A tolerant Open is
    // true when at least one frame record is whole.
    bool Open(const std::filesystem::path& path, RVXReading reading = RVXReading::kStrict);
    // The same for bytes that are not a file of their own (a player's byte
    // stream, memory); source must outlive the reader's use of it.
    bool Open(IByteSource& source, RVXReading reading = RVXReading::kStrict);
    // Reads everything and checks every CRC and digest, collecting every
    // mismatch. True when the file is intact. Requires a successful Open.
    bool Verify();
    void Close();

    const std::vector<RVXProblem>& Problems() const { return problems_; }
    bool IsOpen() const { return source_ != nullptr && opened_; }

    RVXReading Reading() const { return reading_; }

    const uint8_t* Header() const { return header_; }
    uint32_t HeaderWord(uint32_t offset) const { return LoadLE32(header_ + offset); }
    // The size the header gives; the file's own size in a strict reader.
    uint64_t FileSize() const { return file_size_; }
    uint32_t Width() const { return HeaderWord(rvx_layout::kOffsetWidth); }
    uint32_t Height() const { return HeaderWord(rvx_layout::kOffsetHeight); }
    uint32_t FormatFlags() const { return HeaderWord(rvx_layout::kOffsetFormatFlags); }
    uint32_t RateNumerator() const { return HeaderWord(rvx_layout::kOffsetRateNumerator); }
    uint32_t RateDenominator() const { return HeaderWord(rvx_layout::kOffsetRateDenominator); }
    uint32_t GopLength() const { return HeaderWord(rvx_layout::kOffsetGopLength); }
    uint32_t FrameCount() const { return HeaderWord(rvx_layout::kOffsetRecordCount); }
    uint32_t GroupCount() const { return HeaderWord(rvx_layout::kOffsetGroupCount); }
    const uint8_t* IntraMatrix() const { return header_ + rvx_layout::kOffsetIntraMatrix; }
    const uint8_t* InterMatrix() const { return header_ + rvx_layout::kOffsetInterMatrix; }

    bool HasSound() const { return HeaderWord(rvx_layout::kOffsetSoundPresent) == 1; }
    uint64_t SoundOffset() const { return LoadLE64(header_ + rvx_layout::kOffsetSoundOffset); }
    uint64_t SoundLength() const { return LoadLE64(header_ + rvx_layout::kOffsetSoundLength); }
    // The embedded SNX file's header (valid when HasSound()).
    const _snxlib_::SNXHeader& Sound() const { return sound_; }

    const std::vector<_rvxlib_::RVXGroupEntry>& Groups() const { return groups_; }
    // Every record, in coding order: a group's I frame first, then each P frame
    // followed by the B frames before it. A tolerant reader lists only the
    // records that are whole.
    const std::vector<RVXFrameInfo>& Frames() const { return frames_; }
    // Coded SNX blocks that lie wholly inside the file, from the first: all
    // of them unless a tolerant reader met the end of the file (0 when the
    // sound track cannot be played at all).
    uint32_t IntactSoundBlocks() const { return intact_blocks_; }

    // Reads one frame's payload (coding-order index into Frames()).
    bool ReadPayload(size_t frame, std::vector<uint8_t>& out);
    // Reads the whole embedded SNX sound file.
    bool ReadSound(std::vector<uint8_t>& out);
    // Reads bytes anywhere in the file; false if any of them lies outside it.
    bool ReadBytes(uint64_t offset, uint64_t length, void* out);

private:
    bool Tolerant() const { return reading_ == RVXReading::kTolerant; }
    bool OpenSource();
    // Compares the header's file size with the file's: a strict reader
    // refuses a difference; a tolerant one notes it and reads up to the
    // smaller of the two.
    bool CheckFileSize();
    bool Fail(RVXError error, uint64_t offset, std::string message);
    void Report(RVXError error, uint64_t offset, std::string message);
    bool CheckHeader();
    bool CheckPicture();
    bool CheckSoundFields();
    bool CheckSoundTrack();
    // Block offsets in order, inside the blocks (the table fits the track).
    // *intactBlocks counts the blocks, from the first, inside the file.
    bool CheckSoundBlockTable(const _snxlib_::SNXHeader& snx, uint32_t* intactBlocks);
    bool ReadIndex();
    // Lists group g's records in coding order up to the first that is cut
    // or fails its checks; false, reporting it, when there is one.
    bool WalkGroup(uint32_t g);
    // A tolerant reader walks the groups that start inside the file, keeping
    // what each holds up to its first fault; false when no record is whole.
    bool WalkGroupsTolerantly();
    bool ReadRecord(uint32_t g, uint32_t k, uint64_t at, uint64_t end, _rvxlib_::RVXFrameRecord* record);
    // seen and reference tell, per display position of the group, whether a
    // record came before and whether it is an I or P frame.
    bool CheckRecord(uint32_t g, uint32_t k, uint64_t at, uint64_t end, const _rvxlib_::RVXFrameRecord& record,
                     const std::vector<uint8_t>& seen, const std::vector<uint8_t>& reference);
    // Each false only when the file cannot be read; mismatches are reported.
    bool VerifyFrames();
    bool VerifySound();
    void VerifyHeaderDigest();
    // Digests length bytes from offset into sha, and into crc when given;
    // false, reporting failure, when they cannot be read.
    bool HashRange(uint64_t offset, uint64_t length, CHashSHA256& sha, CHashCRC32* crc, const char* failure);
    // Reports error when the folded digest differs from the header's field;
    // what names the digest in the report.
    void CompareDigest(const CHashSHA256& sha, uint32_t field, RVXError error, const char* what);

    std::unique_ptr<CFileByteSource> file_;
    IByteSource* source_ = nullptr;
    CRVXMovieBytes bytes_{*this};
    RVXReading reading_ = RVXReading::kStrict;
    bool opened_ = false;
    uint64_t file_size_ = 0;
    uint64_t readable_size_ = 0;
    uint32_t intact_blocks_ = 0;
    uint8_t header_[rvx_layout::kHeaderSize] = {};
    std::vector<uint8_t> index_;
    std::vector<_rvxlib_::RVXGroupEntry> groups_;
    std::vector<RVXFrameInfo> frames_;
    std::vector<uint8_t> piece_;  // what HashRange reads into
    _snxlib_::SNXHeader sound_;
    std::vector<RVXProblem> problems_;
};
