#include "container/payload_files.h"

#include <cstdio>
#include <system_error>

#include "support/hash.h"
#include "support/stdio_file.h"

using namespace _rvxlib_;
namespace fs = std::filesystem;

namespace {

uint32_t Crc32(const uint8_t* bytes, std::size_t size) {
    CHashCRC32 crc;
    crc.Update(bytes, size);
    return crc.Final();
}

}  // namespace

fs::path CRVXPayloadFiles::FileName(uint32_t frame) const {
    char number[16];
    std::snprintf(number, sizeof number, "%06u.hjx", frame);
    return prefix_.string() + number;
}

fs::path CRVXPayloadFiles::FileOf(const RVXGroupEntry& group, const RVXFrameRecord& record) const {
    return FileName(group.first_frame + RecordPosition(record.type));
}

void CRVXPayloadFiles::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.clear();
    records_.clear();
    groups_.clear();
    complete_ = true;
}

bool CRVXPayloadFiles::TakeFrame(uint32_t frame, const uint8_t* payload, std::size_t size) {
    // A record holds a 32-bit payload length.
    if (size > UINT32_MAX || (size > 0 && payload == nullptr)) return false;
    const fs::path path = FileName(frame);
    StdioFile file(path, "wb");
    if (!file) return false;
    const bool written = size == 0 || std::fwrite(payload, 1, size, file.get()) == size;
    if (!file.Close() || !written) {
        // A partial payload must not be mistaken for a coded frame later.
        // Only a regular file is removed: the path may name a device.
        std::error_code error;
        if (fs::is_regular_file(path, error)) fs::remove(path, error);
        return false;
    }
    const Taken taken{uint32_t(size), Crc32(payload, size)};
    std::lock_guard<std::mutex> lock(mutex_);
    taken_[frame] = taken;
    return true;
}

void CRVXPayloadFiles::TakeGroup(uint32_t first_frame, std::span<const RVXFrameRecord> records) {
    std::lock_guard<std::mutex> lock(mutex_);
    groups_.push_back({first_frame, uint32_t(records.size()), 0, 0});
    for (RVXFrameRecord record : records) {
        record.length = record.crc = 0;
        if (RecordType(record.type) != kRecordRepeat) {
            const auto found = taken_.find(first_frame + RecordPosition(record.type));
            if (found != taken_.end()) {
                record.length = found->second.length;
                record.crc = found->second.crc;
            } else {
                complete_ = false;
            }
        }
        records_.push_back(record);
    }
}

bool CRVXPayloadFiles::ReadPayload(const RVXGroupEntry& group, const RVXFrameRecord& record,
                                   std::vector<uint8_t>& buffer) const {
    StdioFile in(FileOf(group, record), "rb");
    if (!in) return false;
    // A file that grew or shrank is not the payload that was coded.
    if (in.Length() != int64_t(record.length) || !in.Seek(0, SEEK_SET)) return false;
    if (buffer.size() < record.length) buffer.resize(record.length);
    if (record.length > 0 && std::fread(buffer.data(), 1, record.length, in.get()) != record.length) return false;
    if (std::fgetc(in.get()) != EOF || std::ferror(in.get())) return false;
    // Nor is one whose bytes changed on the disk since.
    return Crc32(buffer.data(), record.length) == record.crc;
}

void CRVXPayloadFiles::RemoveFiles() const {
    std::error_code error;
    std::size_t next = 0;
    for (const RVXGroupEntry& group : groups_) {
        for (uint32_t i = 0; i < group.record_count; ++i, ++next) {
            const RVXFrameRecord& record = records_[next];
            if (RecordType(record.type) != kRecordRepeat) fs::remove(FileOf(group, record), error);
        }
    }
}
