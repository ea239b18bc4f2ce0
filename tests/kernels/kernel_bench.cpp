// test_kernels --bench: every kernel at every level this machine reaches, in
// nanoseconds per pixel. Unit tests never time anything; this mode is for
// people comparing levels.

#include "kernel_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "pqxlib/dct_float_llm_kernels.h"
#include "pqxlib/dct_int_aan_kernels.h"
#include "rvxlib/dsp/block_convert_kernels.h"
#include "rvxlib/dsp/color_space_kernels.h"
#include "rvxlib/dsp/deblock_kernels.h"
#include "rvxlib/dsp/motion_kernels.h"
#include "rvxlib/dsp/pixel_block_kernels.h"
#include "support/aligned_alloc.h"
#include "support/png_channel_order.h"

using namespace _rvxlib_;
using namespace _pqxlib_;

namespace {

// The best of seven runs of about 3 ms each, in ns per pixel: the machine
// may be shared, and the minimum is the figure least disturbed by others.
template <typename Call>
double NsPerPixel(Call call, double pixels_per_call) {
    using Clock = std::chrono::steady_clock;
    auto run = [&](long calls) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i) call();
        return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    };
    long calls = 16;
    while (run(calls) < 3e6) calls *= 2;
    double best = run(calls);
    for (int i = 0; i < 6; ++i) best = std::min(best, run(calls));
    return best / (double(calls) * pixels_per_call);
}

struct Row {
    std::string kernel;
    std::vector<double> ns;  // per level
};

struct Inputs {
    AlignedBuffer<int16_t> block{4096};
    AlignedBuffer<int16_t> block2{4096};
    AlignedBuffer<uint8_t> picture{640 * 480 * 4 + 64};
    AlignedBuffer<uint8_t> out{640 * 480 * 4 + 64};
    AlignedBuffer<float> work{256};
    AlignedBuffer<int32_t> planar{256};
    AlignedBuffer<int16_t> planar16{256};
    Inputs() {
        std::mt19937 rng(1);
        for (std::size_t i = 0; i < block.size(); ++i) block[i] = int16_t(rng() & 255);
        for (std::size_t i = 0; i < block2.size(); ++i) block2[i] = int16_t(int(rng() % 101) - 50);
        for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = uint8_t(rng());
        for (std::size_t i = 0; i < work.size(); ++i) work[i] = float(int(rng() % 511) - 255);
    }
};

}  // namespace

