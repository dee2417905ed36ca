// The window, drawn and read through SDL2. Built without SDL2, the runner
// still works but cannot open a window.
#include "window.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The drivers for the displays named in the environment, or null.
static const char *display_drivers()
{
    const char *x = getenv("DISPLAY"), *wayland = getenv("WAYLAND_DISPLAY");
    bool has_x = x && *x, has_wayland = wayland && *wayland;
    return has_x && has_wayland ? "x11,wayland" : has_x ? "x11" : has_wayland ? "wayland" : nullptr;
}

static bool have_display()
{
    if (display_drivers())
        return true;
    fprintf(stderr, "tavro-emu: no display for --window: DISPLAY and WAYLAND_DISPLAY are unset\n");
    return false;
}

#ifdef EMU_WITH_SDL
#include <SDL.h>

// Arrow keys, by their own bits in key_button::arrow.
enum { ARROW_UP = 1, ARROW_LEFT = 2, ARROW_DOWN = 4, ARROW_RIGHT = 8 };

struct key_button {
    SDL_Keycode key;
    uint32_t raw;        // bit of the raw button word
    unsigned arrow;
};

static const key_button keys[] = {
    {SDLK_UP, 0, ARROW_UP},         {SDLK_LEFT, 0, ARROW_LEFT},     {SDLK_DOWN, 0, ARROW_DOWN},
    {SDLK_RIGHT, 0, ARROW_RIGHT},   {SDLK_m, 0x100, 0},             {SDLK_s, 0x200, 0},
    {SDLK_l, 0x400, 0},             {SDLK_r, 0x800, 0},             {SDLK_a, 0x1000, 0},
    {SDLK_b, 0x2000, 0},            {SDLK_x, 0x4000, 0},            {SDLK_y, 0x8000, 0},
    {SDLK_EQUALS, 0x10000, 0},      {SDLK_PLUS, 0x10000, 0},        {SDLK_KP_PLUS, 0x10000, 0},
    {SDLK_MINUS, 0x20000, 0},       {SDLK_KP_MINUS, 0x20000, 0},    {SDLK_p, 0x40000, 0},
};
static_assert(sizeof keys / sizeof keys[0] <= 32, "one bit of held per key");

static SDL_Window *window;
static int scale, shown_w, shown_h;
static uint32_t held;              // bit i: keys[i] is down
static uint8_t *last;              // the screen shown last, or null: draw again

// The pad reports one of its eight positions, bits 0-7 from up round to
// up-right: two arrows give the diagonal between them, opposite ones cancel.
static uint32_t pad_word(unsigned arrows)
{
    static const uint32_t position[3][3] = {
        {0x08, 0x10, 0x20},   // down-left, down, down-right
        {0x04, 0x00, 0x40},   // left, none, right
        {0x02, 0x01, 0x80},   // up-left, up, up-right
    };
    int v = !!(arrows & ARROW_UP) - !!(arrows & ARROW_DOWN);
    int h = !!(arrows & ARROW_RIGHT) - !!(arrows & ARROW_LEFT);
    return position[v + 1][h + 1];
}

int window_open(int factor, int w, int h)
{
    if (!have_display())
        return -1;
    // The runner passes signals on to the command itself.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Not the off-screen driver that SDL falls back on when no display answers.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, display_drivers());
    if (SDL_Init(SDL_INIT_VIDEO)) {
        fprintf(stderr, "tavro-emu: cannot open a window: %s\n", SDL_GetError());
        return -1;
    }
    scale = factor;
    shown_w = w;
    shown_h = h;
    window = SDL_CreateWindow("tavro-emu  " WINDOW_KEYS_PAD "  " WINDOW_KEYS_REST, SDL_WINDOWPOS_UNDEFINED,
                              SDL_WINDOWPOS_UNDEFINED, w * scale, h * scale, 0);
    if (!window) {
        fprintf(stderr, "tavro-emu: cannot open a window: %s\n", SDL_GetError());
        SDL_Quit();
        return -1;
    }
    return 0;
}

