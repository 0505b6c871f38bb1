// SPDX-License-Identifier: MIT
// One whole probe of a host as Pinging() makes it: validate, resolve, echo
// (over an ICMP socket, or through the system's ping when no socket is
// allowed), and map the outcome to a result code. Apart from the C export so
// that tests can shorten its time budgets.
#pragma once

#include <chrono>
#include <cstdint>

namespace zorvek {

struct Budgets {
    // Name resolution may use at most this much of the call...
    std::chrono::milliseconds resolve{1000};
    // ...and the whole call, resolution and echo together, this much. With
    // requests at 0 s and 1 s after resolution, the second request always
    // has at least 0.5 s to be answered.
    std::chrono::milliseconds total{2500};
};

// A code of zorvek.h's result codes, within budgets.total. May throw (out of
// memory); Pinging() catches everything.
std::int32_t pingHost(const char* host, const Budgets& budgets = {});

}  // namespace zorvek
