// The common end of every run.
#pragma once

// Unmaps the register window and closes the device descriptors, each only
// if it is mapped or open.
void release_devices();

// Replaces the process by the device's launcher; returns only if it cannot.
void start_launcher();
