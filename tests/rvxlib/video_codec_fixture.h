#pragma once
// A complete encoder set-up for tests: the codec objects for a format word,
// the group coder driving them, a sink that keeps what it hands over in
// memory, and synthetic moving pictures.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

#include "pqxlib/dct_float_llm.h"
#include "pqxlib/diff2d.h"
#include "pqxlib/quant_tables.h"
#include "rvxlib/decoder/frame_decoder.h"
#include "rvxlib/dsp/block_convert.h"
#include "rvxlib/dsp/color_space.h"
#include "rvxlib/dsp/deblock.h"
#include "rvxlib/dsp/pixel_block.h"
#include "rvxlib/encoder/coding_objects.h"
#include "rvxlib/encoder/frame_sink.h"
#include "rvxlib/encoder/group_coder.h"
#include "rvxlib/encoder/motion_search.h"

namespace rvx_test {

namespace fs = std::filesystem;
using namespace _rvxlib_;

inline fs::path FreshDir(const std::string& name) {
    fs::path dir = fs::temp_directory_path() /
                   ("rvx_" + name + "_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

inline std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Source pictures: 32-bit B, G, R, A rows when alpha is wanted, else 24-bit
// rows padded to 4 bytes. A textured pattern drifting by (dx, dy) pixels per
// frame, with a soft alpha ramp.
struct Source {
    uint32_t width, height;
    bool alpha;
    std::size_t Pitch() const { return alpha ? width * 4 : (width * 3 + 3) & ~std::size_t(3); }
    std::vector<uint8_t> Frame(int n, double dx = 1.5, double dy = 0.5, int scene = 0) const {
        std::vector<uint8_t> p(Pitch() * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) {
                const double u = x - dx * n, v = y - dy * n;
                uint8_t* px = &p[y * Pitch() + x * (alpha ? 4 : 3)];
                if (scene) {  // unrelated content: coarse noise
                    const uint32_t h = ((x / 4) * 73856093u) ^ ((y / 4) * 19349663u) ^ (scene * 83492791u);
                    px[0] = uint8_t(h * 2654435761u >> 24);
                    px[1] = uint8_t(h * 40503u >> 8);
                    px[2] = uint8_t(h >> 3);
                } else {
                    px[0] = uint8_t(128 + 100 * std::sin(u * 0.21) * std::cos(v * 0.13));
                    px[1] = uint8_t(128 + 90 * std::cos(u * 0.07 - v * 0.11));
                    px[2] = uint8_t(128 + 110 * std::sin((u + v) * 0.05));
                }
                if (alpha) px[3] = uint8_t((x * 255) / (width ? width : 1));
            }
        return p;
    }
};

// Keeps what the group coder hands over: payloads by display number, and
// records and groups in the order they arrive. Refuses every payload, or one
// frame's, on request.
struct MemorySink : IRVXFrameSink {
    bool TakeFrame(uint32_t frame, const uint8_t* payload, std::size_t size) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (refuse || int64_t(frame) == refuse_frame) return false;
        payloads[frame].assign(payload, payload + size);
        return true;
    }
    void TakeGroup(uint32_t first_frame, std::span<const RVXFrameRecord> taken) override {
        groups.push_back({first_frame, uint32_t(taken.size()), 0, 0});
        records.insert(records.end(), taken.begin(), taken.end());
    }

    std::mutex mutex;  // payloads come from the group threads
    bool refuse = false;
    int64_t refuse_frame = -1;
    std::map<uint32_t, std::vector<uint8_t>> payloads;
    std::vector<RVXFrameRecord> records;
    std::vector<RVXGroupEntry> groups;
};

struct Encoder {
    CodecPlan plan;
    RVXCodecObjects codec;
    MemorySink sink;  // outlives the coder, whose group threads hand it frames
    CRVXGroupCoder coder;
    RVXGroupSettings settings;
    // Every coded picture, as the encoder keeps it for reference.
    std::map<uint32_t, std::vector<uint8_t>> reconstructed;
    std::map<uint32_t, uint32_t> kinds;

    // format: picture layout bits 0..7 | transform bits 12..16.
    Encoder(uint32_t width, uint32_t height, uint32_t format, uint16_t p, uint16_t b,
            uint16_t scene, uint32_t features = 0, RVXPreset preset = RVXPreset::kClassic) {
        const bool alpha = FormatHasAlpha(format);
        // The writer's own plan, so that the tests code what movies code.
        const uint32_t source = alpha ? kSourceBGRA32 : kSourceBGR24;
        const bool planned = PlanCodec(CodecUse::kEncode, width, height,
                                       format | (source << kFormatSourceShift), &plan) &&
                             MakeCodecObjects(plan, features, &codec);
        settings.format = format;
        settings.b_count = b;
        settings.gop_length = uint16_t(p * (b + 1) + 1);
        settings.scene_change = scene;
        settings.weights[3] = alpha ? 1 : 0;
        settings.threshold = (3 + settings.weights[3]) * 64;
        _pqxlib_::VideoQuantMatrices(1, settings.intra_matrix, settings.inter_matrix);
        settings.tuning = TuningFor(preset);
        open_ok = planned && coder.Open(codec.Set(), settings, features, &sink);
        const std::size_t size = std::size_t(plan.padded_width) * plan.padded_height * 4;
        coder.SetFrameObserver([this, size](uint32_t n, uint32_t kind, const uint8_t* picture) {
            reconstructed[n].assign(picture, picture + size);
            kinds[n] = kind;
        });
    }
    bool open_ok = false;
};

// Record type words of the group coder as (position, type) pairs.
inline std::vector<std::pair<uint32_t, uint32_t>> Plan(const std::vector<RVXFrameRecord>& records,
                                                       std::size_t first, std::size_t count) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (std::size_t i = first; i < first + count; ++i)
        out.emplace_back(RecordPosition(records[i].type), records[i].type & kRecordTypeMask);
    return out;
}

// What DecodeAll shows.
struct Decoded {
    std::map<uint32_t, std::vector<uint8_t>> pictures;  // by display number
    std::vector<uint32_t> order;                        // display numbers as handed out
    int failures = 0;
};

inline RVXDecoderSettings DecoderSettings(const Encoder& e, uint32_t width, uint32_t height,
                                          RVXInverseDct idct = RVXInverseDct::kFloat) {
    RVXDecoderSettings s;
    s.width = width;
    s.height = height;
    s.format = e.settings.format & 0xFFFFF;
    std::memcpy(s.intra_matrix, e.settings.intra_matrix, 64);
    std::memcpy(s.inter_matrix, e.settings.inter_matrix, 64);
    s.inverse_dct = idct;
    return s;
}

// Decodes every group the encoder handed over, with an optional change to
// each payload before it is decoded.
inline Decoded DecodeAll(const Encoder& e, CRVXFrameDecoder& decoder,
                         const std::function<void(std::vector<uint8_t>&)>& damage = nullptr) {
    Decoded out;
    const auto& records = e.sink.records;
    std::size_t r = 0;
    auto drain = [&] {
        uint32_t n = 0;
        while (const uint8_t* p = decoder.NextPicture(&n)) {
            out.pictures[n].assign(p, p + decoder.PictureSize());
            out.order.push_back(n);
        }
    };
    for (const auto& group : e.sink.groups) {
        decoder.BeginGroup(group.first_frame, group.record_count);
        for (uint32_t i = 0; i < group.record_count; ++i, ++r) {
            const uint32_t type = records[r].type;
            auto bytes = e.sink.payloads.at(group.first_frame + RecordPosition(type));
            if (damage) damage(bytes);
            if (!decoder.DecodeFrame(type, bytes.data(), bytes.size())) ++out.failures;
            drain();
        }
    }
    decoder.EndGroup();
    drain();
    return out;
}

}  // namespace rvx_test