static void show(const uint8_t *rgb, int w, int h)
{
    size_t size = (size_t)w * h * 3;
    if (w != shown_w || h != shown_h) {
        SDL_SetWindowSize(window, w * scale, h * scale);
        shown_w = w;
        shown_h = h;
        free(last);
        last = nullptr;
    }
    if (last && !memcmp(last, rgb, size))
        return;
    SDL_Surface *screen = SDL_CreateRGBSurfaceWithFormatFrom((void *)rgb, w, h, 24, w * 3, SDL_PIXELFORMAT_RGB24);
    SDL_Surface *surface = SDL_GetWindowSurface(window);
    // Scaling within one pixel format is a plain fast copy; across two it
    // is not.
    SDL_Surface *same = screen && surface ? SDL_ConvertSurface(screen, surface->format, 0) : nullptr;
    SDL_Rect all = {0, 0, w * scale, h * scale};
    // A frame that cannot be drawn is skipped; the next sync draws again.
    if (same && !SDL_BlitScaled(same, nullptr, surface, &all) && !SDL_UpdateWindowSurface(window)) {
        if (!last)
            last = (uint8_t *)malloc(size);
        if (last)
            memcpy(last, rgb, size);
    }
    SDL_FreeSurface(same);
    SDL_FreeSurface(screen);
}

static uint32_t poll_keys(bool *closed)
{
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (e.type == SDL_QUIT || (e.type == SDL_KEYDOWN && e.key.keysym.sym == SDLK_ESCAPE))
            *closed = true;
        // Keys released elsewhere never come back as releases.
        if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_FOCUS_LOST)
            held = 0;
        if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) {
            free(last);
            last = nullptr;
        }
        if ((e.type != SDL_KEYDOWN && e.type != SDL_KEYUP) || e.key.repeat)
            continue;
        for (unsigned i = 0; i < sizeof keys / sizeof keys[0]; i++)
            if (keys[i].key == e.key.keysym.sym)
                held = e.type == SDL_KEYDOWN ? held | 1u << i : held & ~(1u << i);
    }
    uint32_t word = 0;
    unsigned arrows = 0;
    for (unsigned i = 0; i < sizeof keys / sizeof keys[0]; i++)
        if (held & 1u << i) {
            word |= keys[i].raw;
            arrows |= keys[i].arrow;
        }
    return word | pad_word(arrows);
}

// Both screens side by side into a picture kept from frame to frame.
static void show_screens(const display_state *d)
{
    static uint8_t *rgb, *part;
    static size_t room;
    int w[2] = {0, 0}, h[2] = {0, 0};
    bool second = (d->shown[LAYER_S0].control | d->shown[LAYER_S1].control) & DC_CONTROL_ENABLE;
    for (int b = 0; b < (second ? 2 : 1); b++)
        display_screen(d, b, &w[b], &h[b]);
    int width = w[0] + w[1], height = h[0] > h[1] ? h[0] : h[1];
    size_t need = (size_t)width * height * 3;
    if (need > room) {
        free(rgb);
        free(part);
        rgb = (uint8_t *)malloc(need);
        part = (uint8_t *)malloc(need);
        room = rgb && part ? need : 0;
    }
    if (!room)
        return;   // no frame this time; the next sync tries again
    memset(rgb, 0, need);
    for (int b = 0, x = 0; b < 2 && w[b]; x += w[b], b++) {
        display_render(d, b, part, w[b], h[b]);
        for (int y = 0; y < h[b]; y++)
            memcpy(rgb + ((size_t)y * width + x) * 3, part + (size_t)y * w[b] * 3, (size_t)w[b] * 3);
    }
    show(rgb, width, height);
}

uint32_t window_frame(const display_state *d, bool *closed)
{
    show_screens(d);
    return poll_keys(closed);
}

void window_close()
{
    if (window)
        SDL_DestroyWindow(window);
    window = nullptr;
    free(last);
    last = nullptr;
    SDL_Quit();
}

#else

int window_open(int, int, int)
{
    if (have_display())
        fprintf(stderr, "tavro-emu: built without SDL2: no --window\n");
    return -1;
}

uint32_t window_frame(const display_state *, bool *)
{
    return 0;
}

void window_close() {}

#endif
