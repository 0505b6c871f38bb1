// SPDX-License-Identifier: MIT
// The library's one exported function. Everything behind it is in
// ping_host.cpp; here only nothing may cross the C boundary.
#include "ping_host.h"
#include "zorvek.h"

extern "C" ZORVEK_EXPORT int32_t Pinging(const char* host) {
    try {
        return zorvek::pingHost(host);
    } catch (...) {
        // Out of memory and the like count as a failed ping.
        return ZORVEK_PING_ERROR;
    }
}
