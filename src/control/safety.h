#pragma once

// Ends the process with status 1 unless it runs on the device itself or
// on its emulated stand-in: anywhere else /dev/mem is the host's memory.
void refuse_outside_device();
