#include "jobs/encode_options.h"

uint32_t ParseFieldNumber(const std::string& text) {
    size_t i = 0, end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (i == end) return 0;
    uint64_t value = 0;
    for (; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(value);
}

EncodeOptions ReadEncodeOptionValues(IJobHost& host) {
    auto field = [&](uint32_t id) { return ParseFieldNumber(host.GetControlText(id)); };
    // The 16-bit setters keep the low 16 bits of what the field holds.
    auto field16 = [&](uint32_t id) { return static_cast<uint16_t>(field(id) & 0xFFFFu); };

    EncodeOptions o;
    o.format_bits = OptionRowValue(PictureFormatTable, host.GetListSelection(kIdPictureFormat)) |
                    OptionRowValue(TransformTable, host.GetListSelection(kIdTransform));

    const int32_t rate_row = host.GetListSelection(kIdFrameRate);
    const uint32_t rate = OptionRowValue(FrameRateTable, rate_row);
    if (rate != 0) {
        o.frame_rate_numerator = rate & 0xFFFFu;
        o.frame_rate_denominator = rate >> 16;
    } else if (rate_row > 0 && static_cast<uint32_t>(rate_row) < OptionRowCount(FrameRateTable)) {
        o.frame_rate_numerator = field(kIdFrameRateNumerator);
        o.frame_rate_denominator = field(kIdFrameRateDenominator);
    }

    o.p_frames = field16(kIdPFrames);
    o.b_frames = field16(kIdBFrames);
    o.quality[0] = field16(kIdQualityI);
    o.quality[1] = field16(kIdQualityP);
    o.quality[2] = field16(kIdQualityB);
    o.quality[3] = static_cast<uint16_t>(OptionRowValue(QuantMatrixTable, host.GetListSelection(kIdQuantMatrix)));
    o.scene_change = field16(kIdSceneChange);
    o.sound_method = OptionRowValue(SoundMethodTable, host.GetListSelection(kIdSoundMethod));
    o.audio_block_size = field(kIdAudioBlockSize);
    return o;
}
