/* Decodes a movie through the installed library only, as any program would:
 *
 *   rvx_dump MOVIE PICTURES SOUND [FRAME...]
 *
 * prints "width height has_alpha frames channels rate sound_frames", writes
 * every picture (R, G, B, A rows) to PICTURES, followed by the picture each
 * FRAME seeks to, and the whole sound (16-bit samples) to SOUND. The movie
 * is read once more from memory, which must give the same first picture.
 * Exit status 0 only when every call did what the header promises. */
#include <rvx/rvx.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char *what, int code) {
    fprintf(stderr, "rvx_dump: %s: %s\n", what, rvx_error_text(code));
    return 1;
}

static unsigned char *read_whole(const char *path, size_t *size) {
    FILE *file = fopen(path, "rb");
    unsigned char *bytes = NULL;
    long length;
    if (!file) return NULL;
    if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
        bytes = malloc((size_t)length);
        if (bytes && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
            free(bytes);
            bytes = NULL;
        }
        *size = (size_t)length;
    }
    fclose(file);
    return bytes;
}

static int same_first_picture(const char *path, const unsigned char *first, size_t picture_bytes, ptrdiff_t stride) {
    RvxMovie *movie = NULL;
    size_t size = 0;
    unsigned char *bytes = read_whole(path, &size);
    unsigned char *picture = malloc(picture_bytes);
    int same = 0;
    if (bytes && picture && rvx_open_memory(&movie, bytes, size, NULL) == 0 &&
        rvx_read_picture(movie, picture, stride) == 0) {
        same = memcmp(picture, first, picture_bytes) == 0;
    }
    rvx_close(&movie);
    free(picture);
    free(bytes);
    return same && movie == NULL;
}

int main(int argc, char **argv) {
    RvxSettings settings;
    RvxMovie *movie = NULL;
    RvxInfo info;
    unsigned char *picture, *first;
    int16_t *pcm;
    FILE *pictures, *sound;
    size_t picture_bytes;
    ptrdiff_t stride;
    int64_t count = 0, got;
    int status, i;

    if (argc < 4) return 2;
    rvx_default_settings(&settings);
    status = rvx_open_file(&movie, argv[1], &settings);
    if (status < 0) return fail("open", status);
    if ((status = rvx_get_info(movie, &info)) < 0) return fail("info", status);
    printf("%d %d %d %lld %d %d %lld\n", info.width, info.height, info.has_alpha, (long long)info.frames,
           info.sound_channels, info.sound_rate, (long long)info.sound_frames);
    stride = (ptrdiff_t)info.width * 4;
    picture_bytes = (size_t)stride * (size_t)info.height;
    picture = malloc(picture_bytes);
    first = malloc(picture_bytes);
    pcm = malloc(4096 * sizeof *pcm * (size_t)(info.sound_channels ? info.sound_channels : 1));
    pictures = fopen(argv[2], "wb");
    sound = fopen(argv[3], "wb");
    if (!picture || !first || !pcm || !pictures || !sound) return 1;

    while ((status = rvx_read_picture(movie, picture, stride)) == 0) {
        if (count++ == 0) memcpy(first, picture, picture_bytes);
        fwrite(picture, 1, picture_bytes, pictures);
    }
    if (status != RVX_END) return fail("read_picture", status);
    if (count != info.frames) return fail("picture count", 0);
    for (i = 4; i < argc; ++i) {
        if ((status = rvx_seek(movie, atoll(argv[i]))) < 0) return fail("seek", status);
        if ((status = rvx_read_picture(movie, picture, stride)) != 0) return fail("read after seek", status);
        fwrite(picture, 1, picture_bytes, pictures);
    }
    if (info.sound_channels) {
        while ((got = rvx_read_sound(movie, pcm, 4096)) > 0) {
            fwrite(pcm, sizeof *pcm * (size_t)info.sound_channels, (size_t)got, sound);
        }
        if (got < 0) return fail("read_sound", (int)got);
    } else if (rvx_read_sound(movie, pcm, 4096) != RVX_ERROR_NO_SOUND) {
        return fail("read_sound without sound", 0);
    }
    rvx_close(&movie);
    if (movie != NULL || !same_first_picture(argv[1], first, picture_bytes, stride)) return fail("memory", 0);
    free(picture);
    free(first);
    free(pcm);
    return fclose(pictures) != 0 || fclose(sound) != 0;
}
