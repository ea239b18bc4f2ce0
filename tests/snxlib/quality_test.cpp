#include "snx_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

namespace {

using namespace snxtest;

struct Signal {
    const char* name;
    std::vector<int16_t> samples;  // stereo
    // Least SNR of "MDCT-Low" and of the near-lossless modes; signals with
    // much energy above the cutoff, or loud enough to saturate coefficients,
    // get lower floors.
    double low_floor;
    double lossless_floor;
};

std::vector<Signal> Signals() {
    const uint32_t rate = 44100, frames = rate * 3 / 2;
    std::vector<int16_t> mixed = Tone(frames, 2, rate, 1000, 6000);
    const auto bursts = NoiseBursts(frames, 2, rate, 3);
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<int16_t>(mixed[i] / 2 + bursts[i] / 2);
    return {
        {"speech", SpeechLike(frames, rate, 1), 20, 40},
        {"music", MusicLike(frames, rate, 2), 20, 35},
        {"tone 440 Hz", Tone(frames, 2, rate, 440, 12000), 30, 50},
        {"chirp 50 Hz-15 kHz", Chirp(frames, 2, rate, 50, 15000, 10000), 20, 30},
        {"tone + noise bursts", mixed, 5, 30},
        {"square at clipping level", Square(frames, 2, rate, 220, 32767), 10, 12},
    };
}

double EncodeDecodeSnr(const TempDir& dir, const std::vector<int16_t>& samples, uint32_t mode) {
    WriteWave16(dir.File("q.wav"), 2, 44100, samples);
    if (!Encode(dir.File("q.wav"), dir.File("q.snx"), mode)) return -1000;
    std::vector<int16_t> decoded;
    if (!DecodeAll(dir.File("q.snx"), decoded)) return -1000;
    return SnrDb(samples, decoded);
}

TEST(SNXQuality, SnrRisesFromLowToHighOnSpeechAndMusic) {
    TempDir dir;
    std::printf("%-26s %8s %8s %8s %8s %8s %8s %8s\n", "SNR dB (44.1 kHz stereo)", "1", "64", "256",
                "High", "Mid", "Low", "260");
    for (const Signal& s : Signals()) {
        const double delta = EncodeDecodeSnr(dir, s.samples, 1);
        const double hadamard = EncodeDecodeSnr(dir, s.samples, 64);
        const double values = EncodeDecodeSnr(dir, s.samples, 256);
        const double high = EncodeDecodeSnr(dir, s.samples, 257);
        const double mid = EncodeDecodeSnr(dir, s.samples, 258);
        const double low = EncodeDecodeSnr(dir, s.samples, 259);
        const double narrow = EncodeDecodeSnr(dir, s.samples, 260);
        std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f %8.1f\n", s.name, delta, hadamard, values, high,
                    mid, low, narrow);
        EXPECT_GT(high, mid) << s.name;
        EXPECT_GT(mid, low) << s.name;
        EXPECT_GE(low, narrow - 0.5) << s.name;
        EXPECT_GT(low, s.low_floor) << s.name;
        EXPECT_GT(values, s.lossless_floor) << s.name;
        EXPECT_GT(hadamard, s.lossless_floor) << s.name;
        EXPECT_GT(delta, s.lossless_floor) << s.name;
    }
    const double silence = EncodeDecodeSnr(dir, std::vector<int16_t>(2 * 20000, 0), 259);
    EXPECT_EQ(silence, 200) << "silence decodes as silence";
}

}  // namespace
