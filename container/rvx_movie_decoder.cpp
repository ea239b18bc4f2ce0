#include "container/rvx_movie_decoder.h"

#include <algorithm>
#include <cstring>

#include "support/cpu_features.h"
#include "support/hash.h"

using namespace rvx_layout;

bool CRVXMovieDecoder::Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse) {
    reader_ = nullptr;
    if (!reader.IsOpen()) return false;
    _rvxlib_::RVXDecoderSettings settings;
    settings.width = reader.Width();
    settings.height = reader.Height();
    settings.format = reader.FormatFlags();
    std::memcpy(settings.intra_matrix, reader.IntraMatrix(), kMatrixSize);
    std::memcpy(settings.inter_matrix, reader.InterMatrix(), kMatrixSize);
    settings.inverse_dct = inverse;
    if (!decoder_.Open(settings, ProcessorFeatures())) return false;
    reader_ = &reader;
    next_record_ = 0;
    current_group_ = UINT32_MAX;
    damaged_ = 0;
    skipped_positions_.clear();
    skipped_numbers_.clear();
    last_shown_ = nullptr;
    stand_in_kept_ = false;
    damaged_numbers_.assign(reader.Frames().size(), 0);
    held_ = nullptr;
    return true;
}

const uint8_t* CRVXMovieDecoder::NextPicture(uint32_t* frameNumber) {
    if (held_ != nullptr) {
        const uint8_t* picture = held_;
        held_ = nullptr;
        *frameNumber = held_number_;
        return picture;
    }
    return DecodeNext(frameNumber);
}

const uint8_t* CRVXMovieDecoder::DecodeNext(uint32_t* frameNumber) {
    if (reader_ == nullptr) return nullptr;
    const auto& frames = reader_->Frames();
    for (;;) {
        if (const uint8_t* picture = decoder_.NextPicture(frameNumber)) {
            if (const uint8_t* shown = Shown(picture, *frameNumber)) return shown;
            continue;
        }
        if (next_record_ >= frames.size()) {
            decoder_.EndGroup();
            const uint8_t* picture = decoder_.NextPicture(frameNumber);
            if (!picture) return nullptr;
            if (const uint8_t* shown = Shown(picture, *frameNumber)) return shown;
            continue;
        }
        DecodeRecord(frames[next_record_++]);
    }
}

void CRVXMovieDecoder::DecodeRecord(const RVXFrameInfo& frame) {
    if (frame.group != current_group_) {
        const _rvxlib_::RVXGroupEntry& group = reader_->Groups()[frame.group];
        decoder_.BeginGroup(group.first_frame, group.record_count);
        current_group_ = frame.group;
        skipped_positions_.clear();
    }
    const size_t k = size_t(&frame - reader_->Frames().data());
    const bool read = reader_->ReadPayload(k, payload_);
    if (!read) payload_.clear();
    if (Tolerant() && (!read || !RecordIntact(frame))) {
        decoder_.ConcealFrame(frame.type);
        skipped_positions_.insert(RecordPosition(frame.type));
        skipped_numbers_.insert(frame.display_number);
        // The picture shown last is still valid here, and is what the
        // skipped one shows if no other is shown before it.
        if (last_shown_ && !stand_in_kept_) KeepForStandIn(last_shown_);
        NoteDamaged(frame);
        return;
    }
    const bool intact = read && RecordIntact(frame);
    if (!decoder_.DecodeFrame(frame.type, payload_.data(), payload_.size()) || !intact) NoteDamaged(frame);
}

void CRVXMovieDecoder::NoteDamaged(const RVXFrameInfo& frame) {
    ++damaged_;
    if (frame.display_number < damaged_numbers_.size()) damaged_numbers_[frame.display_number] = 1;
}

bool CRVXMovieDecoder::IsDamaged(uint32_t frameNumber) const {
    return frameNumber < damaged_numbers_.size() && damaged_numbers_[frameNumber] != 0;
}

uint32_t CRVXMovieDecoder::GroupOf(uint32_t frame) const {
    const auto& groups = reader_->Groups();
    // Groups follow each other in display order; the last one starting at or
    // before the frame holds it.
    const auto after = std::upper_bound(groups.begin(), groups.end(), frame,
                                        [](uint32_t f, const _rvxlib_::RVXGroupEntry& g) { return f < g.first_frame; });
    if (after == groups.begin() || frame >= groups.back().first_frame + groups.back().record_count) {
        return uint32_t(groups.size());
    }
    return uint32_t(after - groups.begin() - 1);
}

void CRVXMovieDecoder::Seek(uint32_t frame) {
    if (reader_ == nullptr) return;
    const auto& frames = reader_->Frames();
    const uint32_t group = GroupOf(frame);
    decoder_.Restart();
    held_ = nullptr;
    current_group_ = UINT32_MAX;
    skipped_positions_.clear();
    skipped_numbers_.clear();
    last_shown_ = nullptr;
    stand_in_kept_ = false;
    // Records are stored group after group.
    const auto first = std::partition_point(frames.begin(), frames.end(),
                                            [group](const RVXFrameInfo& f) { return f.group < group; });
    next_record_ = size_t(first - frames.begin());
    if (next_record_ == frames.size()) return;
    uint32_t number = 0;
    while (const uint8_t* picture = DecodeNext(&number)) {
        if (number >= frame) {
            held_ = picture;
            held_number_ = number;
            return;
        }
    }
}

bool CRVXMovieDecoder::RecordIntact(const RVXFrameInfo& frame) const {
    const uint32_t kind = RecordType(frame.type), position = RecordPosition(frame.type);
    if (kind == kRecordRepeat) return true;
    CHashCRC32 crc;
    crc.Update(payload_.data(), payload_.size());
    if (crc.Final() != frame.crc) return false;
    const uint32_t back = RecordBackDistance(frame.type), forward = RecordForwardDistance(frame.type);
    if ((kind == kRecordP || kind == kRecordB) && skipped_positions_.count(position - back)) return false;
    return kind != kRecordB || skipped_positions_.count(position + forward) == 0;
}

void CRVXMovieDecoder::KeepForStandIn(const uint8_t* picture) {
    if (picture != stand_in_.data()) {
        stand_in_.assign(picture, picture + decoder_.PictureSize());
    }
    stand_in_kept_ = true;
}

const uint8_t* CRVXMovieDecoder::Shown(const uint8_t* picture, uint32_t number) {
    // While a skipped picture waits, stand_in_ holds the picture shown last.
    if (skipped_numbers_.erase(number)) {
        if (!stand_in_kept_) {
            last_shown_ = nullptr;
            return nullptr;
        }
        last_shown_ = stand_in_.data();
        return last_shown_;
    }
    if (!skipped_numbers_.empty()) KeepForStandIn(picture);
    else stand_in_kept_ = false;
    last_shown_ = picture;
    return picture;
}
