#pragma once
// Reading the user's encoding options out of the window's controls and
// pushing them into the container writer.

#include <cstdint>
#include <string>

#include "jobs/control_ids.h"
#include "jobs/job_host.h"
#include "jobs/option_tables.h"

// Unsigned decimal value of a field's text: 0 when the text is empty, not a
// number, or beyond 32 bits. Surrounding blanks are allowed.
uint32_t ParseFieldNumber(const std::string& text);

// Every option as read from the controls, before the writer clamps anything.
struct EncodeOptions {
    uint32_t format_bits = 0;           // picture format | transform
    uint32_t frame_rate_numerator = 0;  // both 0: keep the source's rate
    uint32_t frame_rate_denominator = 0;
    uint16_t p_frames = 0;
    uint16_t b_frames = 0;
    uint16_t quality[4] = {0, 0, 0, 0};  // I, P, B quality and the matrix selector
    uint16_t scene_change = 0;
    uint32_t sound_method = 0;
    uint32_t audio_block_size = 0;
};

EncodeOptions ReadEncodeOptionValues(IJobHost& host);

// What the job keeps of the options for itself.
struct EncodeOptionResult {
    uint32_t format_bits;
    uint32_t sound_method;
    uint32_t audio_block_size;
};

// Reads the options and calls the writer's setters in their fixed order. A
// frame rate with a zero part is not set, so the source's rate stays.
template <class Writer>
EncodeOptionResult ReadEncodeOptions(IJobHost& host, Writer& writer) {
    const EncodeOptions o = ReadEncodeOptionValues(host);
    if (o.frame_rate_numerator != 0 && o.frame_rate_denominator != 0)
        writer.SetFrameRate(o.frame_rate_numerator, o.frame_rate_denominator);
    writer.SetGopStructure(o.p_frames, o.b_frames);
    uint16_t quality[4] = {o.quality[0], o.quality[1], o.quality[2], o.quality[3]};
    writer.SetQuality(quality);
    writer.SetSceneChange(o.scene_change);
    return {o.format_bits, o.sound_method, o.audio_block_size};
}
