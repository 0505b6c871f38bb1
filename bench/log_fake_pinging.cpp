// SPDX-License-Identifier: MIT
// A companion library for the log benchmark that answers at once: every call
// reports success, so a probe-and-report costs only the program's own work.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t Pinging(const char*) { return 0; }
