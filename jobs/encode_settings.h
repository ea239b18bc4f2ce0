#pragma once
// How a movie is coded, as one value. A front end fills it when the user
// starts a job (the window from its controls, rvxenc from its arguments) and
// hands it down with the job's paths; the job gives it to the writer.

#include <cstdint>
#include <string>

#include "container/coding_defaults.h"
#include "jobs/option_tables.h"
#include "jobs/source_settings.h"

struct FrameRate {
    uint32_t numerator = 0;
    uint32_t denominator = 0;

    // A rate with a zero part names no rate: the source's own is kept.
    bool IsSourceRate() const { return numerator == 0 || denominator == 0; }

    friend bool operator==(const FrameRate&, const FrameRate&) = default;
};

// The defaults are what the window shows at start-up: row 0 of every list
// and the writer's own values in the fields.
struct EncodeSettings {
    uint32_t picture_format = OptionRowValue(PictureFormatTable, 0);  // low byte of the format word
    uint32_t transform = OptionRowValue(TransformTable, 0);           // transform bits of the format word
    FrameRate frame_rate;                                              // 0/0: the source's
    uint16_t p_frames = kDefaultPFrames;
    uint16_t b_frames = kDefaultBFrames;
    uint16_t scene_change = kDefaultSceneChange;
    uint16_t matrix = static_cast<uint16_t>(OptionRowValue(QuantMatrixTable, 0));  // matrix selector
    uint16_t quality_i = kDefaultQualityI;
    uint16_t quality_p = kDefaultQualityP;
    uint16_t quality_b = kDefaultQualityB;
    RVXPreset preset = RVXPreset::kClassic;
    bool adaptive_quantisation = false;  // quantisers that follow each macroblock's detail
    uint32_t sound_method = OptionRowValue(SoundMethodTable, 0);  // passed unchanged to the sound encoder
    uint32_t audio_block_size = kDefaultAudioBlockSize;
    // Two-pass rate control: the whole movie's size in bytes, or its average
    // rate in bits per second over the movie's duration; 0 for none. With
    // either set, the frame qualities above are the plan's to choose.
    uint64_t target_bytes = 0;
    uint64_t target_bits_per_second = 0;
    // The part of the source, its sound track and the picture steps before
    // the codec.
    SourceSettings source;

    uint32_t FormatBits() const { return picture_format | transform; }

    friend bool operator==(const EncodeSettings&, const EncodeSettings&) = default;
};

// Everything a job is made with. The front end gathers it when the user
// starts the job; the job asks for nothing more.
struct EncodeRequest {
    std::string source;  // the chosen image of a run, the AVI file or the movie
    std::string wave;    // an image run's WAVE file, empty for none (other sources carry their sound)
    std::string output;  // the movie to write
    EncodeSettings settings;
};

// The one place where a number as a person typed it becomes a setting; the
// window and rvxenc both go through it, so the same text codes the same
// movie.
//
// Unsigned decimal value of a field's text: 0 when the text is empty, not a
// number, or beyond 32 bits. Surrounding blanks are allowed.
uint32_t ParseFieldNumber(const std::string& text);
// A 16-bit setting keeps the low 16 bits of the field's number; the writer
// clamps it to its own range.
uint16_t FieldSetting16(const std::string& text);
// The rate a row of the frame-rate list stands for. A preset row gives its
// fraction; the manual row takes the two fields; row 0 (and a row outside
// the list) keeps the source's rate.
FrameRate ChosenFrameRate(int32_t row, const std::string& numerator, const std::string& denominator);

// Calls the writer's setters in their fixed order. A frame rate with a zero
// part is not set, so the source's rate stays.
template <class Writer>
void ApplyEncodeSettings(const EncodeSettings& settings, Writer& writer) {
    if (!settings.frame_rate.IsSourceRate())
        writer.SetFrameRate(settings.frame_rate.numerator, settings.frame_rate.denominator);
    writer.SetGopStructure(settings.p_frames, settings.b_frames);
    uint16_t quality[4] = {settings.quality_i, settings.quality_p, settings.quality_b, settings.matrix};
    writer.SetQuality(quality);
    writer.SetSceneChange(settings.scene_change);
    writer.SetPreset(static_cast<uint8_t>(settings.preset), settings.adaptive_quantisation);
}
