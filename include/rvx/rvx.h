/*
 * librvx: decodes .rvx movies (pictures and sound) for other programs.
 *
 *   RvxSettings settings;
 *   RvxMovie *movie = NULL;
 *   RvxInfo info;
 *   rvx_default_settings(&settings);
 *   if (rvx_open_file(&movie, "clip.rvx", &settings) < 0 || rvx_get_info(movie, &info) < 0) fail();
 *   while ((status = rvx_read_picture(movie, rgba, 4 * (ptrdiff_t)info.width)) == 0) show(rgba);
 *   rvx_close(&movie);
 *
 * Every call that can fail returns 0 (or a count) on success and a negative
 * RVX_ERROR_ code otherwise; rvx_error_text gives its meaning in words. Bad
 * input never makes a call read outside the bytes it was given. A movie may be
 * used by one thread at a time; different movies are independent.
 */
#ifndef RVX_RVX_H
#define RVX_RVX_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(RVX_BUILDING_LIBRARY) && defined(__GNUC__)
#define RVX_API __attribute__((visibility("default")))
#else
#define RVX_API
#endif

/* The interface described here; grows when calls are added, never when they change. */
#define RVX_API_VERSION 1

#define RVX_END 1 /* rvx_read_picture / rvx_read_planes after the last picture */

#define RVX_ERROR_ARGUMENT (-1)    /* a null pointer, a bad size or stride, a position outside the movie */
#define RVX_ERROR_MEMORY (-2)      /* out of memory */
#define RVX_ERROR_OPEN (-3)        /* the file is missing, unreadable or not a regular file */
#define RVX_ERROR_READ (-4)        /* reading the bytes failed */
#define RVX_ERROR_NOT_RVX (-5)     /* the bytes do not start like a movie */
#define RVX_ERROR_DAMAGED (-6)     /* the movie is damaged (layout, check sums, a frame's data) */
#define RVX_ERROR_UNSUPPORTED (-7) /* a picture format or sound this library cannot decode */
#define RVX_ERROR_NO_SOUND (-8)    /* the movie has no sound */

typedef struct RvxMovie RvxMovie;

typedef struct RvxSettings {
    int threads;      /* 0: one per processor (RVX_THREADS when set); 1: only the caller's thread */
    int strict;       /* 1: refuse any damage; 0: play what is intact */
    int integer_idct; /* 1: the integer inverse DCT; 0: the encoder's own float inverse */
    int reserved[13]; /* zero; room to grow without changing the size */
} RvxSettings;

typedef struct RvxInfo {
    int width, height, has_alpha, rate_num, rate_den;
    int64_t frames;                 /* pictures; of a cut movie opened with strict = 0, the whole ones */
    int sound_channels, sound_rate; /* 0 without sound */
    int64_t sound_frames;           /* sample frames (one sample per channel) */
} RvxInfo;

/* What a picture that was just read is. */
typedef struct RvxPictureInfo {
    int64_t frame;       /* display number, from 0 */
    int64_t time_us;     /* when it is shown: frame * rate_den / rate_num seconds, in microseconds */
    int64_t duration_us; /* how long it is shown */
    int damaged;         /* 1 when its data was damaged and it shows only what decoded */
} RvxPictureInfo;

/* Planes without colour conversion, each width x height bytes (4:4:4), rows
 * top-down. data[0..2] are Y, Cb, Cr for a YUV movie (the values the decoder
 * rebuilt) and R, G, B for an RGB movie (see rvx_plane_colours); data[3] is
 * alpha (255 without alpha). A null data pointer skips that plane. */
typedef struct RvxPlanes {
    uint8_t *data[4];
    ptrdiff_t stride[4];
} RvxPlanes;

#define RVX_PLANES_YCBCR 0
#define RVX_PLANES_RGB 1

/* Bytes from anywhere: a read at any offset inside size bytes. read returns 0
 * when all length bytes were stored in buffer, anything else on failure. The
 * library never frees opaque; it calls read until rvx_close. */
typedef struct RvxCallbacks {
    void *opaque;
    int64_t size;
    int (*read)(void *opaque, int64_t offset, void *buffer, size_t length);
} RvxCallbacks;

RVX_API const char *rvx_version(void);
RVX_API void rvx_default_settings(RvxSettings *s);

/* 0, with *m the open movie, or a negative error with *m NULL. A null s means
 * the default settings. rvx_open_memory keeps using data until rvx_close. */
RVX_API int rvx_open_file(RvxMovie **m, const char *path, const RvxSettings *s);
RVX_API int rvx_open_memory(RvxMovie **m, const uint8_t *data, size_t size, const RvxSettings *s);
RVX_API int rvx_open_callbacks(RvxMovie **m, const RvxCallbacks *callbacks, const RvxSettings *s);

RVX_API int rvx_get_info(const RvxMovie *m, RvxInfo *info);

/* The next picture in display order, bytes R,G,B,A, rows top-down, stride
 * bytes apart (at least 4 * width); A = 255 without alpha. 0, RVX_END after
 * the last picture, or a negative error. RVX_ERROR_DAMAGED (strict movies
 * only) still stores the picture as far as it decoded; the next call goes on
 * with the next picture. */
RVX_API int rvx_read_picture(RvxMovie *m, uint8_t *rgba, ptrdiff_t stride);
/* The same, as planes without colour conversion. */
RVX_API int rvx_read_planes(RvxMovie *m, const RvxPlanes *planes);
/* RVX_PLANES_YCBCR or RVX_PLANES_RGB: what rvx_read_planes' first three planes hold. */
RVX_API int rvx_plane_colours(const RvxMovie *m);
/* The picture the last successful read gave (also after RVX_ERROR_DAMAGED). */
RVX_API int rvx_get_picture_info(const RvxMovie *m, RvxPictureInfo *p);

/* The next rvx_read_picture gives this picture; frame may be 0 .. frames
 * (frames: the end). The sound stays where it is. */
RVX_API int rvx_seek(RvxMovie *m, int64_t frame);

/* Up to max_frames sample frames of interleaved 16-bit samples (channels per
 * frame) as rvxdec --wav writes them: the count, 0 at the end, or a negative
 * error. */
RVX_API int64_t rvx_read_sound(RvxMovie *m, int16_t *pcm, int64_t max_frames);
/* The next rvx_read_sound starts at this sample frame (0 .. sound_frames). */
RVX_API int rvx_seek_sound(RvxMovie *m, int64_t sample_frame);

/* Reads the whole movie and checks every check sum: 0 when it is intact,
 * RVX_ERROR_DAMAGED or RVX_ERROR_READ otherwise. Does not move the reading
 * positions. */
RVX_API int rvx_verify(RvxMovie *m);

/* A sentence for any code this library returns; never null. */
RVX_API const char *rvx_error_text(int code);
/* Frees the movie and sets *m to NULL; a null m or *m does nothing. */
RVX_API void rvx_close(RvxMovie **m);

#ifdef __cplusplus
}
#endif

#endif
