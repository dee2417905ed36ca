// Pictures for the emulated screen: the built-in test pattern, PNG files in
// and out. Pictures are RGB888, rows top to bottom, malloc'ed.
#pragma once
#include <stdint.h>

void make_pattern(uint8_t *rgb, int w, int h, int variant);
uint8_t *load_png(const char *path, int *w, int *h);
int save_png(const char *path, const uint8_t *rgb, int w, int h);
void tile_picture(const uint8_t *src, int sw, int sh, uint8_t *dst, int w, int h);
