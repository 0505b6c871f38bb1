// SPDX-License-Identifier: MIT
#include "ping_host.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "echo.h"
#include "resolver.h"
#include "system_ping.h"
#include "zorvek.h"

namespace zorvek {
namespace {

using Clock = std::chrono::steady_clock;

// The first IPv4 address, then the first IPv6 address (used only if the IPv4
// one cannot be probed at all: no socket for it, or no route to it). IPv4
// goes first whatever the resolver's order, so a dual-stack name is always
// probed the same way.
std::vector<sockaddr_storage> pickCandidates(const std::vector<sockaddr_storage>& addresses) {
    std::vector<sockaddr_storage> picked;
    for (const int family : {AF_INET, AF_INET6}) {
        for (const sockaddr_storage& ss : addresses) {
            if (ss.ss_family == family) {
                picked.push_back(ss);
                break;
            }
        }
    }
    return picked;
}

}  // namespace

std::int32_t pingHost(const char* host, const Budgets& budgets) {
    if (host == nullptr || *host == '\0') return ZORVEK_EMPTY_HOST;
    const Clock::time_point start = Clock::now();

    // Not found, not in time, or too many lookups still running: all 1.
    const auto resolved =
        resolve::resolveHost(std::string_view(host, std::strlen(host)), start + budgets.resolve);
    if (resolved.status != resolve::Status::Ok) return ZORVEK_HOST_NOT_FOUND;

    const auto candidates = pickCandidates(resolved.addresses);
    if (candidates.empty()) return ZORVEK_HOST_NOT_FOUND;

    const Clock::time_point deadline = start + budgets.total;
    echo::Outcome outcome = echo::exchange(candidates, deadline);
    if (outcome == echo::Outcome::NoSocket) {
        // Neither kind of ICMP socket is allowed here: ask the system's ping.
        const std::string program = system_ping::find(system_ping::kLocations);
        if (!program.empty()) outcome = system_ping::probe(program, candidates, deadline);
    }
    switch (outcome) {
        case echo::Outcome::Reply: return ZORVEK_SUCCESS;
        case echo::Outcome::NoSocket: return ZORVEK_NO_SOCKET;
        case echo::Outcome::NoReply: break;
    }
    return ZORVEK_PING_ERROR;
}

}  // namespace zorvek
