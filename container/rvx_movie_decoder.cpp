#include "container/rvx_movie_decoder.h"

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
    return true;
}

const uint8_t* CRVXMovieDecoder::NextPicture(uint32_t* frameNumber) {
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
        ++damaged_;
        return;
    }
    if (!decoder_.DecodeFrame(frame.type, payload_.data(), payload_.size()) || !read) ++damaged_;
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
