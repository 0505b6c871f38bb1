// SPDX-License-Identifier: MIT
// The last way to probe when this process may open no ICMP socket at all
// (Debian leaves net.ipv4.ping_group_range at "1 0" and only ping(8) carries
// CAP_NET_RAW): the system's own ping program, started directly (no shell)
// with one numeric address that the library produced itself, so no host text
// ever reaches its argument list.
#pragma once

#include <sys/socket.h>

#include <array>
#include <span>
#include <string>
#include <vector>

#include "echo.h"

namespace zorvek::system_ping {

using Clock = echo::Clock;
using echo::Outcome;

// Where the system's ping is looked for, in this order.
inline constexpr std::array<const char*, 2> kLocations = {"/usr/bin/ping", "/bin/ping"};

// The first of `locations` that is a regular file this process may execute
// (checked with the effective ids); empty if there is none.
std::string find(std::span<const char* const> locations);

// Probes the first of `candidates` to which this host has a route (asked of
// the kernel through an unprivileged UDP socket, which sends nothing) by
// running `program -n -c 1 -W SECONDS -4|-6 ADDRESS`: one echo, numeric
// output, waiting for the reply until shortly before `deadline`. The child
// gets a fixed two-variable environment, /dev/null as standard input, output
// and error, default signal handling, and none of this process's other
// descriptors. It runs in a process group of its own: it is killed if it is
// still running at `deadline`, whatever it started in its group is killed
// when it ends or is killed, and it is reaped. No signal handler is
// installed and no other child is reaped.
//
// Reply: exit status 0. NoReply: status 1 (nothing came back, or an ICMP
// error did), killed at `deadline` or by a signal, no route to any candidate,
// or no descriptor or process left to do it with. NoSocket: the program could
// not be started or ended with any other status. Having checked the route
// first, that means the program itself may not probe (ping(8) exits with 2
// when it cannot open its socket) and no way at all is left.
Outcome probe(const std::string& program, const std::vector<sockaddr_storage>& candidates,
              Clock::time_point deadline);

}  // namespace zorvek::system_ping
