// The calls the player's worker makes into the decoder: the public API with
// its 64-bit values and structures turned into numbers JavaScript can pass
// (doubles hold every frame count and time a movie can have exactly).

#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include <rvx/rvx.h>
#include "support/hash.h"

// The movie's bytes stay with the worker (a file or a download, held by the
// browser, often on disk): it copies each range the library asks for into
// the module's memory, so a movie larger than that memory plays too.
// 0 when all length bytes arrived.
EM_JS(int, player_read_source, (double offset, uint8_t* buffer, uint32_t length), {
    return Module.readSource(offset, buffer, length);
});

namespace {

int ReadSource(void*, int64_t offset, void* buffer, size_t length) {
    return player_read_source(double(offset), static_cast<uint8_t*>(buffer), uint32_t(length));
}

enum InfoField {
    kWidth,
    kHeight,
    kHasAlpha,
    kRateNum,
    kRateDen,
    kFrames,
    kSoundChannels,
    kSoundRate,
    kSoundFrames,
    kPlaneColours,
    kInfoFields
};

enum PictureField { kFrame, kTimeUs, kDurationUs, kDamaged, kPictureFields };

}  // namespace

extern "C" {

// Opens the worker's movie of size bytes (Module.readSource reads it). The
// browser build runs on one thread. *error gets 0 or the library's code.
RvxMovie* player_open(double size, int strict, int* error) {
    RvxSettings settings;
    rvx_default_settings(&settings);
    settings.threads = 1;
    settings.strict = strict;
    const RvxCallbacks callbacks = {nullptr, int64_t(size), ReadSource};
    RvxMovie* movie = nullptr;
    *error = rvx_open_callbacks(&movie, &callbacks, &settings);
    return movie;
}

// out[kInfoFields]: the movie's description, or a negative code back.
int player_info(const RvxMovie* movie, double* out) {
    RvxInfo info;
    const int status = rvx_get_info(movie, &info);
    if (status < 0) return status;
    out[kWidth] = info.width;
    out[kHeight] = info.height;
    out[kHasAlpha] = info.has_alpha;
    out[kRateNum] = info.rate_num;
    out[kRateDen] = info.rate_den;
    out[kFrames] = double(info.frames);
    out[kSoundChannels] = info.sound_channels;
    out[kSoundRate] = info.sound_rate;
    out[kSoundFrames] = double(info.sound_frames);
    out[kPlaneColours] = rvx_plane_colours(movie);
    return 0;
}

// The next picture as R,G,B,A rows of 4 * width bytes; out[kPictureFields]
// says which picture it was. 0, RVX_END or a negative code.
int player_read_picture(RvxMovie* movie, uint8_t* rgba, int width, double* out) {
    const int status = rvx_read_picture(movie, rgba, 4 * ptrdiff_t{width});
    RvxPictureInfo picture;
    if (status == RVX_END || rvx_get_picture_info(movie, &picture) < 0) return status;
    out[kFrame] = double(picture.frame);
    out[kTimeUs] = double(picture.time_us);
    out[kDurationUs] = double(picture.duration_us);
    out[kDamaged] = picture.damaged;
    return status;
}

int player_seek(RvxMovie* movie, double frame) { return rvx_seek(movie, int64_t(frame)); }

// Up to max_frames sample frames from sample frame `from` on: the count, 0
// past the end, or a negative code.
int player_read_sound(RvxMovie* movie, double from, int16_t* pcm, int max_frames) {
    const int status = rvx_seek_sound(movie, int64_t(from));
    if (status < 0) return status;
    return int(rvx_read_sound(movie, pcm, max_frames));
}

int player_verify(RvxMovie* movie) { return rvx_verify(movie); }

const char* player_error_text(int code) { return rvx_error_text(code); }

const char* player_version() { return rvx_version(); }

void player_close(RvxMovie* movie) { rvx_close(&movie); }

// hex[65]: the SHA-256 of size bytes as lower-case hexadecimal.
void player_sha256_hex(const uint8_t* data, uint32_t size, char* hex) {
    CHashSHA256 hash(0);
    hash.Update(data, size);
    hash.Final();
    uint8_t digest[32];
    hash.GetDigest(digest);
    for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
}

}  // extern "C"
