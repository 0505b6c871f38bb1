// SPDX-License-Identifier: MIT
// Host name / address resolution with a hard deadline.
#pragma once

#include <sys/socket.h>

#include <chrono>
#include <string_view>
#include <vector>

namespace zorvek::resolve {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC

enum class Status {
    Ok,
    InvalidName,  // neither an address literal nor a syntactically valid host name
    NotFound,     // the resolver answered: no such name / no address
    TimedOut,     // no answer before the deadline (the lookup goes on in the background)
    Busy,         // kMaxLookupsInFlight lookups are still running; this one was not started
};

// At most this many name lookups run at once, counting those given up on that
// are still waiting for a name server. A stalled server with long resolver
// time-outs would otherwise leave one more thread and its sockets behind on
// every probe.
inline constexpr int kMaxLookupsInFlight = 4;

struct Result {
    Status status = Status::NotFound;
    // Addresses in resolver order, ports 0.
    std::vector<sockaddr_storage> addresses;
};

// True for a host name made of 1-63 byte labels of ASCII letters, digits, '-'
// and '_', separated by dots, at most 253 bytes (a final dot is allowed).
// Anything else, including non-ASCII code page 932 bytes, cannot be looked up.
bool isValidHostName(std::string_view name);

// Resolves `host`. Address literals (IPv4, IPv6, IPv6 with %scope) are parsed
// without any resolver. Names go to getaddrinfo() on a helper thread, kept
// for the next name until it has been idle for a minute; if it has not
// answered by `deadline` the call returns TimedOut and the helper finishes
// later on its own. With kMaxLookupsInFlight helpers still
// running, a name returns Busy at once. No reverse lookup is ever made, and
// AI_ADDRCONFIG is not used so loopback names work without other interfaces.
Result resolveHost(std::string_view host, Clock::time_point deadline);

}  // namespace zorvek::resolve
