// The background capture service and the single-instance check.
#pragma once
#include <cstdint>

// Signals a running service to come back to its menu; true if one was.
bool check_other_instance();

// Takes a shot each time the combo is held and the buttons changed since
// the last poll, until a stop request; previous_buttons and status live on
// in the caller between runs. With an empty combo the process ends.
void run_capture_service(uint32_t *previous_buttons, int *status);
