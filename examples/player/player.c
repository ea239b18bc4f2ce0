/* rvx-player: a small .rvx movie player on librvx and SDL2. It shows the
 * pictures at their times and plays the sound; space pauses, the left and
 * right arrow keys seek 5 seconds back and ahead, Escape or Q quits. A movie
 * whose end is missing plays as far as it is whole.
 *
 *   cc -std=c99 player.c -o rvx-player $(pkg-config --cflags --libs rvx sdl2)
 *   ./rvx-player MOVIE.rvx [--frames N]
 *
 * --frames N stops after N pictures, so that the player can run without a
 * screen or a sound card (SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy).
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <SDL.h>
#include <rvx/rvx.h>

#define SEEK_STEP_US 5000000LL
#define SOUND_AHEAD_US 250000LL
#define SOUND_PIECE 4096

typedef struct Player {
    RvxMovie *movie;
    RvxInfo info;
    SDL_Window *window;
    SDL_Renderer *renderer;
    SDL_Texture *texture;
    SDL_AudioDeviceID audio;     /* 0 without sound */
    uint8_t *rgba;               /* the picture waiting for its time */
    RvxPictureInfo picture;
    int have_picture;            /* 0 once the pictures have ended */
    int sound_ended;
    int16_t *pcm;
    int paused;
    int64_t clock_base_us;       /* movie time at clock_base_ticks */
    Uint64 clock_base_ticks;
} Player;

static int64_t ticks_to_us(Uint64 ticks) {
    return (int64_t)(ticks * 1000000.0 / (double)SDL_GetPerformanceFrequency());
}

/* Where the movie is now, in microseconds. */
static int64_t position_us(const Player *p) {
    if (p->paused) return p->clock_base_us;
    return p->clock_base_us + ticks_to_us(SDL_GetPerformanceCounter() - p->clock_base_ticks);
}

static void set_position(Player *p, int64_t us) {
    p->clock_base_us = us;
    p->clock_base_ticks = SDL_GetPerformanceCounter();
}

static void read_picture(Player *p) {
    const int status = rvx_read_picture(p->movie, p->rgba, (ptrdiff_t)p->info.width * 4);
    p->have_picture = status >= 0 && status != RVX_END && rvx_get_picture_info(p->movie, &p->picture) == 0;
    if (status < 0) fprintf(stderr, "rvx-player: %s\n", rvx_error_text(status));
}

static void show_picture(Player *p) {
    SDL_UpdateTexture(p->texture, NULL, p->rgba, p->info.width * 4);
    SDL_RenderClear(p->renderer);
    SDL_RenderCopy(p->renderer, p->texture, NULL, NULL);
    SDL_RenderPresent(p->renderer);
}

/* Keeps a quarter of a second of sound queued ahead of what is heard. */
static void feed_sound(Player *p) {
    if (!p->audio || p->sound_ended) return;
    const int64_t frame_bytes = (int64_t)p->info.sound_channels * 2;
    while ((int64_t)SDL_GetQueuedAudioSize(p->audio) / frame_bytes * 1000000 / p->info.sound_rate < SOUND_AHEAD_US) {
        const int64_t got = rvx_read_sound(p->movie, p->pcm, SOUND_PIECE);
        if (got <= 0) {
            p->sound_ended = 1;
            return;
        }
        SDL_QueueAudio(p->audio, p->pcm, (Uint32)(got * frame_bytes));
    }
}

/* Moves pictures and sound to the picture at or before target_us. */
static void seek(Player *p, int64_t target_us) {
    const RvxInfo *info = &p->info;
    int64_t frame = 0;
    if (target_us > 0 && info->rate_num > 0 && info->rate_den > 0) {
        frame = target_us * info->rate_num / ((int64_t)info->rate_den * 1000000);
    }
    if (frame >= info->frames) frame = info->frames > 0 ? info->frames - 1 : 0;
    if (rvx_seek(p->movie, frame) < 0) return;
    read_picture(p);
    const int64_t at = p->have_picture ? p->picture.time_us : target_us;
    set_position(p, at);
    if (p->audio) {
        SDL_ClearQueuedAudio(p->audio);
        p->sound_ended = rvx_seek_sound(p->movie, at * p->info.sound_rate / 1000000) < 0;
    }
}

static void toggle_pause(Player *p) {
    set_position(p, position_us(p));
    p->paused = !p->paused;
    if (p->audio) SDL_PauseAudioDevice(p->audio, p->paused);
}

