#pragma once
// Small movies made by rvxenc from pictures and sound this suite writes
// itself, kept for the whole run so that each is encoded once.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/png_writer.h"
#include "common/temp_dir.h"
#include "cli/run_program.h"
#include "snxlib/wave_writer.h"

struct MovieRecipe {
    std::string picture_format = "YUV411";
    std::string transform = "DCT";
    bool sound = true;
    std::string sound_method = "MDCT-Low";
    uint32_t frames = 14;
    uint32_t p_frames = 2;
    uint32_t b_frames = 2;
    std::string fps = "25";
    uint32_t width = 64;
    uint32_t height = 48;

    std::string Name() const {
        std::string name = std::to_string(width) + "x" + std::to_string(height) + "-" + picture_format + "-" + transform + "-" + (sound ? sound_method : "silent") + "-" +
                           std::to_string(frames) + "-" + std::to_string(p_frames) + "-" +
                           std::to_string(b_frames);
        for (char& c : name) {
            if (c == '(' || c == ')') c = '_';
        }
        return name;
    }
};

inline constexpr uint32_t kSoundRate = 22050;

// The movie's path; an empty path (with a test failure) when rvxenc failed.
inline std::string MakeMovie(const MovieRecipe& recipe) {
    static TempDir dir("gst-movies");
    static std::map<std::string, std::string> made;
    const std::string name = recipe.Name();
    if (auto it = made.find(name); it != made.end()) return it->second;

    const bool alpha = recipe.picture_format[0] == 'A';
    const std::filesystem::path pictures = dir.path() / (name + "-src");
    std::filesystem::create_directories(pictures);
    for (uint32_t i = 1; i <= recipe.frames; ++i) {
        PngLayout layout;
        layout.width = recipe.width;
        layout.height = recipe.height;
        layout.colour = alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
        layout.seed = int(i);
        layout.grain = 6;
        const std::vector<uint8_t> png = WritePng(layout);
        char file[32];
        std::snprintf(file, sizeof file, "p%04u.png", i);
        std::ofstream(pictures / file, std::ios::binary).write(reinterpret_cast<const char*>(png.data()),
                                                                std::streamsize(png.size()));
    }
    std::string arguments = "'" + (pictures / "p0001.png").string() + "' -o '" + (dir.path() / (name + ".rvx")).string() +
                            "' --quiet --overwrite --picture-format " + recipe.picture_format + " --transform '" +
                            recipe.transform + "' --p-frames " + std::to_string(recipe.p_frames) + " --b-frames " +
                            std::to_string(recipe.b_frames) + " --fps " + recipe.fps;
    if (recipe.sound) {
        const std::filesystem::path wave = dir.path() / (name + ".wav");
        _snxlib_::CWaveWriter writer;
        writer.Open(wave, 2, kSoundRate);
        // A little less sound than pictures, in two voices.
        const uint32_t frames = kSoundRate * recipe.frames / 25 - 333;
        std::vector<int16_t> samples(std::size_t(frames) * 2);
        for (uint32_t i = 0; i < frames; ++i) {
            samples[2 * i] = int16_t(9000 * std::sin(i * 0.031));
            samples[2 * i + 1] = int16_t(7000 * std::sin(i * 0.113) + (i % 97) * 20);
        }
        writer.Write(samples.data(), frames);
        writer.Close();
        arguments += " --wav '" + wave.string() + "' --sound " + recipe.sound_method;
    }
    const ProgramResult result = RunRvxenc(arguments);
    if (result.exit_code != 0) {
        ADD_FAILURE() << "rvxenc " << arguments << " failed: " << result.output;
        return {};
    }
    return made[name] = (dir.path() / (name + ".rvx")).string();
}
