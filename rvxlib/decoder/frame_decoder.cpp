#include "rvxlib/decoder/frame_decoder.h"

#include <algorithm>
#include <iterator>
#include <cstring>
#include <new>

#include "pqxlib/conv_interface.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/format/codec_plan.h"
#include "rvxlib/format/frame_bitstream.h"
#include "rvxlib/format/frame_record.h"

namespace _rvxlib_ {
namespace {

// A well-formed group holds back at most the B frames of one run and their
// later reference. More pictures waiting for an earlier position means that
// position is lost; waiting for it would let a damaged stream fill memory.
constexpr std::size_t kMaxWaitingPictures = 32;

bool IsReferenceKind(uint32_t kind) { return kind == kFrameKindI || kind == kFrameKindP; }

}  // namespace

CRVXFrameDecoder::CRVXFrameDecoder() = default;
CRVXFrameDecoder::~CRVXFrameDecoder() = default;

bool CRVXFrameDecoder::Open(const RVXDecoderSettings& settings, uint32_t features) {
    codec_.Reset();
    compensation_.reset();
    groups_.clear();
    free_.clear();
    settings_ = settings;
    // The same plan as the writer's: a format word or size no writer
    // accepts is refused here too.
    CodecPlan plan;
    if (!PlanStoredFormat(settings.width, settings.height, settings.format,
                          settings.inverse_dct == RVXInverseDct::kFloat, &plan) ||
        !MakePictureObjects(plan, features, &codec_)) {
        return false;
    }
    compensation_ = std::make_unique<CRVXMotionCompensation>(plan.padded_width, plan.padded_height);
    if (compensation_->Init(features) != 1) {
        compensation_.reset();
        codec_.Reset();
        return false;
    }
    padded_width_ = plan.padded_width;
    padded_height_ = plan.padded_height;
    picture_size_ = std::size_t(padded_width_) * padded_height_ * 4;
    return true;
}

AlignedBuffer<uint8_t> CRVXFrameDecoder::NewPicture() {
    AlignedBuffer<uint8_t> picture;
    if (!free_.empty()) {
        picture = std::move(free_.back());
        free_.pop_back();
        std::memset(picture.data(), 0, picture_size_);
    } else {
        picture.Resize(picture_size_);
    }
    return picture;
}

void CRVXFrameDecoder::Recycle(AlignedBuffer<uint8_t>&& picture) {
    if (picture.data() && picture.size() == picture_size_ && free_.size() < 4)
        free_.push_back(std::move(picture));
    picture = AlignedBuffer<uint8_t>();
}

// Keeps what is still to be handed out and, in the open group, the two
// latest reference pictures: the only ones later frames of a well-formed
// group predict from.
void CRVXFrameDecoder::DropUnneeded(Group& group) {
    const bool open = &group == &groups_.back() && !group.ended;
    uint64_t newest = 0, second = 0;
    if (open) {
        for (const auto& [position, slot] : group.slots) {
            if (!IsReferenceKind(slot.kind)) continue;
            if (slot.decode_index >= newest) {
                second = newest;
                newest = slot.decode_index;
            } else if (slot.decode_index > second) {
                second = slot.decode_index;
            }
        }
    }
    for (auto it = group.slots.begin(); it != group.slots.end();) {
        const bool pending = it->first >= group.next_position;
        const bool reference = open && IsReferenceKind(it->second.kind) &&
                               (it->second.decode_index == newest || it->second.decode_index == second);
        if (pending || reference) {
            ++it;
        } else {
            Recycle(std::move(it->second.picture));
            it = group.slots.erase(it);
        }
    }
}

void CRVXFrameDecoder::BeginGroup(uint32_t first_frame, uint32_t record_count) {
    EndGroup();
    Group group;
    group.first_frame = first_frame;
    group.record_count = record_count;
    groups_.push_back(std::move(group));
}

void CRVXFrameDecoder::EndGroup() {
    if (groups_.empty()) return;
    groups_.back().ended = true;
    DropUnneeded(groups_.back());
}

void CRVXFrameDecoder::Restart() {
    for (Group& group : groups_) {
        for (auto& entry : group.slots) Recycle(std::move(entry.second.picture));
    }
    groups_.clear();
}

const CRVXFrameDecoder::Slot* CRVXFrameDecoder::Reference(const Group& group,
                                                          uint32_t position) const {
    const auto it = group.slots.find(position);
    if (it == group.slots.end() || !IsReferenceKind(it->second.kind)) return nullptr;
    return &it->second;
}

bool CRVXFrameDecoder::StartRecord(uint32_t type_word, Slot* slot) {
    if (groups_.empty() || groups_.back().ended || !codec_.block) return false;
    const Group& group = groups_.back();
    const uint32_t position = RecordPosition(type_word);
    if (position >= group.record_count || group.slots.count(position)) return false;
    try {
        slot->picture = NewPicture();
    } catch (const std::bad_alloc&) {
        return false;
    }
    slot->decode_index = ++decode_count_;
    return true;
}

bool CRVXFrameDecoder::DecodeFrame(uint32_t type_word, const uint8_t* payload, std::size_t size) {
    Slot slot;
    if (!StartRecord(type_word, &slot)) return false;
    Group& group = groups_.back();
    const uint32_t position = RecordPosition(type_word);
    bool decoded = false;
    const uint32_t back = RecordBackDistance(type_word);
    const uint32_t forward = RecordForwardDistance(type_word);
    switch (type_word & kRecordTypeMask) {
    case kRecordI:
        slot.kind = kFrameKindI;
        decoded = DecodePayload(slot.picture.data(), false, nullptr, nullptr, payload, size);
        break;
    case kRecordP: {
        slot.kind = kFrameKindP;
        const Slot* earlier = back && back <= position ? Reference(group, position - back) : nullptr;
        if (earlier)
            decoded = DecodePayload(slot.picture.data(), true, earlier->picture.data(), nullptr,
                                    payload, size);
        break;
    }
    case kRecordB: {
        slot.kind = kFrameKindB;
        const Slot* earlier = back && back <= position ? Reference(group, position - back) : nullptr;
        const Slot* later = forward ? Reference(group, position + forward) : nullptr;
        if (earlier && later)
            decoded = DecodePayload(slot.picture.data(), true, earlier->picture.data(),
                                    later->picture.data(), payload, size);
        break;
    }
    case kRecordRepeat: {
        slot.kind = kFrameKindRepeat;
        const auto previous = position ? group.slots.find(position - 1) : group.slots.end();
        if (previous != group.slots.end()) {
            std::memcpy(slot.picture.data(), previous->second.picture.data(), picture_size_);
            decoded = true;
        }
        break;
    }
    default:
        break;
    }
    Store(group, position, std::move(slot));
    return decoded;
}

void CRVXFrameDecoder::Store(Group& group, uint32_t position, Slot&& slot) {
    group.slots.emplace(position, std::move(slot));
    const auto waiting = group.slots.lower_bound(group.next_position);
    if (!group.slots.count(group.next_position) &&
        std::size_t(std::distance(waiting, group.slots.end())) > kMaxWaitingPictures)
        group.next_position = waiting->first;
    DropUnneeded(group);
}

bool CRVXFrameDecoder::ConcealFrame(uint32_t type_word) {
    Slot slot;
    if (!StartRecord(type_word, &slot)) return false;
    Group& group = groups_.back();
    const uint32_t position = RecordPosition(type_word);
    switch (type_word & kRecordTypeMask) {
    case kRecordI: slot.kind = kFrameKindI; break;
    case kRecordP: slot.kind = kFrameKindP; break;
    case kRecordB: slot.kind = kFrameKindB; break;
    default: slot.kind = kFrameKindRepeat; break;
    }
    const uint32_t back = RecordBackDistance(type_word);
    const Slot* source = back && back <= position ? Reference(group, position - back) : nullptr;
    if (!source) {
        const auto before = group.slots.lower_bound(position);
        if (before != group.slots.begin()) source = &std::prev(before)->second;
    }
    if (source) std::memcpy(slot.picture.data(), source->picture.data(), picture_size_);
    Store(group, position, std::move(slot));
    return source != nullptr;
}

bool CRVXFrameDecoder::DecodePayload(uint8_t* picture, bool inter, const uint8_t* earlier,
                                     const uint8_t* later, const uint8_t* payload,
                                     std::size_t size) {
    RVXFrameReader reader;
    if (!payload || !reader.Begin(payload, size)) return false;
    codec_.pixel->SetSourcePicture(picture);
    codec_.block->SetInput(codec_.pixel->Buffer());
    codec_.block->SetDecoder(&reader.Coder());
    compensation_->SetCurrent(codec_.pixel->Buffer());
    const uint8_t* matrix = inter ? settings_.inter_matrix : settings_.intra_matrix;
    const uint8_t* const tables[4] = {matrix, matrix, matrix, matrix};
    codec_.transform->SetQuantTables(tables);

    bool intact = true;
    const uint32_t columns = codec_.pixel->MacroblockColumns(), rows = codec_.pixel->MacroblockRows();
    for (uint32_t i = 0; i < rows && intact; ++i) {
        codec_.block->ResetPredictors();
        for (uint32_t j = 0; j < columns; ++j) {
            uint16_t quantiser = 0;
            RVXMotionEntry motion;
            if (!reader.ReadMacroblockHeader(inter, &quantiser, &motion) ||
                !codec_.block->SetQuantiser(quantiser) || !codec_.block->DecodeMacroblock()) {
                intact = false;
                break;
            }
            // A P frame has no later reference; such a vector is refused like
            // one pointing outside the picture.
            const uint8_t* reference = motion.direction ? earlier : later;
            if (motion.use && reference) {
                compensation_->SetReference(reference);
                compensation_->AddPrediction(int32_t(16 * j), int32_t(16 * i), motion.dx, motion.dy);
            }
            codec_.pixel->StoreMacroblock(j, i);
        }
    }
    codec_.block->SetDecoder(nullptr);
    if (!intact || !reader.Intact()) return false;
    codec_.deblock->FilterPicture(picture);
    return true;
}

const uint8_t* CRVXFrameDecoder::NextPicture(uint32_t* frame_number) {
    while (!groups_.empty()) {
        Group& group = groups_.front();
        auto it = group.slots.find(group.next_position);
        if (it == group.slots.end() && group.ended) {
            // Skip positions that never got a record.
            it = group.slots.lower_bound(group.next_position);
            if (it == group.slots.end()) {
                for (auto& [position, slot] : group.slots) Recycle(std::move(slot.picture));
                groups_.erase(groups_.begin());
                continue;
            }
        }
        if (it == group.slots.end()) return nullptr;
        if (handed_out_.size() != picture_size_) handed_out_.Resize(picture_size_);
        std::memcpy(handed_out_.data(), it->second.picture.data(), picture_size_);
        if (frame_number) *frame_number = group.first_frame + it->first;
        group.next_position = it->first + 1;
        DropUnneeded(group);
        return handed_out_.data();
    }
    return nullptr;
}

}  // namespace _rvxlib_
