// The capture buffers: grown by the grab, filled by the conversion, written
// out by the PNG writer. Never freed while the process runs.
#pragma once
#include <cstdint>

extern uint8_t *raw_buffer;     // copy of the layer's frame memory
extern int32_t raw_capacity;    // bytes allocated for raw_buffer
extern int32_t raw_length;      // bytes the last successful grab copied into it
extern uint8_t **row_table;     // one RGB888 row per line
extern int32_t row_slots;       // entries allocated in row_table
extern int32_t row_width;       // pixels every row was last sized for
extern uint32_t palette[256];   // 0x00RRGGBB, for indexed layers
