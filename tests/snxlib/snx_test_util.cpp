#include "snx_test_util.h"

#include "snxlib/snx_decode.h"
#include "snxlib/snx_encode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>
#include <unistd.h>

namespace snxtest {

namespace {

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x);
    Put16(v, x >> 16);
}
int16_t Clip(double v) { return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0))); }

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "snxtest-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

WaveBuilder& WaveBuilder::Chunk(const char id[4], const std::vector<uint8_t>& payload, bool pad) {
    body_.insert(body_.end(), id, id + 4);
    Put32(body_, static_cast<uint32_t>(payload.size()));
    body_.insert(body_.end(), payload.begin(), payload.end());
    if (pad && payload.size() % 2 == 1) body_.push_back(0);
    return *this;
}

WaveBuilder& WaveBuilder::ChunkWithSize(const char id[4], uint32_t stated, const std::vector<uint8_t>& payload) {
    body_.insert(body_.end(), id, id + 4);
    Put32(body_, stated);
    body_.insert(body_.end(), payload.begin(), payload.end());
    return *this;
}

WaveBuilder& WaveBuilder::RiffSize(uint32_t size) {
    riff_size_set_ = true;
    riff_size_ = size;
    return *this;
}

std::vector<uint8_t> WaveBuilder::Bytes() const {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    Put32(out, riff_size_set_ ? riff_size_ : static_cast<uint32_t>(body_.size() + 4));
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
}

std::vector<uint8_t> FormatChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    std::vector<uint8_t> v;
    Put16(v, tag);
    Put16(v, channels);
    Put32(v, rate);
    Put32(v, rate * channels * (bits / 8));
    Put16(v, channels * (bits / 8));
    Put16(v, bits);
    return v;
}

std::vector<uint8_t> ExtensibleFormatChunk(uint16_t sub_tag, uint16_t channels, uint32_t rate,
                                           uint16_t bits, uint16_t valid_bits) {
    std::vector<uint8_t> v = FormatChunk(0xFFFE, channels, rate, bits);
    Put16(v, 22);
    Put16(v, valid_bits);
    Put32(v, channels == 2 ? 3 : 4);
    Put16(v, sub_tag);
    v.insert(v.end(), {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return v;
}

std::vector<uint8_t> Pcm16Bytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> v;
    v.reserve(samples.size() * 2);
    for (int16_t s : samples) Put16(v, static_cast<uint16_t>(s));
    return v;
}

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteWave16(const std::filesystem::path& path, uint16_t channels, uint32_t rate,
                 const std::vector<int16_t>& samples) {
    WriteBytes(path, WaveBuilder()
                         .Chunk("fmt ", FormatChunk(1, channels, rate, 16))
                         .Chunk("data", Pcm16Bytes(samples))
                         .Bytes());
}

bool Encode(const std::filesystem::path& wave, const std::filesystem::path& sound, uint32_t mode,
            uint32_t block_size) {
    _snxlib_::CSNXEncode encoder;
    return encoder.SetMode(mode) && encoder.SetBlockSize(block_size) && encoder.EncodeFile(wave, sound);
}

bool DecodeAll(const std::filesystem::path& sound, std::vector<int16_t>& samples) {
    _snxlib_::CSNXDecode decoder;
    samples.clear();
    if (!decoder.Open(sound)) return false;
    samples.resize(static_cast<std::size_t>(decoder.GetSampleFrames()) * decoder.GetChannels());
    uint32_t got = 0;
    if (!decoder.Read(samples.data(), decoder.GetSampleFrames(), &got)) return false;
    return got == decoder.GetSampleFrames();
}

namespace {

// Fills frames x channels samples from a function of (frame, channel).
template <typename F>
std::vector<int16_t> Generate(uint32_t frames, uint16_t channels, F sample) {
    std::vector<int16_t> v(static_cast<std::size_t>(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) v[i * channels + c] = Clip(sample(i, c));
    }
    return v;
}

constexpr double kTwoPi = 2 * std::numbers::pi;

}  // namespace

std::vector<int16_t> Tone(uint32_t frames, uint16_t channels, uint32_t rate, double hz, double amplitude) {
    return Generate(frames, channels, [&](uint32_t i, int) { return amplitude * std::sin(kTwoPi * hz * i / rate); });
}

std::vector<int16_t> Chirp(uint32_t frames, uint16_t channels, uint32_t rate, double from_hz, double to_hz,
                           double amplitude) {
    const double seconds = static_cast<double>(frames) / rate;
    return Generate(frames, channels, [&](uint32_t i, int) {
        const double t = static_cast<double>(i) / rate;
        return amplitude * std::sin(kTwoPi * (from_hz * t + (to_hz - from_hz) * t * t / (2 * seconds)));
    });
}

std::vector<int16_t> NoiseBursts(uint32_t frames, uint16_t channels, uint32_t rate, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6000.0);
    return Generate(frames, channels, [&](uint32_t i, int) { return (i / (rate / 10)) % 2 ? 0.0 : noise(rng); });
}

