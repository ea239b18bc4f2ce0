#include "container/rvx_movie_decoder.h"

#include <algorithm>
#include <cstring>

#include "support/cpu_features.h"

bool CRVXMovieDecoder::Open(CRVXReader& reader, _rvxlib_::RVXInverseDct inverse) {
    reader_ = nullptr;
    if (!reader.IsOpen()) return false;
    _rvxlib_::RVXDecoderSettings settings;
    settings.width = reader.Width();
    settings.height = reader.Height();
    settings.format = reader.FormatFlags();
    std::memcpy(settings.intra_matrix, reader.IntraMatrix(), rvx_layout::kMatrixSize);
    std::memcpy(settings.inter_matrix, reader.InterMatrix(), rvx_layout::kMatrixSize);
    settings.inverse_dct = inverse;
    if (!decoder_.Open(settings, ProcessorFeatures())) return false;
    reader_ = &reader;
    next_record_ = 0;
    current_group_ = UINT32_MAX;
    damaged_ = 0;
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
        if (const uint8_t* picture = decoder_.NextPicture(frameNumber)) return picture;
        if (next_record_ >= frames.size()) {
            decoder_.EndGroup();
            return decoder_.NextPicture(frameNumber);
        }
        const RVXFrameInfo& frame = frames[next_record_];
        if (frame.group != current_group_) {
            const _rvxlib_::RVXGroupEntry& group = reader_->Groups()[frame.group];
            decoder_.BeginGroup(group.first_frame, group.record_count);
            current_group_ = frame.group;
        }
        const bool read = reader_->ReadPayload(next_record_, payload_);
        if (!read) payload_.clear();
        if (!decoder_.DecodeFrame(frame.type, payload_.data(), payload_.size()) || !read) {
            ++damaged_;
            if (frame.display_number < damaged_numbers_.size()) damaged_numbers_[frame.display_number] = 1;
        }
        ++next_record_;
    }
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
    if (after == groups.begin() || frame >= reader_->FrameCount()) return uint32_t(groups.size());
    return uint32_t(after - groups.begin() - 1);
}

void CRVXMovieDecoder::Seek(uint32_t frame) {
    if (reader_ == nullptr) return;
    const auto& frames = reader_->Frames();
    const uint32_t group = GroupOf(frame);
    decoder_.Restart();
    held_ = nullptr;
    current_group_ = UINT32_MAX;
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
