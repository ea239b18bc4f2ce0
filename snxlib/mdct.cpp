#include "snxlib/mdct.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace _snxlib_ {

namespace {

int16_t SaturateTruncate(float x) {
    if (x >= 32767.0f) return 32767;
    if (x <= -32768.0f) return -32768;
    return static_cast<int16_t>(x);  // truncates toward zero
}

int16_t SaturateRound(float x) {
    if (x >= 32767.0f) return 32767;
    if (x <= -32768.0f) return -32768;
    return static_cast<int16_t>(x >= 0.0f ? x + 0.5f : x - 0.5f);
}

}  // namespace

int32_t CMDCT::Init(uint32_t /*features*/, int32_t log2_length, int32_t channels) {
    Release();
    // Below 4 the half-size FFT has no butterflies to share; the coders never
    // ask for fewer than 64 samples anyway.
    if (log2_length < 2 || log2_length > 24 || channels <= 0) return 0;
    const int32_t n = 1 << log2_length;
    const int32_t half = n / 2;
    const double pi = std::numbers::pi;

    window_.Resize(2 * static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const double s = std::sin(pi * (i + 0.5) / (2.0 * n));
        const float w = static_cast<float>(std::sin(pi / 2.0 * s * s));
        window_[i] = w;
        window_[2 * n - 1 - i] = w;
    }
    pre_cos_.Resize(half);
    pre_sin_.Resize(half);
    post_cos_.Resize(half);
    post_sin_.Resize(half);
    for (int32_t i = 0; i < half; ++i) {
        const double a = -pi * (4.0 * i + 1.0) / (4.0 * n);
        pre_cos_[i] = static_cast<float>(std::cos(a));
        pre_sin_[i] = static_cast<float>(std::sin(a));
        const double b = -pi * i / n;
        post_cos_[i] = static_cast<float>(std::cos(b));
        post_sin_[i] = static_cast<float>(std::sin(b));
    }
    const int32_t quarter = std::max(half / 2, 1);
    fft_cos_.Resize(quarter);
    fft_sin_.Resize(quarter);
    for (int32_t j = 0; j < quarter; ++j) {
        const double a = -2.0 * pi * j / half;
        fft_cos_[j] = static_cast<float>(std::cos(a));
        fft_sin_[j] = static_cast<float>(std::sin(a));
    }
    const int32_t fft_bits = log2_length - 1;
    bit_reverse_.assign(half, 0);
    for (int32_t i = 0; i < half; ++i) {
        uint32_t r = 0;
        for (int32_t b = 0; b < fft_bits; ++b) r |= ((i >> b) & 1u) << (fft_bits - 1 - b);
        bit_reverse_[i] = r;
    }
    history_.Resize(static_cast<std::size_t>(channels) * n);
    overlap_.Resize(static_cast<std::size_t>(channels) * n);
    fold_.Resize(n);
    spectrum_.Resize(n);
    re_.Resize(half);
    im_.Resize(half);

    log2n_ = log2_length;
    n_ = n;
    channels_ = channels;
    return Reset();
}

int32_t CMDCT::Release() {
    window_ = {};
    pre_cos_ = {};
    pre_sin_ = {};
    post_cos_ = {};
    post_sin_ = {};
    fft_cos_ = {};
    fft_sin_ = {};
    bit_reverse_.clear();
    history_ = {};
    overlap_ = {};
    fold_ = {};
    spectrum_ = {};
    re_ = {};
    im_ = {};
    log2n_ = n_ = channels_ = 0;
    return 1;
}

int32_t CMDCT::Reset() {
    for (std::size_t i = 0; i < history_.size(); ++i) history_[i] = 0.0f;
    for (std::size_t i = 0; i < overlap_.size(); ++i) overlap_[i] = 0.0f;
    return 1;
}

