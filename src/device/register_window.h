// The register window: the only path to the display controller's registers.
#pragma once
#include <cstdint>

int map_register_window();      // 0, or -1 with errno set
void release_register_window();

uint32_t reg_read(uint32_t offset);
void reg_write(uint32_t offset, uint32_t value);