/* False when the user asked to quit. */
static int handle_events(Player *p) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) return 0;
        if (event.type != SDL_KEYDOWN) continue;
        switch (event.key.keysym.sym) {
        case SDLK_ESCAPE:
        case SDLK_q: return 0;
        case SDLK_SPACE: toggle_pause(p); break;
        case SDLK_LEFT: seek(p, position_us(p) - SEEK_STEP_US); break;
        case SDLK_RIGHT: seek(p, position_us(p) + SEEK_STEP_US); break;
        default: break;
        }
    }
    return 1;
}

static int open_video(Player *p, const char *title) {
    p->window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, p->info.width,
                                 p->info.height, SDL_WINDOW_RESIZABLE);
    if (!p->window) return 0;
    p->renderer = SDL_CreateRenderer(p->window, -1, 0);
    if (!p->renderer) p->renderer = SDL_CreateRenderer(p->window, -1, SDL_RENDERER_SOFTWARE);
    if (!p->renderer) return 0;
    SDL_RenderSetLogicalSize(p->renderer, p->info.width, p->info.height);
    /* Bytes R, G, B, A in memory, as the library writes them. */
    p->texture = SDL_CreateTexture(p->renderer, SDL_PIXELFORMAT_RGBA32, SDL_TEXTUREACCESS_STREAMING, p->info.width,
                                   p->info.height);
    p->rgba = malloc((size_t)p->info.width * (size_t)p->info.height * 4);
    return p->texture && p->rgba;
}

/* A movie whose sound cannot be played still shows its pictures. */
static void open_sound(Player *p) {
    if (p->info.sound_channels <= 0 || p->info.sound_rate <= 0) return;
    SDL_AudioSpec want, have;
    SDL_zero(want);
    want.freq = p->info.sound_rate;
    want.format = AUDIO_S16SYS;
    want.channels = (Uint8)p->info.sound_channels;
    want.samples = 1024;
    p->pcm = malloc((size_t)SOUND_PIECE * (size_t)p->info.sound_channels * sizeof(int16_t));
    if (!p->pcm) return;
    p->audio = SDL_OpenAudioDevice(NULL, 0, &want, &have, 0);
    if (!p->audio) fprintf(stderr, "rvx-player: no sound: %s\n", SDL_GetError());
}

/* Plays until the pictures and the sound have ended, the user quits or
 * `limit` pictures (when not 0) were shown; the count of pictures shown. */
static long play(Player *p, long limit) {
    long shown = 0;
    read_picture(p);
    set_position(p, p->have_picture ? p->picture.time_us : 0);
    if (p->audio) SDL_PauseAudioDevice(p->audio, 0);
    while (handle_events(p)) {
        feed_sound(p);
        if (p->have_picture && !p->paused && position_us(p) >= p->picture.time_us) {
            show_picture(p);
            if (++shown == limit) break;
            read_picture(p);
        }
        const int sound_playing = p->audio && (!p->sound_ended || SDL_GetQueuedAudioSize(p->audio) > 0);
        if (!p->have_picture && !sound_playing && !p->paused) break;
        SDL_Delay(2);
    }
    return shown;
}

static void close_player(Player *p) {
    if (p->audio) SDL_CloseAudioDevice(p->audio);
    if (p->texture) SDL_DestroyTexture(p->texture);
    if (p->renderer) SDL_DestroyRenderer(p->renderer);
    if (p->window) SDL_DestroyWindow(p->window);
    free(p->rgba);
    free(p->pcm);
    rvx_close(&p->movie);
}

int main(int argc, char **argv) {
    long limit = 0;
    if (argc == 4 && strcmp(argv[2], "--frames") == 0) limit = strtol(argv[3], NULL, 10);
    if ((argc != 2 && argc != 4) || limit < 0) {
        fprintf(stderr, "usage: rvx-player MOVIE.rvx [--frames N]\n");
        return 2;
    }
    Player player;
    memset(&player, 0, sizeof player);
    const int status = rvx_open_file(&player.movie, argv[1], NULL);
    if (status < 0 || rvx_get_info(player.movie, &player.info) < 0) {
        fprintf(stderr, "rvx-player: %s: %s\n", argv[1], rvx_error_text(status));
        return 1;
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
        fprintf(stderr, "rvx-player: %s\n", SDL_GetError());
        rvx_close(&player.movie);
        return 1;
    }
    int ok = open_video(&player, argv[1]);
    long shown = 0;
    if (ok) {
        open_sound(&player);
        shown = play(&player, limit);
        printf("rvx-player: %ld pictures shown\n", shown);
    } else {
        fprintf(stderr, "rvx-player: %s\n", SDL_GetError());
    }
    close_player(&player);
    SDL_Quit();
    return ok ? 0 : 1;
}
