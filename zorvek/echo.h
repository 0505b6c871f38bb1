// SPDX-License-Identifier: MIT
// One ICMP echo exchange with a resolved address, bounded by a deadline.
#pragma once

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <vector>

namespace zorvek::echo {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

// Outcome of an exchange; mapped to the library's result codes by the caller.
enum class Outcome {
    Reply,     // a matching echo reply arrived
    NoReply,   // deadline passed, unreachable, a send/receive error, or no descriptor left
    NoSocket,  // ICMP sockets (datagram and raw) are refused for every candidate's family
};

// A wait for poll(): never negative, and a wait too long for poll's int (a
// deadline far away) is cut to the longest poll can take, instead of wrapping
// round to a negative (endless) or tiny (busy) one.
inline int pollTimeout(std::chrono::milliseconds wait) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(
        wait.count(), 0, std::numeric_limits<int>::max()));
}

// A new request is sent when the previous one has had no answer for this long.
inline constexpr std::chrono::milliseconds kRetryInterval{1000};
// At most this many requests per exchange.
inline constexpr int kMaxRequests = 2;

// Probes the addresses of `candidates` in order, each over an unprivileged
// datagram socket if allowed (net.ipv4.ping_group_range), otherwise a raw
// socket (root / CAP_NET_RAW). A candidate is passed over when its family's
// sockets are refused or its first request cannot be sent (no route to it);
// the next one then gets whatever time is left. Returns as soon as our reply
// or an ICMP error about our request arrives, or at `deadline`. Requests go
// out `retryInterval` apart, at most kMaxRequests of them; tests shorten it.
Outcome exchange(const std::vector<sockaddr_storage>& candidates, Clock::time_point deadline,
                 std::chrono::milliseconds retryInterval = kRetryInterval);

}  // namespace zorvek::echo
