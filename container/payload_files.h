#pragma once
// The coded frames of a movie while it is being made: the frame sink the
// container writer hands the group coder. Each payload goes at once into a
// file of its own in the work directory, named from the frame prefix and the
// display number ("rvxframe000012.hjx"), so coded frames never stay in
// memory; its length and CRC-32 are kept beside it. Groups arrive with their
// records, which become the movie's records in file order with lengths and
// CRCs filled in. Only the container knows these names and checksums.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rvxlib/encoder/frame_sink.h"
#include "rvxlib/format/frame_record.h"

class CRVXPayloadFiles final : public _rvxlib_::IRVXFrameSink {
public:
    void SetPrefix(const std::filesystem::path& prefix) { prefix_ = prefix; }
    std::filesystem::path FileName(uint32_t frame) const;
    // Starts a new movie: forgets every frame and group (their files stay).
    void Clear();

    // Writes the payload file; safe to call from several threads at once.
    // False, leaving no file behind, when it cannot be written completely.
    bool TakeFrame(uint32_t frame, const uint8_t* payload, std::size_t size) override;
    void TakeGroup(uint32_t first_frame, std::span<const _rvxlib_::RVXFrameRecord> records) override;

    // False once a group named a frame whose payload was never taken.
    bool Complete() const { return complete_; }
    // Records in file order, and one entry per group; WriteMovie fills in
    // the offsets and lengths of the groups.
    const std::vector<_rvxlib_::RVXFrameRecord>& Records() const { return records_; }
    const std::vector<_rvxlib_::RVXGroupEntry>& Groups() const { return groups_; }
    std::vector<_rvxlib_::RVXGroupEntry>& Groups() { return groups_; }

    // Reads the payload of a record of a group back into buffer (grown,
    // never shrunk). False when the file is missing or no longer holds the
    // bytes that were coded: another length or another CRC-32.
    bool ReadPayload(const _rvxlib_::RVXGroupEntry& group, const _rvxlib_::RVXFrameRecord& record,
                     std::vector<uint8_t>& buffer) const;
    // Removes the payload file of every record (after a complete movie).
    void RemoveFiles() const;

private:
    struct Taken {
        uint32_t length = 0;
        uint32_t crc = 0;
    };
    std::filesystem::path FileOf(const _rvxlib_::RVXGroupEntry& group,
                                 const _rvxlib_::RVXFrameRecord& record) const;

    std::filesystem::path prefix_;
    std::mutex mutex_;  // taken_, written from the coding threads
    std::unordered_map<uint32_t, Taken> taken_;
    std::vector<_rvxlib_::RVXFrameRecord> records_;
    std::vector<_rvxlib_::RVXGroupEntry> groups_;
    bool complete_ = true;
};