void CMDCT::Fft(float* re, float* im) {
    const int32_t size = n_ / 2;
    for (int32_t i = 0; i < size; ++i) {
        const uint32_t j = bit_reverse_[i];
        if (j > static_cast<uint32_t>(i)) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int32_t span = 1; span < size; span *= 2) {
        const int32_t step = size / (2 * span);  // twiddle stride in the N/4 table
        for (int32_t start = 0; start < size; start += 2 * span) {
            for (int32_t j = 0; j < span; ++j) {
                const float wr = fft_cos_[j * step], wi = fft_sin_[j * step];
                const int32_t a = start + j, b = a + span;
                const float tr = re[b] * wr - im[b] * wi;
                const float ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

// Unscaled DCT-IV of size N through one complex FFT of size N/2: the even
// inputs and the reversed odd inputs form one complex sequence, and the
// even outputs and reversed odd outputs come back as its real and negated
// imaginary parts.
void CMDCT::DctIV(const float* in, float* out) {
    const int32_t n = n_, half = n / 2;
    float* re = re_.data();
    float* im = im_.data();
    for (int32_t i = 0; i < half; ++i) {
        const float a = in[2 * i], b = in[n - 1 - 2 * i];
        re[i] = a * pre_cos_[i] - b * pre_sin_[i];
        im[i] = a * pre_sin_[i] + b * pre_cos_[i];
    }
    Fft(re, im);
    for (int32_t k = 0; k < half; ++k) {
        const float yr = re[k] * post_cos_[k] - im[k] * post_sin_[k];
        const float yi = re[k] * post_sin_[k] + im[k] * post_cos_[k];
        out[2 * k] = yr;
        out[n - 1 - 2 * k] = -yi;
    }
}

int32_t CMDCT::ForwardFloat(const int16_t* block, int32_t channel, float* coefficients) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    const int32_t n = n_, half = n / 2;
    const float* w = window_.data();
    float* previous = history_.data() + static_cast<std::size_t>(channel) * n;
    float* v = fold_.data();
    // With m = n - N/2 the kernel is the DCT-IV kernel of m; it is even about
    // m = -1/2 and odd about m = N - 1/2, which folds the 2N windowed samples
    // into N. Frame sample n < N is previous[n], n >= N is block[n - N].
    auto z = [&](int32_t i) {
        return i < n ? w[i] * previous[i] : w[i] * static_cast<float>(block[i - n]);
    };
    for (int32_t j = 0; j < half; ++j) v[j] = z(j + half) + z(half - 1 - j);
    for (int32_t j = half; j < n; ++j) v[j] = z(j + half) - z(5 * half - 1 - j);
    DctIV(v, coefficients);
    const float scale = 2.0f / static_cast<float>(n);
    for (int32_t k = 0; k < n; ++k) coefficients[k] *= scale;
    for (int32_t i = 0; i < n; ++i) previous[i] = static_cast<float>(block[i]);
    return 1;
}

int32_t CMDCT::Forward(int16_t* block, int32_t channel) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    float* x = spectrum_.data();
    ForwardFloat(block, channel, x);
    for (int32_t k = 0; k < n_; ++k) block[k] = SaturateTruncate(x[k]);
    return 1;
}

int32_t CMDCT::InverseFloat(const float* coefficients, int32_t channel, float* samples) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    const int32_t n = n_, half = n / 2;
    const float* w = window_.data();
    float* y = fold_.data();
    DctIV(coefficients, y);
    float* tail = overlap_.data() + static_cast<std::size_t>(channel) * n;
    // u[i] for i < N/2 mirrors y[N/2-1-i]; for N/2 <= i < 3N/2 it is y[i-N/2];
    // beyond, it is -y[5N/2-1-i].
    for (int32_t i = 0; i < half; ++i) samples[i] = w[i] * y[half - 1 - i] + tail[i];
    for (int32_t i = half; i < n; ++i) samples[i] = w[i] * y[i - half] + tail[i];
    for (int32_t i = 0; i < half; ++i) tail[i] = w[n + i] * y[half + i];
    for (int32_t i = half; i < n; ++i) tail[i] = -w[n + i] * y[3 * half - 1 - i];
    return 1;
}

int32_t CMDCT::Inverse(int16_t* block, int32_t channel) {
    if (n_ == 0 || channel < 0 || channel >= channels_) return 0;
    float* x = spectrum_.data();
    for (int32_t k = 0; k < n_; ++k) x[k] = static_cast<float>(block[k]);
    // The DCT-IV has read every coefficient before the samples are written,
    // so one scratch buffer serves as both.
    float* out = x;
    InverseFloat(x, channel, out);
    for (int32_t i = 0; i < n_; ++i) block[i] = SaturateRound(out[i]);
    return 1;
}

}  // namespace _snxlib_