int RunKernelBench() {
    const std::vector<kernel_test::Level> levels = kernel_test::AllLevels();
    std::vector<Row> rows;
    auto add = [&](const std::string& name, std::size_t level, double ns) {
        if (level == 0) rows.push_back({name, {}});
        for (Row& r : rows)
            if (r.kernel == name) r.ns.push_back(ns);
    };
    std::vector<Row> mb_rows;
    auto add_mb = [&](const std::string& name, std::size_t level, double ns) {
        if (level == 0) mb_rows.push_back({name, {}});
        for (Row& r : mb_rows)
            if (r.kernel == name) r.ns.push_back(ns);
    };
    Inputs in;
    int16_t steps[64];
    for (int16_t& s : steps) s = 16;
    float fsteps[256];
    for (float& s : fsteps) s = 1.0f / 16;
    for (std::size_t l = 0; l < levels.size(); ++l) {
        const uint32_t f = levels[l].features;
        const MotionKernels m = motion_kernels_for(f);
        const std::ptrdiff_t pitch = 640 * 4;
        uint32_t sums[4];
        // A 640-pixel row, the PNG path's channel moves.
        add("png swap 24", l, NsPerPixel([&] { ChannelSwapRowFor(f, 3)(in.out.data(), in.picture.data(), 640); }, 640));
        add("png rgb to 32 bits", l,
            NsPerPixel([&] { PngRowTo32BitsFor(f, 3)(in.out.data(), in.picture.data(), 640); }, 640));
        add("png rgba to 32 bits", l,
            NsPerPixel([&] { PngRowTo32BitsFor(f, 4)(in.out.data(), in.picture.data(), 640); }, 640));
        add("motion ssd16x16", l, NsPerPixel([&] { m.ssd16x16(in.block.data(), in.picture.data() + 4, pitch, sums); }, 256));
        add("motion ssd16xn_narrow", l,
            NsPerPixel([&] { m.ssd16xn_narrow(in.block.data(), in.picture.data() + 4, pitch, 16, sums); }, 256));
        const uint32_t weights[4] = {1, 1, 1, 0};
        add("motion ssd16x16_narrow_bounded", l, NsPerPixel([&] {
                m.ssd16x16_narrow_bounded(in.block.data(), in.picture.data() + 4, pitch, weights,
                                          UINT64_MAX - 1, sums);
            }, 256));
        std::vector<int16_t> arranged(1024);
        m.arrange_bytes(in.block.data(), arranged.data());
        add("motion ssd16x16_bytes_bounded", l, NsPerPixel([&] {
                m.ssd16x16_bytes_bounded(arranged.data(), in.picture.data() + 4, pitch, weights,
                                         UINT64_MAX - 1, sums);
            }, 256));
        add("motion halfpel_bytes_bounded", l, NsPerPixel([&] {
                m.halfpel_bytes_bounded(arranged.data(), in.picture.data() + 4, pitch, 1, 1, weights,
                                        UINT64_MAX - 1, sums);
            }, 256));
        add("motion activity16x16", l, NsPerPixel([&] { m.activity16x16(in.block.data(), sums); }, 256));
        add("motion activity16x16_bytes", l,
            NsPerPixel([&] { m.activity16x16_bytes(in.block.data(), sums); }, 256));
        add("motion prepare block", l, NsPerPixel([&] {
                PrepareBlock(m, in.block.data(), arranged.data(), sums);
            }, 256));
        add("motion halfpel", l,
            NsPerPixel([&] { m.halfpel(in.out.data(), 80, in.picture.data() + 4, pitch, 1, 1); }, 256));
        add("motion add_prediction", l,
            NsPerPixel([&] { m.add_prediction(in.block2.data(), in.picture.data(), pitch); }, 256));
        add("motion subtract_prediction", l,
            NsPerPixel([&] { m.subtract_prediction(in.block2.data(), in.picture.data(), pitch); }, 256));

        const ColorKernels c = color_kernels_for(f);
        const char* names[] = {"bgr24-bgra", "bgra-bgra", "bgr24-vuya", "bgra-vuya"};
        for (int k = 0; k < kColorConversionCount; ++k) {
            const ColorRowRoutines& r = c.rows[k];
            add(std::string("colour ") + names[k] + " forward", l,
                NsPerPixel([&] { r.forward(in.out.data(), in.picture.data(), 1920, 0); }, 1920));
            add(std::string("colour ") + names[k] + " back", l,
                NsPerPixel([&] { r.back(in.out.data(), in.picture.data(), 1920, 0); }, 1920));
        }

        const DeblockKernels d = deblock_kernels_for(f);
        add("deblock filter_picture", l,
            NsPerPixel([&] { d.filter_picture(in.out.data(), 640, 480, 640 * 4); }, 640 * 480));

        const PixelBlockKernels p = pixel_block_kernels_for(f);
        add("pixel block load", l, NsPerPixel([&] { p.load(in.block2.data(), in.picture.data(), pitch); }, 256));
        add("pixel block store", l, NsPerPixel([&] { p.store(in.out.data(), pitch, in.block.data()); }, 256));

        // The block converter's steps, timed per macroblock (pixels_per_call 1
        // gives nanoseconds per call); listed in a table of their own below.
        const BlockConvertKernels b = block_convert_kernels_for(f);
        int16_t* mb = in.block.data();
        int16_t* work = in.block2.data();
        int16_t* coded = in.block2.data() + 1024;
        add_mb("block gather_plane", l, NsPerPixel([&] { b.gather_plane(work, mb, 2); }, 1));
        add_mb("block scatter_plane", l, NsPerPixel([&] { b.scatter_plane(mb, work, 2); }, 1));
        add_mb("block gather_422_chroma", l, NsPerPixel([&] { b.gather_422_chroma(work, mb); }, 1));
        add_mb("block scatter_422_chroma", l, NsPerPixel([&] { b.scatter_422_chroma(mb, work); }, 1));
        add_mb("block gather_411_chroma", l, NsPerPixel([&] { b.gather_411_chroma(work, mb); }, 1));
        add_mb("block scatter_411_chroma", l, NsPerPixel([&] { b.scatter_411_chroma(mb, work); }, 1));
        add_mb("block set_opaque", l, NsPerPixel([&] { b.set_opaque(mb); }, 1));
        add_mb("block clear_slot", l, NsPerPixel([&] { b.clear_slot(work, 2); }, 1));
        add_mb("block emit_slots x4", l, NsPerPixel([&] { b.emit_slots(coded, work, 0, 4); }, 1));
        add_mb("block fill_slots x4", l, NsPerPixel([&] { b.fill_slots(work, coded, 0, 4); }, 1));
        add_mb("block emit_slots x1", l, NsPerPixel([&] { b.emit_slots(coded, work, 2, 1); }, 1));
        add_mb("block fill_slots x1", l, NsPerPixel([&] { b.fill_slots(work, coded, 2, 1); }, 1));

        // A block of 64 pixels with four channels.
        const FloatLLMKernels fl = float_llm_kernels_for(f);
        const float* k = kFloatLLMConstants;
        add("float dct row_forward", l, NsPerPixel([&] { fl.row_forward(in.work.data(), k); }, 64));
        add("float dct column_forward", l, NsPerPixel([&] { fl.column_forward(in.work.data(), k); }, 64));
        add("float dct row_inverse", l, NsPerPixel([&] { fl.row_inverse(in.work.data(), k); }, 64));
        add("float dct column_inverse", l, NsPerPixel([&] { fl.column_inverse(in.work.data(), k); }, 64));
        add("float dct load", l, NsPerPixel([&] { fl.load(in.block.data(), in.work.data(), 4, nullptr); }, 64));
        add("float dct store_forward", l,
            NsPerPixel([&] { fl.store_forward(in.work.data(), in.block2.data(), 4, fsteps, 1.0f); }, 64));
        add("float dct store_inverse", l,
            NsPerPixel([&] { fl.store_inverse(in.work.data(), in.block2.data(), 4, 1.0f); }, 64));

        const IntAANConstants ik = BuildIntAANConstants();
        const IntAANInverseKernels ii = int_aan_inverse_kernels_for(f);
        add("int dct dequantise", l,
            NsPerPixel([&] { ii.dequantise(in.block2.data(), in.planar16.data(), 4, steps, 1); }, 64));
        add("int dct inverse row_pass", l, NsPerPixel([&] { ii.row_pass(in.planar16.data(), 4, ik); }, 64));
        add("int dct inverse interleave", l,
            NsPerPixel([&] { ii.interleave(in.planar16.data(), in.block2.data(), 4); }, 64));
        add("int dct inverse column_pass", l, NsPerPixel([&] { ii.column_pass(in.block2.data(), 4, ik); }, 64));
        const IntAANForwardKernels fi = int_aan_forward_kernels_for(f);
        add("int dct forward column_pass", l, NsPerPixel([&] { fi.column_pass(in.block2.data(), 4, ik); }, 64));
        add("int dct forward row_pass", l, NsPerPixel([&] { fi.row_pass(in.planar.data(), 4, ik); }, 64));
    }

    std::printf("%-32s", "kernel (ns per pixel)");
    for (const auto& level : levels) std::printf("%10s", level.name);
    std::printf("\n");
    for (const Row& r : rows) {
        std::printf("%-32s", r.kernel.c_str());
        for (double ns : r.ns) std::printf("%10.3f", ns);
        std::printf("\n");
    }
    std::printf("\n%-32s", "kernel (ns per macroblock)");
    for (const auto& level : levels) std::printf("%10s", level.name);
    std::printf("\n");
    for (const Row& r : mb_rows) {
        std::printf("%-32s", r.kernel.c_str());
        for (double ns : r.ns) std::printf("%10.1f", ns);
        std::printf("\n");
    }
    return 0;
}
