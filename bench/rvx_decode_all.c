/* Decodes every picture of a movie through librvx, the way a player would:
 *
 *   rvx_decode_all MOVIE THREADS [planes]
 *
 * prints the number of pictures and the seconds the pictures took (open
 * excluded), R, G, B, A pictures or, with "planes", Y, Cb, Cr planes. */
#define _POSIX_C_SOURCE 199309L
#include <rvx/rvx.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char **argv) {
    RvxSettings settings;
    RvxMovie *movie = NULL;
    RvxInfo info;
    RvxPlanes planes;
    uint8_t *pixels;
    int status, pictures = 0, use_planes = argc > 3 && strcmp(argv[3], "planes") == 0;
    double start;
    size_t area;

    if (argc < 3) return 2;
    rvx_default_settings(&settings);
    settings.threads = atoi(argv[2]);
    if ((status = rvx_open_file(&movie, argv[1], &settings)) < 0 || (status = rvx_get_info(movie, &info)) < 0) {
        fprintf(stderr, "%s: %s\n", argv[1], rvx_error_text(status));
        return 1;
    }
    area = (size_t)info.width * (size_t)info.height;
    pixels = malloc(area * 4);
    if (!pixels) return 1;
    memset(&planes, 0, sizeof planes);
    for (status = 0; status < 3; ++status) {
        planes.data[status] = pixels + area * (size_t)status;
        planes.stride[status] = info.width;
    }
    start = now();
    while ((status = use_planes ? rvx_read_planes(movie, &planes) : rvx_read_picture(movie, pixels, 4 * (ptrdiff_t)info.width)) == 0) {
        ++pictures;
    }
    printf("%d pictures in %.3f s\n", pictures, now() - start);
    rvx_close(&movie);
    free(pixels);
    return status == RVX_END ? 0 : 1;
}