std::vector<int16_t> Square(uint32_t frames, uint16_t channels, uint32_t rate, double hz, int16_t level) {
    return Generate(frames, channels, [&](uint32_t i, int) { return std::fmod(hz * i / rate, 1.0) < 0.5 ? level : -level; });
}

std::vector<int16_t> SpeechLike(uint32_t frames, uint32_t rate, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> breath(0.0, 300.0);
    double phase = 0, voiced = 0;
    return Generate(frames, 2, [&](uint32_t i, int c) {
        if (c == 1) return 0.8 * voiced + breath(rng);
        const double t = static_cast<double>(i) / rate;
        const double pitch = 140 + 40 * std::sin(kTwoPi * 1.3 * t);
        phase += kTwoPi * pitch / rate;
        double s = 0;
        for (int h = 1; h <= 12; ++h) {
            // Formant-like emphasis around 700 Hz and 1200 Hz.
            const double f = h * pitch;
            s += (std::exp(-std::pow((f - 700) / 300, 2)) + 0.6 * std::exp(-std::pow((f - 1200) / 400, 2)) + 0.05) *
                 std::sin(h * phase);
        }
        voiced = 5000 * std::max(0.0, std::sin(kTwoPi * 3.0 * t)) * s + breath(rng);
        return voiced;
    });
}

std::vector<int16_t> MusicLike(uint32_t frames, uint32_t rate, uint32_t seed) {
    // Three voices change note every quarter second, each note decaying over
    // two steps, panned at random.
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> pick(0.0, 1.0);
    const double notes[] = {220.0, 261.6, 329.6, 392.0, 440.0, 523.3, 659.3, 784.0};
    const uint32_t step = rate / 4;
    std::vector<double> mix(2 * static_cast<std::size_t>(frames), 0.0);
    for (uint32_t start = 0; start < frames; start += step) {
        for (int voice = 0; voice < 3; ++voice) {
            const double f = notes[static_cast<int>(pick(rng) * 8) % 8] * (voice == 0 ? 0.5 : 1.0);
            const double pan = pick(rng);
            for (uint32_t i = start; i < std::min(frames, start + 2 * step); ++i) {
                const double t = static_cast<double>(i - start) / rate;
                double s = 0;
                for (int h = 1; h <= 8; ++h) s += std::sin(kTwoPi * f * h * t) / h;
                mix[2 * i] += (1 - pan) * 2500 * std::exp(-3 * t) * s;
                mix[2 * i + 1] += pan * 2500 * std::exp(-3 * t) * s;
            }
        }
    }
    return Generate(frames, 2, [&](uint32_t i, int c) { return mix[2 * i + c]; });
}

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& decoded) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < reference.size() && i < decoded.size(); ++i) {
        const double r = reference[i], e = r - decoded[i];
        signal += r * r;
        noise += e * e;
    }
    if (reference.size() != decoded.size()) return -1000;
    if (noise == 0) return 200;
    return 10 * std::log10(signal / noise);
}

}  // namespace snxtest
