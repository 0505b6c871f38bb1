// SPDX-License-Identifier: MIT
// The unpredictable numbers every echo exchange carries (identifier, first
// sequence number, payload cookie), drawn without a system call per call.
#pragma once

#include <cstddef>

namespace zorvek::request_numbers {

// Fills `buf` with up to 64 bytes no other process can predict. The first call
// in a process (and the first in a child after fork) takes a key from
// getrandom(); every call then runs a fresh counter value through the ChaCha20
// block function under that key, so no value repeats within the process and
// none can be derived from the values already seen on the wire.
void fill(void* buf, std::size_t len);

}  // namespace zorvek::request_numbers
