// SPDX-License-Identifier: MIT
// A library that loads but does not export Pinging.
extern "C" __attribute__((visibility("default"))) int NotPinging() { return 0; }
