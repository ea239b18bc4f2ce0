#include "jobs/sound_cut.h"

#include <algorithm>
#include <vector>

#include "jobs/staged_sound.h"
#include "snxlib/wave_reader.h"
#include "support/stdio_file.h"

namespace {

constexpr std::size_t kCopyBytes = std::size_t{1} << 20;

}  // namespace

uint64_t SoundFrameAt(uint64_t frame, uint32_t sample_rate, uint32_t rate_numerator, uint32_t rate_denominator) {
    if (rate_numerator == 0) return 0;
    const unsigned __int128 scaled =
        static_cast<unsigned __int128>(frame) * rate_denominator * sample_rate + rate_numerator / 2;
    const unsigned __int128 sample = scaled / rate_numerator;
    return sample > UINT64_MAX ? UINT64_MAX : uint64_t(sample);
}

bool CutSound(const std::string& wave, const std::string& out, uint64_t first_frame, uint64_t end_frame,
              uint32_t rate_numerator, uint32_t rate_denominator, uint64_t& sample_frames, std::string& failure) {
    sample_frames = 0;
    StdioFile in(wave, "rb");
    _snxlib_::CWaveReader reader;
    if (!in || reader.Open(in.get()) == 0) {
        failure = wave + ": the sound cannot be read";
        return false;
    }
    const int64_t data = TellFile(in.get());
    const uint32_t frame_bytes = uint32_t(reader.BitsPerSample() / 8) * reader.Channels();
    const uint64_t total = reader.TotalSamples() / reader.Channels();
    const uint32_t rate = reader.SampleRate();
    const uint64_t first = std::min(SoundFrameAt(first_frame, rate, rate_numerator, rate_denominator), total);
    const uint64_t end = end_frame == UINT64_MAX
                             ? total
                             : std::clamp(SoundFrameAt(end_frame, rate, rate_numerator, rate_denominator), first, total);

    // The header the reader understood, written plainly: an extensible
    // format becomes its plain tag, which the reader takes alike.
    PcmFormat format;
    format.format_tag = reader.IsFloat() ? 3 : 1;
    format.channels = reader.Channels();
    format.samples_per_second = rate;
    format.bits_per_sample = reader.BitsPerSample();
    format.block_alignment = uint16_t(frame_bytes);
    format.average_bytes_per_second = uint32_t(std::min<uint64_t>(uint64_t(rate) * frame_bytes, UINT32_MAX));
    CStagedSoundFile cut;
    if (data < 0 || !SeekFile(in.get(), data + int64_t(first * frame_bytes), SEEK_SET)) {
        failure = wave + ": the sound cannot be read";
        return false;
    }
    if (!cut.Create(out) || !cut.WriteHeader(format)) {
        failure = out + ": the sound file could not be created";
        return false;
    }
    std::vector<uint8_t> buffer(std::max<std::size_t>(kCopyBytes / frame_bytes, 1) * frame_bytes);
    for (uint64_t left = (end - first) * frame_bytes; left > 0;) {
        const std::size_t chunk = std::size_t(std::min<uint64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, chunk, in.get()) != chunk) {
            failure = wave + ": the sound cannot be read";
            return false;
        }
        if (!cut.Append(buffer.data(), chunk)) {
            failure = out + ": the sound could not be written";
            return false;
        }
        left -= chunk;
    }
    if (!cut.Complete()) {
        failure = out + ": the sound could not be written";
        return false;
    }
    sample_frames = end - first;
    return true;
}
