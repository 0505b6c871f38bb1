// SPDX-License-Identifier: MIT
// One ICMP echo exchange with a resolved address, bounded by a deadline.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace zorvek::echo {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

// Outcome of an exchange; mapped to the library's result codes by the caller.
enum class Outcome {
    Reply,     // a matching echo reply arrived
    NoReply,   // deadline passed, unreachable, or a send/receive error
    NoSocket,  // no ICMP socket (datagram or raw) could be opened
};

// A new request is sent when the previous one has had no answer for this long.
inline constexpr std::chrono::milliseconds kRetryInterval{1000};
// At most this many requests per exchange.
inline constexpr int kMaxRequests = 2;

// Probes the first address of `candidates` for which an ICMP socket can be
// opened: an unprivileged datagram socket if allowed (net.ipv4.ping_group_range),
// otherwise a raw socket (root / CAP_NET_RAW). Returns as soon as our reply or
// an ICMP error about our request arrives, or at `deadline`.
Outcome exchange(const std::vector<sockaddr_storage>& candidates, Clock::time_point deadline);

}  // namespace zorvek::echo
